#!/bin/bash
# veltrano record --stream mjpeg against the camera simulator: the stream file
# decodes (ffprobe counts every picture at 1280x1024), the numbered files are
# the simulator's pictures byte for byte, and the JSON summary agrees.
# usage: mjpeg_record_cli.sh VELTRANO CAMSIM TESTDATA_DIR
set -u
veltrano=$1
camsim=$2
testdata=$3
. "$(dirname "$0")/camsim_start.sh"
command -v ffprobe >/dev/null || { echo "ffprobe missing (apt-get install ffmpeg)"; exit 1; }
start_camsim "$camsim" IQ042

"$veltrano" record --host 127.0.0.1 --port "$port" --user root --password system \
  --stream mjpeg --seconds 3 --fps 10 --out "$work/rec" --frames --json \
  > "$work/summary.json" 2> "$work/progress" \
  || { echo "record failed"; cat "$work/summary.json" "$work/progress"; exit 1; }
grep -q "status receiving" "$work/progress" || { echo "no progress line"; cat "$work/progress"; exit 1; }

frames=$(ffprobe -v error -f mjpeg -count_frames -select_streams v:0 \
  -show_entries stream=width,height,nb_read_frames -of csv=p=0 "$work/rec/video.mjpeg")
/usr/bin/python3 - "$work/summary.json" "$frames" "$work/rec" <<'PY' || exit 1
import json, os, sys
d = json.load(open(sys.argv[1]))
width, height, decoded = (int(v) for v in sys.argv[2].split(","))
n = d["frames"]
assert n >= 10, d
assert decoded == n, (decoded, n)
assert (width, height) == (1280, 1024) == (d["width"], d["height"]), (width, height, d)
assert d["compression"] == {"JPEG": n}, d
assert d["bytes"] == os.path.getsize(os.path.join(sys.argv[3], "video.mjpeg")), d
# Stopped (reported as 2) until the worker has connected, then receiving.
statuses = [c["status"] for c in d["statusChanges"]]
assert statuses in ([0], [2, 0]), statuses
assert d["signalLost"] == 0, d
assert d["firstFrameMs"] is not None and d["firstFrameMs"] >= 0, d
texts = [l["text"] for l in d["log"]]
assert any(t.endswith("Camera 127.0.0.1 is online") for t in texts), texts
assert not any("system" in t for t in texts), "password logged"
assert len([f for f in os.listdir(sys.argv[3]) if f.startswith("frame_")]) == n
PY
# The simulator cycles through its three samples, starting with the first.
for i in 1 2 3; do
  cmp -s "$work/rec/frame_00000$i.jpg" "$testdata/jpeg_1280x1024_$i.jpg" \
    || { echo "frame $i differs from the sample"; exit 1; }
done

# Wrong password: the capability query is refused; the exit code says so.
"$veltrano" record --host 127.0.0.1 --port "$port" --user root --password nope \
  --stream mjpeg --seconds 1 --out "$work/refused" > /dev/null 2> "$work/refused.err"
rc=$?
[ "$rc" = 4 ] || { echo "exit code $rc for refused credentials"; cat "$work/refused.err"; exit 1; }
"$veltrano" record --host 127.0.0.1 --stream avi --out "$work/x" > /dev/null 2>&1
rc=$?
[ "$rc" = 2 ] || { echo "exit code $rc for a bad --stream"; exit 1; }
echo OK
