#!/usr/bin/env bash
# Fails when a file under src/ includes a header from a folder above its own in
# the layer order (see the README's layout section). A folder's testing/
# helpers sit in its layer. Unit tests (*_test.cpp) may also use the reference
# host in tools/recorder, which stands above the driver by design.
set -euo pipefail
cd "$(dirname "$0")/.."

order=(util platform base core device rtsp media channels driver)
declare -A rank
for i in "${!order[@]}"; do rank[${order[$i]}]=$i; done

status=0
while IFS= read -r file; do
  own="${file#src/}"
  own="${own%%/*}"
  if [ -z "${rank[$own]+x}" ]; then
    echo "${file}: folder src/${own} has no place in the layer order" >&2
    status=1
    continue
  fi
  while IFS=: read -r line target; do
    folder="${target%%/*}"
    [ "${folder}" = korvela ] && continue  # the public contract depends on nothing
    if [ "${folder}" = recorder ] && [[ "${file}" == *_test.cpp ]]; then continue; fi
    if [ -z "${rank[$folder]+x}" ]; then
      echo "${file}:${line}: includes \"${target}\" from outside the layer order" >&2
      status=1
    elif [ "${rank[$folder]}" -gt "${rank[$own]}" ]; then
      echo "${file}:${line}: ${own} includes \"${target}\", which is above it" >&2
      status=1
    fi
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "${file}" |
           sed 's/^\([0-9]*\):[^"]*"\([^"]*\)".*/\1:\2/' || true)
done < <(find src -name '*.h' -o -name '*.cpp' | sort)
[ "${status}" -eq 0 ] && echo "include order: every include under src/ points down"
exit "${status}"
