#!/usr/bin/env bash
# Formats the C++ sources with the project's .clang-format.
#   tools/format.sh           rewrite files in place
#   tools/format.sh --check   only report files that differ (non-zero exit)
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.h.in')
if [ "${1:-}" = --check ]; then
    clang-format --dry-run --Werror "${files[@]}"
else
    clang-format -i "${files[@]}"
fi
