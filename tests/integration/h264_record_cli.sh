#!/bin/bash
# veltrano record --stream h264 against the camera simulator (--rtsp-port
# given): the stream file decodes at 1280x720 with every recorded frame, and
# the JSON summary counts key frames every 25 frames; ffmpeg finds no error.
# usage: h264_record_cli.sh VELTRANO CAMSIM
set -u
veltrano=$1
camsim=$2
. "$(dirname "$0")/camsim_start.sh"
command -v ffprobe >/dev/null || { echo "ffprobe missing (apt-get install ffmpeg)"; exit 1; }
start_camsim "$camsim" IQ031
rtsp=$(sed -n 's/.*rtsp=\([0-9]*\).*/\1/p' "$work/camsim.out" | head -1)

"$veltrano" record --host 127.0.0.1 --port "$port" --user root --password system \
  --stream h264 --rtsp-port "$rtsp" --size 1280x720 --seconds 6 --out "$work/rec" --json \
  > "$work/summary.json" 2> "$work/progress" \
  || { echo "record failed"; cat "$work/summary.json" "$work/progress"; exit 1; }
grep -q "key frames [1-9]" "$work/progress" || { echo "no key frames shown"; cat "$work/progress"; exit 1; }

errors=$(ffmpeg -v error -f h264 -i "$work/rec/video.h264" -f null - 2>&1)
[ -z "$errors" ] || { echo "ffmpeg: $errors"; exit 1; }
frames=$(ffprobe -v error -f h264 -count_frames -select_streams v:0 \
  -show_entries stream=width,height,nb_read_frames -of csv=p=0 "$work/rec/video.h264")
/usr/bin/python3 - "$work/summary.json" "$frames" "$work/rec" <<'PY' || exit 1
import json, os, sys
d = json.load(open(sys.argv[1]))
width, height, decoded = (int(v) for v in sys.argv[2].split(","))
n = d["frames"]
assert n >= 50, d
assert decoded == n, (decoded, n)
assert (width, height) == (1280, 720) == (d["width"], d["height"]), (width, height, d)
assert d["compression"]["H264"] == d["keyFrames"] >= 2, d
assert d["compression"]["H264"] + d["compression"]["I264"] == n, d
assert d["gop"] == 25, d
assert 0 <= d["firstFrameMs"] <= d["firstKeyFrameMs"], d
# The file ends without the delimiter header that would open another unit.
assert d["bytes"] == os.path.getsize(os.path.join(sys.argv[3], "video.h264")) + 5, d
assert d["signalLost"] == 0, d
PY
echo OK
