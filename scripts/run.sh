#!/usr/bin/env bash
# Sets everything up, installs the app for this user under ~/.local and starts it: the tray
# icon and, on a first launch, the setup window, which downloads the speech models.
# Arguments are passed on: ./scripts/run.sh --key right-control
# Terminal mode, for development: ./scripts/setup.sh, then ./build/release/parlwick.
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$repo/scripts/setup.sh" --app
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "Parlwick is installed. Start it from your desktop session: $HOME/.local/bin/parlwick" >&2
  exit 1
fi
exec "$HOME/.local/bin/parlwick" "$@"
