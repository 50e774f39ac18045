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
for tool in Xvfb openbox dbus-run-session dbus-send xdotool xclip setxkbmap; do
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

# Xvfb picks a free display number and writes it to descriptor 3.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$runtime/display" >"$runtime/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 100); do
  [ -s "$runtime/display" ] && break
  sleep 0.05
done
if [ ! -s "$runtime/display" ]; then
  kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null
  reason="Xvfb did not start: $(tail -n 3 "$runtime/xvfb.log" | tr '\n' ' ')"
  rm -rf "$runtime"
  PARLWICK_DESKTOP_MISSING="$reason" exec "$@"
fi
export DISPLAY=":$(head -n 1 "$runtime/display")"

dbus-run-session -- "$(dirname "$0")/desktop-inside.sh" "$@"
status=$?

kill "$xvfb" 2>/dev/null
wait "$xvfb" 2>/dev/null
rm -rf "$runtime"
exit "$status"
