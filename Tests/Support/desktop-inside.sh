#!/usr/bin/env bash
# The inside of desktop-session.sh, on the new session bus: the window manager and the
# accessibility bus, then the command, writing to descriptors 3 and 4.
set -u

openbox --sm-disable >"$XDG_RUNTIME_DIR/openbox.log" 2>&1 &
openbox=$!
/usr/libexec/at-spi-bus-launcher --launch-immediately >"$XDG_RUNTIME_DIR/atspi.log" 2>&1 &
launcher=$!

stop() {
  kill "$openbox" "$launcher" 2>/dev/null
  wait "$openbox" "$launcher" 2>/dev/null
}

# NameHasOwner, not GetAddress: asking for the address while the launcher starts would
# activate a second one.
ready=""
for _ in $(seq 200); do
  if dbus-send --session --print-reply=literal --dest=org.freedesktop.DBus / \
      org.freedesktop.DBus.NameHasOwner string:org.a11y.Bus 2>/dev/null | grep -q true; then
    ready=1
    break
  fi
  sleep 0.05
done
if [ -z "$ready" ]; then
  stop
  PARLWICK_DESKTOP_MISSING="the AT-SPI bus did not start: $(tail -n 3 "$XDG_RUNTIME_DIR/atspi.log" | tr '\n' ' ')" exec "$@" >&3 2>&4 3>&- 4>&-
fi
# The window manager is up once it names itself on the root window.
wm_ready() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
for _ in $(seq 200); do
  wm_ready && break
  sleep 0.05
done
if ! wm_ready; then
  stop
  PARLWICK_DESKTOP_MISSING="openbox did not start: $(tail -n 3 "$XDG_RUNTIME_DIR/openbox.log" | tr '\n' ' ')" exec "$@" >&3 2>&4 3>&- 4>&-
fi

# Standard output and error of desktop-session.sh's caller.
"$@" >&3 2>&4 3>&- 4>&-
status=$?
stop
exit "$status"
