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

# Xvfb picks a free display number and writes it to descriptor 3. Two servers starting at the
# same moment can pick the same one; the loser stops, and the next try gets another number.
start_xvfb() {
  rm -f "$runtime/display"
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$runtime/display" >"$runtime/xvfb.log" 2>&1 &
  xvfb=$!
  for _ in $(seq 100); do
    [ -s "$runtime/display" ] && break
    sleep 0.05
  done
  sleep 0.2
  [ -s "$runtime/display" ] && kill -0 "$xvfb" 2>/dev/null &&
    xdpyinfo -display ":$(head -n 1 "$runtime/display")" >/dev/null 2>&1 && return 0
  kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null
  return 1
}
started=""
for _ in 1 2 3 4 5; do
  if start_xvfb; then started=1; break; fi
done
if [ -z "$started" ]; then
  reason="Xvfb did not start: $(tail -n 3 "$runtime/xvfb.log" | tr '\n' ' ')"
  rm -rf "$runtime"
  PARLWICK_DESKTOP_MISSING="$reason" exec "$@"
fi
export DISPLAY=":$(head -n 1 "$runtime/display")"

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
