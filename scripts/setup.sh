#!/usr/bin/env bash
# Sets up Parlwick on a Debian 12 machine: packages, then a Release build.
# Non-interactive and idempotent; run as root or through sudo.
#
#   ./scripts/setup.sh            packages for building and running, Release build, and the
#                                 models in ./models for terminal mode
#   ./scripts/setup.sh --tests    also the packages the integration tests use
#   ./scripts/setup.sh --app      installs the app for this user under ~/.local instead of
#                                 fetching models: the app downloads its own at first launch
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
with_tests=0
with_app=0
for arg in "$@"; do
  case "$arg" in
    --tests) with_tests=1 ;;
    --app) with_app=1 ;;
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
  qt6-base-dev qt6-qpa-plugins libqt6svg6 libcurl4-openssl-dev libpulse-dev libssl-dev curl openssl
  libx11-dev libxi-dev libxtst-dev libatspi2.0-dev libevdev-dev libcanberra-dev sound-theme-freedesktop
  libwayland-dev libwayland-bin libxkbcommon-dev qt6-wayland
  libgtest-dev libgmock-dev libbenchmark-dev qt6-declarative-dev
)

# The desktop, audio and speech tools the suites drive (sway and its tools for the Wayland
# desktop, which runs sway as a user of its own under root: passwd's useradd, util-linux's
# setpriv); nginx for the download tests; the
# validators of the installed desktop entry and AppStream metadata; node and
# npm for the MCP test client; the sanitizer runtimes of the asan and tsan test builds
# (clang-format above serves the formatting check).
test_packages=(
  xvfb openbox wmctrl xdotool x11-utils xinput xclip xterm imagemagick trayer
  dbus-x11 dbus-daemon dbus-bin at-spi2-core python3-gi python3-dbus gir1.2-gtk-3.0 python3-pyatspi x11-xkb-utils stterm
  sway wtype wl-clipboard grim gir1.2-gtk-4.0 util-linux passwd xdg-desktop-portal
  pulseaudio pulseaudio-utils espeak-ng sox python3
  nginx-light
  desktop-file-utils appstream
  nodejs npm
  libasan8 libubsan1 libtsan2
  locales
)

# What building the speech tools needs beyond build_packages: npm fetches their source; the
# Vulkan backend needs the loader's headers, the shader compiler and SPIR-V's headers.
whisper_build_packages=(nodejs npm libvulkan-dev glslc spirv-headers)
# What the speech tools need to run: the Vulkan loader, and Mesa's drivers (whose software
# device stands in for a graphics card in the tests).
whisper_run_packages=(libvulkan1 mesa-vulkan-drivers)

# The speech tools: whisper.cpp 1.9.1 as the npm package nodejs-whisper@0.3.1 carries it, with
# our patch. ggml's processor backend is built for every x86-64 level and the Vulkan backend
# beside it, as libraries the server loads at run time, the best its computer runs.
whisper_package="nodejs-whisper@0.3.1"
whisper_tools=(whisper-server whisper-vad-speech-segments)
whisper_prefix="${WHISPER_PREFIX:-/usr/local}"
# The tools, whisper-quantize (for the benchmarks' models) and their libraries, side by side:
# they find each other through $ORIGIN.
whisper_home="$whisper_prefix/lib/parlwick-whisper"
whisper_patch="$repo/scripts/whisper/parlwick.patch"
whisper_options=(-DCMAKE_BUILD_TYPE=Release -DWHISPER_BUILD_TESTS=OFF -DGGML_NATIVE=OFF
  -DBUILD_SHARED_LIBS=ON -DGGML_BACKEND_DL=ON -DGGML_CPU_ALL_VARIANTS=ON -DGGML_VULKAN=ON
  '-DCMAKE_INSTALL_RPATH=$ORIGIN' -DCMAKE_BUILD_WITH_INSTALL_RPATH=ON)
# What an installed build must match to be kept: the source, the patch and the options.
whisper_stamp() {
  printf '%s\n%s\n%s\n' "$whisper_package" "$(sha256sum <"$whisper_patch" | cut -d' ' -f1)" \
    "${whisper_options[*]}"
}

# The installed packages and the names they provide: a Node.js package from another archive
# provides npm, and installing Debian's npm beside it would replace it.
installed_names() {
  dpkg-query -W -f='${db:Status-Abbrev}|${Package}|${Provides}\n' 2>/dev/null |
    awk -F'|' '$1 ~ /^ii/ {
      print $2
      n = split($3, provided, ",")
      for (i = 1; i <= n; i++) {
        name = provided[i]
        sub(/^ +/, "", name)
        sub(/ .*/, "", name)
        if (name != "") print name
      }
    }'
}

missing_packages() {
  local have p
  have=$(installed_names)
  for p in "$@"; do
    grep -qxF "$p" <<<"$have" || echo "$p"
  done
}

# Our build of the tools, current with this checkout.
whisper_tools_present() {
  local tool
  [ -f "$whisper_home/BUILD" ] && [ "$(cat "$whisper_home/BUILD")" = "$(whisper_stamp)" ] || return 1
  for tool in "${whisper_tools[@]}" whisper-quantize; do
    [ -x "$whisper_home/$tool" ] || return 1
  done
}

