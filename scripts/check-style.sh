#!/usr/bin/env bash
# Fast checks that need no build: every tracked C++ file is clang-formatted,
# and every include under src/ points down the layer order.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.h' '*.cpp')
if ! clang-format --dry-run --Werror "${files[@]}"; then
  echo "clang-format: the files above differ from .clang-format (run clang-format -i on them)" >&2
  exit 1
fi
echo "clang-format: ${#files[@]} files formatted"
scripts/check-includes.sh
