#!/usr/bin/env bash
# Sets everything up, then makes the Debian package from the Release build:
# build/release/parlwick_<version>_<arch>.deb, installable with `apt-get install ./<file>`.
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"
./scripts/setup.sh
cmake --build build/release -j "$(nproc)" --target parlwick-apps
cd build/release
cpack -G DEB
ls -1 "$repo"/build/release/parlwick_*.deb