# The one package step: everything any later step uses, with apt-get update first whenever
# something is missing.
install_packages() {
  local wanted=("${build_packages[@]}")
  [ "$with_tests" -eq 1 ] && wanted+=("${test_packages[@]}")
  wanted+=("${whisper_run_packages[@]}")
  whisper_tools_present || wanted+=("${whisper_build_packages[@]}")
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

# Builds whisper-server, whisper-vad-speech-segments and whisper-quantize from the whisper.cpp
# source inside the npm package with our patch, unless this very build is installed already.
# The tools and their libraries go into one folder; the two tools are linked into bin.
install_whisper_tools() {
  local tool
  if whisper_tools_present; then
    say "speech tools: already installed"
    return
  fi

  say "speech tools: building whisper.cpp from $whisper_package (about 10 to 15 minutes on two cores)"
  local work="$repo/build/whisper"
  rm -rf "$work"
  mkdir -p "$work"
  local expected tarball actual
  expected=$(cd "$work" && npm view "$whisper_package" dist.integrity)
  case "$expected" in
    sha512-*) ;;
    *) echo "setup.sh: the registry gave no sha512 integrity for $whisper_package" >&2; exit 1 ;;
  esac
  tarball=$(cd "$work" && npm pack --silent "$whisper_package" | tail -n 1)
  actual="sha512-$(openssl dgst -sha512 -binary "$work/$tarball" | base64 -w0)"
  if [ "$actual" != "$expected" ]; then
    echo "setup.sh: $tarball does not match the registry's integrity hash" >&2
    exit 1
  fi
  tar -xzf "$work/$tarball" -C "$work" package/cpp/whisper.cpp
  local source="$work/package/cpp/whisper.cpp"
  patch -d "$source" -p1 --quiet --forward <"$whisper_patch"
  cmake -S "$source" -B "$work/build" -G Ninja "${whisper_options[@]}" >/dev/null
  cmake --build "$work/build" -j "$(nproc)" --target "${whisper_tools[@]}" whisper-quantize
  as_root rm -rf "$whisper_home"
  as_root install -d -m 0755 "$whisper_home" "$whisper_prefix/bin"
  for tool in "${whisper_tools[@]}" whisper-quantize; do
    as_root install -m 0755 "$work/build/bin/$tool" "$whisper_home/$tool"
  done
  # The libraries with their version links, as the build made them.
  as_root cp -P "$work"/build/bin/lib*.so* "$whisper_home/"
  for tool in "${whisper_tools[@]}"; do
    as_root ln -sfn "$whisper_home/$tool" "$whisper_prefix/bin/$tool"
  done
  whisper_stamp | as_root tee "$whisper_home/BUILD" >/dev/null
  say "speech tools: installed in $whisper_home, linked from $whisper_prefix/bin"
}

# Puts the two model files into ./models for terminal mode with the program's own downloader,
# which resumes, retries and checks them as the app does. Without network it says where they go
# and carries on: neither the build nor the tests need them.
download_models() {
  say "models: fetching into $repo/models"
  local status=0
  (cd "$repo" && "$repo/build/release/parlwick-models" --check --patience 3) || status=$?
  if [ "$status" -ne 0 ]; then
    say "models: not all in place (status $status); dictation needs them, the build and tests do not"
  fi
}

# The official MCP SDK client the connector's integration test drives, at the pinned version.
install_mcp_test_client() {
  local folder="$repo/Tests/Integration/mcp-client"
  if [ -d "$folder/node_modules/@modelcontextprotocol/sdk" ]; then
    say "mcp test client: present"
    return
  fi
  say "installing the mcp test client (npm ci)"
  (cd "$folder" && npm ci --no-audit --no-fund --loglevel=error)
}

# A locale that writes decimals with a comma, for the tests that check we never do.
install_test_locale() {
  if locale -a 2>/dev/null | grep -qix 'de_DE.utf8'; then
    say "test locale: present"
    return
  fi
  say "generating the de_DE.UTF-8 locale for the tests"
  as_root sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -qx 'de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
  as_root locale-gen >/dev/null
}

build_release() {
  say "building Release into build/release"
  cmake --preset release -S "$repo" >/dev/null
  cmake --build "$repo/build/release" -j "$(nproc)" --target parlwick-apps
}

# The installed tree for the user running this script: the program, its speech tools, the
# desktop entry and the icons under ~/.local, so the desktop's menus list it. No root needed.
install_app() {
  local prefix="$HOME/.local"
  say "installing the app into $prefix"
  cmake --install "$repo/build/release" --prefix "$prefix" >/dev/null
  if command -v update-desktop-database >/dev/null 2>&1; then
    update-desktop-database -q "$prefix/share/applications" 2>/dev/null || true
  fi
}

install_packages
install_whisper_tools
if [ "$with_tests" -eq 1 ]; then install_mcp_test_client; install_test_locale; fi
build_release
if [ "$with_app" -eq 1 ]; then
  install_app
  say "done: start $HOME/.local/bin/parlwick, or Parlwick from the desktop's menu"
else
  download_models
  say "done: run ./build/release/parlwick from this folder"
fi
