#!/usr/bin/env bash
# clang-tidy (.clang-tidy at the root) on every production source under src/,
# using the compile database of the default build (scripts/test.sh makes it).
# Any finding fails. Usage: scripts/tidy.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/default}"
if [ ! -f "${build}/compile_commands.json" ]; then
  echo "no ${build}/compile_commands.json: build first (scripts/test.sh)" >&2
  exit 1
fi
mapfile -t files < <(git ls-files 'src/*.cpp' | grep -v -e '_test\.cpp$' -e '/testing/')
log="$(mktemp)"
trap 'rm -f "${log}"' EXIT
status=0
printf '%s\n' "${files[@]}" |
  xargs -P "$(nproc)" -n 4 clang-tidy -p "${build}" --quiet >"${log}" 2>/dev/null || status=1
if grep -q -E '(warning|error):' "${log}"; then
  grep -E -A3 '(warning|error):' "${log}" >&2
  status=1
fi
[ "${status}" -eq 0 ] && echo "clang-tidy: ${#files[@]} sources clean"
exit "${status}"
