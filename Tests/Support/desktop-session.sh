#!/usr/bin/env bash
# Runs a command inside a private X11 desktop made for it alone: Xvfb, the openbox window
# manager (it keeps _NET_ACTIVE_WINDOW), a D-Bus session bus and the AT-SPI bus. Everything is
# stopped afterwards. When a part is missing, the command still runs, with
# PARLWICK_DESKTOP_MISSING saying what is missing, so its tests can skip with that reason.
set -u

# Listing a test program's cases needs no desktop.
for arg in "$@"; do
  if [ "$arg" = "--gtest_list_tests" ]; then exec "$@"; fi
done

missing=""
for tool in Xvfb xdpyinfo xprop openbox dbus-run-session dbus-send xdotool xclip setxkbmap; do
  command -v "$tool" >/dev/null 2>&1 || missing="$missing $tool"
done
[ -x /usr/libexec/at-spi-bus-launcher ] || missing="$missing at-spi-bus-launcher"
if [ -n "$missing" ]; then
  PARLWICK_DESKTOP_MISSING="not installed:$missing" exec "$@"
fi

runtime=$(mktemp -d /tmp/parlwick-desktop-XXXXXX)
chmod 700 "$runtime"
export XDG_RUNTIME_DIR="$runtime"
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY
# A home of its own: openbox, GTK and Qt read their settings from the home folders and write
# logs and caches there, so neither the caller's settings nor an earlier run's files apply.
mkdir -m 700 "$runtime/home"
export HOME="$runtime/home"
unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME XDG_STATE_HOME

# A display number of our own, away from the low numbers other programs and servers
# started with -displayfd take first. Xvfb's lock file settles a race between two servers;
# the loser stops, and another try takes another number.
start_xvfb() {
  local number=$((RANDOM % 700 + 200))
  [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ] && return 1
  # -noreset: by default the server starts over whenever its last client leaves (as the probe
  # below does), and a program connecting at that moment is refused.
  Xvfb ":$number" -screen 0 1366x768x24 -nolisten tcp -noreset >"$runtime/xvfb.log" 2>&1 &
  xvfb=$!
  for _ in $(seq 100); do
    kill -0 "$xvfb" 2>/dev/null || break
    if xdpyinfo -display ":$number" >/dev/null 2>&1; then
      display=":$number"
      return 0
    fi
    sleep 0.05
  done
  kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null
  return 1
}
display=""
for _ in $(seq 10); do
  start_xvfb && break
done
if [ -z "$display" ]; then
  reason="Xvfb did not start: $(tail -n 3 "$runtime/xvfb.log" 2>/dev/null | tr '\n' ' ')"
  rm -rf "$runtime"
  PARLWICK_DESKTOP_MISSING="$reason" exec "$@"
fi
export DISPLAY="$display"

# The command writes to descriptors 3 and 4. Whatever the session bus starts inherits only
# the log below, so a service that outlives the session cannot keep the caller's output open.
exec 3>&1 4>&2
dbus-run-session -- "$(dirname "$0")/desktop-inside.sh" "$@" >"$runtime/session.log" 2>&1
status=$?
exec 3>&- 4>&-

kill "$xvfb" 2>/dev/null
wait "$xvfb" 2>/dev/null
rm -rf "$runtime"
exit "$status"
