#!/usr/bin/env bash
# The inside of sway-session.sh, on the new session bus: the accessibility bus and sway, then
# the command, writing to descriptors 3 and 4.
set -u

sway_runtime="$PARLWICK_SWAY_RUNTIME"
# Descriptors 3 and 4 stay with the command alone: a part left running must not hold the
# caller's output open.
/usr/libexec/at-spi-bus-launcher --launch-immediately >"$XDG_RUNTIME_DIR/atspi.log" 2>&1 3>&- 4>&- &
launcher=$!

# Commands that bindings run through $as_caller (the wrapper PARLWICK_SWAY_EXEC names) run as
# the caller in this environment, not as sway's user in sway's: they must reach what the test
# started. Only sway's user may write to the pipe; a line is a command, its words quoted.
pipe="$sway_runtime/exec.pipe"
mkfifo -m 600 "$pipe"
[ -n "${PARLWICK_SWAY_AS:-}" ] && chown "$PARLWICK_SWAY_AS:$PARLWICK_SWAY_AS" "$pipe"
(
  # Open for writing too, so the pipe never reads as ended between two commands.
  exec 5<>"$pipe" 3>&- 4>&-
  while IFS= read -r line <&5; do
    bash -c "$line" </dev/null >>"$XDG_RUNTIME_DIR/exec.log" 2>&1 &
  done
) &
relay=$!
export PARLWICK_SWAY_EXEC="$sway_runtime/as-caller"
cat >"$PARLWICK_SWAY_EXEC" <<EOF
#!/bin/bash
printf -v line '%q ' "\$@"
printf '%s\n' "\$line" >"$pipe"
EOF
chmod 755 "$PARLWICK_SWAY_EXEC"

# sway sees only what it needs; a missing seat device or GPU is what the headless backend and
# the software renderer are for.
sway_env=(env -i PATH="$PATH" XDG_RUNTIME_DIR="$sway_runtime" HOME="$sway_runtime/home"
  WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman
  DBUS_SESSION_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS" XDG_SESSION_TYPE=wayland)
if [ -n "${PARLWICK_SWAY_AS:-}" ]; then
  setpriv --reuid="$PARLWICK_SWAY_AS" --regid="$PARLWICK_SWAY_AS" --clear-groups \
    "${sway_env[@]}" sway -c "$PARLWICK_SWAY_CONFIG_FILE" >"$XDG_RUNTIME_DIR/sway.log" 2>&1 3>&- 4>&- &
else
  "${sway_env[@]}" sway -c "$PARLWICK_SWAY_CONFIG_FILE" >"$XDG_RUNTIME_DIR/sway.log" 2>&1 3>&- 4>&- &
fi
sway=$!

keyboard=""
stop() {
  kill $keyboard "$relay" "$sway" "$launcher" 2>/dev/null
  wait $keyboard "$relay" "$sway" "$launcher" 2>/dev/null
}
# Stopped too when this script is: left running, they would outlive the session.
trap stop EXIT
trap 'exit 143' TERM INT HUP
give_up() {
  stop
  PARLWICK_WAYLAND_MISSING="$1" exec "${@:2}" >&3 2>&4 3>&- 4>&-
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
[ -n "$ready" ] ||
  give_up "the AT-SPI bus did not start: $(tail -n 3 "$XDG_RUNTIME_DIR/atspi.log" | tr '\n' ' ')" "$@"

# sway is up once its IPC socket answers; by then its Wayland socket is there too.
ipc=""
display=""
for _ in $(seq 200); do
  kill -0 "$sway" 2>/dev/null || break
  for candidate in "$sway_runtime"/sway-ipc.*.sock; do
    [ -S "$candidate" ] && swaymsg -s "$candidate" -t get_version >/dev/null 2>&1 && ipc="$candidate"
  done
  for candidate in "$sway_runtime"/wayland-*; do
    case "$candidate" in *.lock) continue ;; esac
    [ -S "$candidate" ] && display=$(basename "$candidate")
  done
  [ -n "$ipc" ] && [ -n "$display" ] && break
  sleep 0.05
done
if [ -z "$ipc" ] || [ -z "$display" ]; then
  give_up "sway did not start: $(grep -i error "$XDG_RUNTIME_DIR/sway.log" | tail -n 3 | tr '\n' ' ')" "$@"
fi
# Run as root, the command's runtime folder is not sway's: a link puts the socket where Wayland
# clients look for it.
if [ "$sway_runtime" != "$XDG_RUNTIME_DIR" ]; then
  ln -s "$sway_runtime/$display" "$XDG_RUNTIME_DIR/$display"
fi
export WAYLAND_DISPLAY="$display" SWAYSOCK="$ipc" GDK_BACKEND=wayland

# The user's own keyboard, idle for the session's length. Without one the seat has no keyboard:
# windows get no keyboard focus, and each program that types brings the first keyboard along,
# which a window takes up only after the first key has gone by.
wtype -s 3600000 >"$XDG_RUNTIME_DIR/keyboard.log" 2>&1 3>&- 4>&- &
keyboard=$!
for _ in $(seq 100); do
  swaymsg -t get_seats 2>/dev/null | grep -q '"keyboard"' && break
  sleep 0.05
done
unset PARLWICK_WAYLAND_MISSING

# Standard output and error of sway-session.sh's caller.
"$@" >&3 2>&4 3>&- 4>&-
exit $?
