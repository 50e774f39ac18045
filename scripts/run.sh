#!/usr/bin/env bash
# Sets everything up, then starts dictating from this terminal with the Release build.
# Arguments are passed on: ./scripts/run.sh --key right-control
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"
./scripts/setup.sh
exec ./build/release/parlwick "$@"
