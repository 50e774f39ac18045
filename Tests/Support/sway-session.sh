#!/usr/bin/env bash
# Runs a command inside a private headless Wayland desktop made for it alone: sway with no
# output device and no Xwayland, a D-Bus session bus and the AT-SPI bus. Everything is stopped
# and removed afterwards. When a part is missing or does not start, the command still runs, with
# PARLWICK_WAYLAND_MISSING saying why, so its tests can skip with that reason.
#
# Extra sway configuration lines, for example "bindsym Ctrl+Alt+r exec $as_caller COMMAND": the
# file named by PARLWICK_SWAY_CONFIG and the lines in PARLWICK_SWAY_LINES. A running test adds
# more with "swaymsg bindsym ... exec $PARLWICK_SWAY_EXEC COMMAND". COMMAND then runs as the
# caller with the session's environment (its output in $XDG_RUNTIME_DIR/exec.log); a plain
# "exec COMMAND" runs in sway's. Commands sent through swaymsg lose their quotes: put one with
# spaces in its words into a script (WaylandSupport's bindCommand does).
#
# sway refuses to run as root. Run as root, it runs as the system user parlwick-sway (made once)
# in a runtime folder of that user's own; the command still runs as root, with a runtime folder
# of its own that links to sway's socket.
set -u

# Listing a test program's cases needs no desktop.
for arg in "$@"; do
  if [ "$arg" = "--gtest_list_tests" ]; then exec "$@"; fi
done

sway_user=parlwick-sway

missing=""
for tool in sway swaymsg wtype wl-copy wl-paste dbus-run-session dbus-send; do
  command -v "$tool" >/dev/null 2>&1 || missing="$missing $tool"
done
[ -x /usr/libexec/at-spi-bus-launcher ] || missing="$missing at-spi-bus-launcher"
if [ "$(id -u)" -eq 0 ]; then
  for tool in useradd setpriv; do
    command -v "$tool" >/dev/null 2>&1 || missing="$missing $tool"
  done
fi
if [ -n "$missing" ]; then
  PARLWICK_WAYLAND_MISSING="not installed:$missing" exec "$@"
fi

# The user sway runs as when we are root. Two sessions starting at once may both try to make
# it; whichever loses finds it made, or retries while the other holds the password file lock.
ensure_sway_user() {
  for _ in $(seq 20); do
    getent passwd "$sway_user" >/dev/null && return 0
    useradd --system --user-group --no-create-home --home-dir /nonexistent \
      --shell /usr/sbin/nologin "$sway_user" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  getent passwd "$sway_user" >/dev/null
}

base=$(mktemp -d /tmp/parlwick-wayland-XXXXXX)
# Services the session bus started may still be going: the document portal that GTK 4 brings
# up keeps a FUSE mount in the runtime folder until it exits.
cleanup() {
  for _ in $(seq 30); do
    awk -v base="$base/" 'index($2, base) == 1 { print $2 }' /proc/mounts 2>/dev/null |
      while read -r mount; do
        fusermount3 -u -z "$mount" 2>/dev/null || umount -l "$mount" 2>/dev/null
      done
    rm -rf "$base" 2>/dev/null
    [ -e "$base" ] || return 0
    sleep 0.1
  done
}
if [ "$(id -u)" -eq 0 ]; then
  if ! ensure_sway_user; then
    cleanup
    PARLWICK_WAYLAND_MISSING="could not make the user $sway_user that sway runs as" exec "$@"
  fi
  # sway's user passes through our folder to its own, and no further.
  chmod 711 "$base"
  sway_runtime="$base/sway"
  mkdir -m 700 "$sway_runtime" "$sway_runtime/home"
  chown -R "$sway_user:$sway_user" "$sway_runtime"
  export PARLWICK_SWAY_AS="$sway_user"
else
  chmod 700 "$base"
  sway_runtime="$base/run"
  unset PARLWICK_SWAY_AS
fi
mkdir -p -m 700 "$base/run" "$base/home"
export PARLWICK_SWAY_RUNTIME="$sway_runtime"

# A home of its own: GTK and Qt read their settings from the home folders and write logs and
# caches there, so neither the caller's settings nor an earlier run's files apply.
export XDG_RUNTIME_DIR="$base/run"
export HOME="$base/home"
unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME XDG_STATE_HOME
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY SWAYSOCK DISPLAY XAUTHORITY
export XDG_SESSION_TYPE=wayland

config="$sway_runtime/config"
{
  # Extra lines bind keys to "exec $as_caller COMMAND" for COMMAND to run as the caller.
  echo "set \$as_caller $sway_runtime/as-caller"
  echo "output HEADLESS-1 resolution 1280x800"
  # No X server: the tests are to prove the Wayland paths.
  echo "xwayland disable"
  echo "focus_follows_mouse no"
  if [ -n "${PARLWICK_SWAY_CONFIG:-}" ] && [ -r "$PARLWICK_SWAY_CONFIG" ]; then
    cat "$PARLWICK_SWAY_CONFIG"
    echo
  fi
  if [ -n "${PARLWICK_SWAY_LINES:-}" ]; then
    printf '%s\n' "$PARLWICK_SWAY_LINES"
  fi
} >"$config"
[ -n "${PARLWICK_SWAY_AS:-}" ] && chown "$sway_user:$sway_user" "$config"
export PARLWICK_SWAY_CONFIG_FILE="$config"

# The command writes to descriptors 3 and 4. Whatever the session bus starts inherits only
# the log below, so a service that outlives the session cannot keep the caller's output open.
exec 3>&1 4>&2
dbus-run-session -- "$(dirname "$0")/sway-inside.sh" "$@" >"$base/session.log" 2>&1
status=$?
exec 3>&- 4>&-

cleanup
exit "$status"
