#!/usr/bin/env bash
# Sets up Parlwick on a Debian 12 machine: packages, then a Release build.
# Non-interactive and idempotent; run as root or through sudo.
#
#   ./scripts/setup.sh            packages for building and running, Release build
#   ./scripts/setup.sh --tests    also the packages the integration tests use
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
with_tests=0
for arg in "$@"; do
  case "$arg" in
    --tests) with_tests=1 ;;
    *) echo "setup.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done

say() { printf '\n==> %s\n' "$*"; }

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

build_packages=(
  build-essential cmake ninja-build pkg-config clang-format
  libicu-dev nlohmann-json3-dev libsimdjson-dev
  qt6-base-dev qt6-qpa-plugins libcurl4-openssl-dev libpulse-dev libssl-dev
  libx11-dev libxi-dev libxtst-dev libatspi2.0-dev
  libgtest-dev libgmock-dev libbenchmark-dev
)

test_packages=(
  xvfb openbox wmctrl xdotool x11-utils xinput xclip xterm imagemagick
  dbus-x11 at-spi2-core python3-gi gir1.2-gtk-3.0 python3-pyatspi x11-xkb-utils stterm
  pulseaudio pulseaudio-utils espeak-ng sox
)

missing_packages() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

install_packages() {
  local wanted=("${build_packages[@]}")
  [ "$with_tests" -eq 1 ] && wanted+=("${test_packages[@]}")
  local missing
  missing=$(missing_packages "${wanted[@]}")
  if [ -z "$missing" ]; then
    say "packages: all present"
    return
  fi
  say "installing packages:" $missing
  as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
  # shellcheck disable=SC2086
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing
}

build_release() {
  say "building Release into build/release"
  cmake --preset release -S "$repo" >/dev/null
  cmake --build "$repo/build/release" -j "$(nproc)"
}

install_packages
build_release
say "done: run ./build/release/parlwick from this folder"
