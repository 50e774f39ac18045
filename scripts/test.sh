#!/usr/bin/env bash
# Sets everything up (packages, Release build), then builds the test configuration with
# AddressSanitizer and UndefinedBehaviorSanitizer and runs the whole suite.
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"

./scripts/setup.sh --tests

echo
echo "==> building the sanitizer test build into build/asan"
cmake --preset asan >/dev/null
cmake --build build/asan -j "$(nproc)"

echo
echo "==> running the tests"
ctest --preset asan
