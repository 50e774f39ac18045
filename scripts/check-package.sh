#!/usr/bin/env bash
# Makes the Debian package, installs it with apt-get as a user would, checks that the installed
# program answers from /usr/bin and that the desktop finds its entry and icon, then removes the
# package and checks that nothing of it is left. Run as root (CI does).
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"

if dpkg-query -W -f='${Status}' parlwick 2>/dev/null | grep -q "install ok installed"; then
  echo "check-package.sh: a parlwick package is already installed; remove it first" >&2
  exit 1
fi

./scripts/package.sh
deb=$(ls -1t "$repo"/build/release/parlwick_*.deb | head -n 1)

fail() { echo "check-package.sh: $*" >&2; exit 1; }
remove() { DEBIAN_FRONTEND=noninteractive apt-get remove -y -q parlwick >/dev/null 2>&1 || true; }
trap remove EXIT

echo "==> installing $deb"
DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$deb" >/dev/null
[ "$(command -v parlwick)" = /usr/bin/parlwick ] || fail "parlwick is not /usr/bin/parlwick"
/usr/bin/parlwick --help | grep -q "^Usage: " || fail "parlwick --help says no usage"
grep -qx "Exec=/usr/bin/parlwick" /usr/share/applications/org.parlwick.Parlwick.desktop ||
  fail "the desktop entry does not start /usr/bin/parlwick"
desktop-file-validate /usr/share/applications/org.parlwick.Parlwick.desktop
[ -f /usr/share/icons/hicolor/scalable/apps/org.parlwick.Parlwick.svg ] || fail "no icon"
[ -x /usr/libexec/parlwick/whisper-server ] || fail "the speech server is not in the package"
ls /usr/libexec/parlwick/libggml-cpu-*.so >/dev/null 2>&1 || fail "the processor backends are not in the package"
/usr/libexec/parlwick/whisper-server --help >/dev/null 2>&1 || fail "the packaged speech server does not run"
# The first launch quantises the models it times with it.
[ -x /usr/libexec/parlwick/whisper-quantize ] || fail "the quantize tool is not in the package"

echo "==> removing the package"
files=$(dpkg-query -L parlwick)
DEBIAN_FRONTEND=noninteractive apt-get remove -y -q parlwick >/dev/null
trap - EXIT
left=""
# Shared folders such as /usr/share/icons stay; every file and our own folders go.
while IFS= read -r path; do
  if [ -e "$path" ] && [ ! -d "$path" ]; then left="$left $path"; fi
done <<<"$files"
for folder in /usr/share/parlwick /usr/libexec/parlwick; do
  if [ -e "$folder" ]; then left="$left $folder"; fi
done
[ -z "$left" ] || fail "left behind after removal:$left"
echo "==> the package installs, runs and removes cleanly"
