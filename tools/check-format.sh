#!/usr/bin/env bash
# Checks that every C++ source of the tree follows .clang-format; exits non-zero and shows the
# differences otherwise. `tools/check-format.sh --fix` formats them instead.
set -euo pipefail
cd "$(dirname "$0")/.."
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files '*.cpp' '*.h')
else
  mapfile -t files < <(find . -path ./build\* -prune -o \( -name '*.cpp' -o -name '*.h' \) -print |
                       sed 's|^\./||')
fi
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
else
  clang-format --dry-run --Werror "${files[@]}"
fi
