#!/bin/bash
# veltrano probe against the camera simulator: the table names the device and
# its sizes, and --json gives one object a JSON parser accepts.
# usage: query_probe_cli.sh VELTRANO CAMSIM
set -u
veltrano=$1
camsim=$2
. "$(dirname "$0")/camsim_start.sh"
start_camsim "$camsim" IQ765

"$veltrano" probe --host 127.0.0.1 --port "$port" --user root --password system > "$work/table" \
  || { echo "probe failed"; cat "$work/table"; exit 1; }
for line in "Result *completed" "Name *IQeye Sentinel IQ765" "Camera group *4" \
            "Maximum resolution *2592x1944" "Stream types *H.264 Motion-JPEG" \
            "2592x1944 *100 ms" "720x480 *33 ms" "Default interval *100 ms" \
            "Digital inputs *1" "Privacy zones *8 rectangles"; do
  grep -q "$line" "$work/table" || { echo "missing: $line"; cat "$work/table"; exit 1; }
done
if grep -q "system" "$work/table"; then echo "password printed"; exit 1; fi

"$veltrano" probe --host 127.0.0.1 --port "$port" --user root --password system --json \
  > "$work/json" || { echo "probe --json failed"; cat "$work/json"; exit 1; }
/usr/bin/python3 - "$work/json" <<'PY' || exit 1
import json, sys
d = json.load(open(sys.argv[1]))
assert d["result"] == "completed", d
assert d["connection"]["4"] == "***", d["connection"]
assert d["properties"]["3"]["value"] == "4"
assert d["capabilities"]["0"] == 1 and d["capabilities"]["8"] == 1
assert len(d["resolutions"]) == 8 and d["resolutions"][0]["label"] == "2592x1944"
assert d["frameRates"]["default"] == 100 and len(d["frameRates"]["intervals"]) == 30
PY

# Wrong password: the device refused, the exit code says so, the reason is printed.
"$veltrano" probe --host 127.0.0.1 --port "$port" --user root --password nope > "$work/refused"
rc=$?
[ "$rc" = 4 ] || { echo "exit code $rc for refused credentials"; exit 1; }
grep -q "login failed (invalid credentials)" "$work/refused" || { cat "$work/refused"; exit 1; }
echo OK
