#!/usr/bin/env bash
# Runs a command on a private D-Bus session bus made for it alone, with a runtime folder and a
# home of its own, for tests that start their own services on the bus (a desktop portal and
# its backend). When dbus-run-session is missing, the command still runs, with
# PARLWICK_DESKTOP_MISSING saying so, so its tests can skip with that reason.
set -u

# Listing a test program's cases needs no bus.
for arg in "$@"; do
  if [ "$arg" = "--gtest_list_tests" ]; then exec "$@"; fi
done

if ! command -v dbus-run-session >/dev/null 2>&1; then
  PARLWICK_DESKTOP_MISSING="not installed: dbus-run-session" exec "$@"
fi

runtime=$(mktemp -d /tmp/parlwick-bus-XXXXXX)
chmod 700 "$runtime"
mkdir -m 700 "$runtime/home"
export XDG_RUNTIME_DIR="$runtime" HOME="$runtime/home"
unset DBUS_SESSION_BUS_ADDRESS DISPLAY WAYLAND_DISPLAY XDG_CURRENT_DESKTOP XDG_DESKTOP_PORTAL_DIR
unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME XDG_STATE_HOME

# The command writes to descriptors 3 and 4; what the bus starts on demand inherits only the
# log, so a service that outlives the session cannot keep the caller's output open.
exec 3>&1 4>&2
dbus-run-session -- bash -c 'exec "$@" >&3 2>&4 3>&- 4>&-' bash "$@" >"$runtime/session.log" 2>&1
status=$?
exec 3>&- 4>&-
rm -rf "$runtime"
exit "$status"
