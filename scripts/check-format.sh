#!/usr/bin/env bash
# Checks that every C++ file under Sources, Tests and bench is formatted as .clang-format says.
# Lists the files that are not and exits 1; changes nothing.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

if ! command -v clang-format >/dev/null 2>&1; then
  echo "check-format.sh: clang-format is not installed (run ./scripts/setup.sh)" >&2
  exit 2
fi

mapfile -t files < <(find Sources Tests bench -name node_modules -prune -o \
  -type f \( -name '*.h' -o -name '*.cpp' \) -print | LC_ALL=C sort)
unformatted=()
for file in "${files[@]}"; do
  clang-format --dry-run -Werror "$file" >/dev/null 2>&1 || unformatted+=("$file")
done

if [ "${#unformatted[@]}" -gt 0 ]; then
  echo "format: ${#unformatted[@]} of ${#files[@]} files differ from clang-format:"
  printf '  %s\n' "${unformatted[@]}"
  echo "format: run clang-format -i on them"
  exit 1
fi
echo "format: all ${#files[@]} files match clang-format"
