#!/usr/bin/env bash
# Checks that every C++ file of the repository is in the project's clang-format style
# (.clang-format), naming the files that are not; with --fix, formats them in place.
# Used by scripts/test.sh and by the `format` build target.
set -euo pipefail
cd "$(dirname "$0")/.."
format=${CLANG_FORMAT:-clang-format}
mode=check
[ "${1:-}" = "--fix" ] && mode=fix

if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files -- '*.cpp' '*.h')
else
  mapfile -t files < <(find src tests bench -name '*.cpp' -o -name '*.h' | sort)
fi

if [ "$mode" = fix ]; then
  "$format" -i -- "${files[@]}"
  exit 0
fi
bad=()
for file in "${files[@]}"; do
  "$format" --dry-run --Werror -- "$file" >/dev/null 2>&1 || bad+=("$file")
done
if [ ${#bad[@]} -gt 0 ]; then
  printf 'not in the project'"'"'s format (scripts/format.sh --fix, or the build target format):\n' >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
echo "format: ${#files[@]} files checked"
