#!/usr/bin/env bash
# End-to-end figures of bench/RESULTS.md, measured side by side with the
# general-purpose clients a user would pick instead, against camsim on
# loopback. One sub-command per figure:
#
#   scripts/bench.sh mjpeg [SECONDS=40] [RUNS=3]
#       CPU (user+sys) per delivered frame of `veltrano record --stream mjpeg`
#       and `ffmpeg -i http://.../now.jpg?snap=spush0.04 -c copy -f mjpeg`,
#       both running at once on one simulated IQ765 (1280x1024, 25 fps).
#   scripts/bench.sh mjpeg-syscalls [SECONDS=10]
#       System calls of each (strace -f -c), one after the other, per picture
#       and per 64 KiB received.
#   scripts/bench.sh h264 [SECONDS=20] [RUNS=3]
#       CPU per delivered frame of one H.264 channel (bench/h264_channel_load),
#       ffmpeg -rtsp_transport udp -c copy -f null and GStreamer rtspsrc !
#       rtph264depay ! fakesink, all at once on one simulated IQ031 (1280x720,
#       25 fps, a 4 Mbit/s clip made here), measured over the same window;
#       also the first frame's delay and the threads and descriptors it adds.
#   scripts/bench.sh h264-1080 [SECONDS=20] [RUNS=3]
#       The same on a 1920x1080 25 fps stream of about 8 Mbit/s (a clip made
#       here, served by a simulated IQ765 in its 1080p H.264 mode).
#   scripts/bench.sh h264-syscalls [SECONDS=10]
#       System calls of the H.264 channel alone (strace -f -c) per datagram.
#   scripts/bench.sh scale [N...] [SECONDS]s
#       N H.264 channels in one process (bench/h264_scale), all started at
#       once against `camsim --cameras N` (its own process, 1280x720 25 fps,
#       ~2 Mbit/s each), one run per N (default 16 64 128; the window length
#       is written with an s, default 30s): delivered/sent frames, CPU of the
#       process and of the simulator, memory, threads and descriptors per
#       channel, kernel UDP receive drops, sequence gaps.
#   scripts/bench.sh ttff [RUNS=5]
#       Start to first frame of a Motion-JPEG, an H.264 and an audio input
#       channel, step by step (bench/first_frame, in-process simulator):
#       median and range of each step over RUNS runs.
#   scripts/bench.sh micro
#       The Google Benchmarks of the parsers and queues (SPS, RTSP reply,
#       G.711, RTP parse and queue, H.264 depacketiser, JPEG splitter, HTTP
#       head and body): bytes per second and allocations per call or frame.
#
# Environment: BUILD_DIR (default build/release; built with the release
# preset when missing), OUT_DIR (default a fresh temporary folder, kept).
# The machine may be shared: the load average is printed with every run.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD_DIR=${BUILD_DIR:-$ROOT/build/release}
OUT_DIR=${OUT_DIR:-$(mktemp -d /tmp/korvela-bench.XXXXXX)}
mkdir -p "$OUT_DIR"
VELTRANO=$BUILD_DIR/tools/cli/veltrano
CAMSIM=$BUILD_DIR/tools/camsim/camsim
SIM_PID=

usage() {
  sed -n '2,42p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
}

# Builds the given targets of the release preset.
build_release() {
  cmake --preset release >/dev/null
  cmake --build --preset release --target "$@" -- -j2 >/dev/null
}

build_type() { sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$BUILD_DIR/CMakeCache.txt"; }

ensure_built() {
  if [[ ! -x $VELTRANO || ! -x $CAMSIM ]]; then
    build_release veltrano_cli camsim veltrano
  fi
  command -v ffmpeg >/dev/null || { echo "bench: ffmpeg is missing" >&2; exit 1; }
}

stop_sim() {
  if [[ -n $SIM_PID ]]; then
    kill "$SIM_PID" 2>/dev/null || true
    wait "$SIM_PID" 2>/dev/null || true
    SIM_PID=
  fi
}
trap stop_sim EXIT

# Starts one simulated camera; sets HTTP_PORT.
start_sim() {
  local model=$1
  "$CAMSIM" --model "$model" --auth none --quiet >"$OUT_DIR/camsim.out" 2>"$OUT_DIR/camsim.err" &
  SIM_PID=$!
  for _ in $(seq 100); do
    HTTP_PORT=$(sed -n 's/^http=\([0-9]*\).*/\1/p' "$OUT_DIR/camsim.out" 2>/dev/null || true)
    [[ -n $HTTP_PORT ]] && return 0
    sleep 0.1
  done
  echo "bench: camsim did not start" >&2
  exit 1
}

# Runs a command and writes its user+sys CPU seconds (from wait4; the total is
# exact, the split between user and system is sampled) and its voluntary
# context switches (wake-ups) to the file named first.
cpu_of() {
  local cpu_file=$1
  shift
  /usr/bin/python3 - "$cpu_file" "$@" <<'EOF'
import os, signal, subprocess, sys
out, cmd = sys.argv[1], sys.argv[2:]
p = subprocess.Popen(cmd)
with open(out + ".pid", "w") as f:
    f.write("%d\n" % p.pid)
_, status, ru = os.wait4(p.pid, 0)
with open(out, "w") as f:
    f.write("%.6f %d\n" % (ru.ru_utime + ru.ru_stime, ru.ru_nvcsw))
sys.exit(os.waitstatus_to_exitcode(status) if os.waitstatus_to_exitcode(status) >= 0 else 0)
EOF
}

# CPU time (ns, from schedstat) of each thread of the running veltrano (its
# pid in the file named second), half a second before its recording ends:
# the channel worker's own share.
thread_cpu_near_end() {
  sleep "$(awk -v s="$1" 'BEGIN { print s - 0.5 }')"
  local pid
  pid=$(cat "$2" 2>/dev/null) || return 0
  for t in /proc/"$pid"/task/*; do
    printf '%s\t%s\n' "$(cat "$t/comm")" "$(cut -d' ' -f1 "$t/schedstat")"
  done 2>/dev/null
}

mjpeg_url() { echo "http://127.0.0.1:$HTTP_PORT/now.jpg?snap=spush0.04"; }

# ffmpeg's own count of the frames it wrote (its last progress line).
ffmpeg_frames() { tr '\r' '\n' <"$1" | sed -n 's/^frame= *\([0-9]*\).*/\1/p' | tail -1; }

veltrano_frames() { sed -n 's/^{"frames":\([0-9]*\),.*/\1/p' "$1" | tail -1; }

cmd_mjpeg() {
  local seconds=${1:-40} runs=${2:-3}
  ensure_built
  echo "# Motion-JPEG, CPU per delivered frame: $seconds s per run, $runs runs, $(date -u +%FT%TZ)"
  echo "# build: $BUILD_DIR ($(build_type))"
  printf '%-4s %-10s %8s %10s %14s %16s %10s\n' run client frames cpu_s ms_per_frame \
    wakeups_per_frame loadavg
  for run in $(seq "$runs"); do
    start_sim IQ765
    local d=$OUT_DIR/mjpeg-$run
    mkdir -p "$d"
    local load
    load=$(cut -d' ' -f1 /proc/loadavg)
    cpu_of "$d/veltrano.cpu" "$VELTRANO" record --host 127.0.0.1 --port "$HTTP_PORT" \
      --stream mjpeg --size 1280x1024 --fps 25 --seconds "$seconds" --json --out "$d/veltrano" \
      >"$d/veltrano.json" 2>"$d/veltrano.err" &
    local vpid=$!
    thread_cpu_near_end "$seconds" "$d/veltrano.cpu.pid" >"$d/veltrano.threads" &
    cpu_of "$d/ffmpeg.cpu" timeout -s INT "$seconds" ffmpeg -hide_banner -nostdin -loglevel error \
      -stats -i "$(mjpeg_url)" -c copy -f mjpeg -y "$d/ffmpeg.mjpeg" 2>"$d/ffmpeg.err" || true
    wait "$vpid" || true
    load="$load-$(cut -d' ' -f1 /proc/loadavg)"
    stop_sim
    local vf ff vc fc
    vf=$(veltrano_frames "$d/veltrano.json")
    ff=$(ffmpeg_frames "$d/ffmpeg.err")
    vc=$(cut -d' ' -f1 "$d/veltrano.cpu")
    fc=$(cut -d' ' -f1 "$d/ffmpeg.cpu")
    for row in "veltrano $vf $(cat "$d/veltrano.cpu")" "ffmpeg $ff $(cat "$d/ffmpeg.cpu")"; do
      set -- $row
      printf '%-4s %-10s %8s %10s %14s %16s %10s\n' "$run" "$1" "$2" "$3" \
        "$(awk -v c="$3" -v f="$2" 'BEGIN { if (f > 0) printf "%.4f", 1000 * c / f; else print "-" }')" \
        "$(awk -v w="$4" -v f="$2" 'BEGIN { if (f > 0) printf "%.2f", w / f; else print "-" }')" \
        "$load"
    done
    awk -v f="$vf" -v s="$seconds" -F'\t' '$1 ~ /^Video input/ && f > 0 {
        printf "     veltrano thread \"%s\": %.4f ms per frame (its CPU to %.1f s; frames prorated)\n",
          $1, $2 / 1e6 / (f * (s - 0.5) / s), s - 0.5 }' "$d/veltrano.threads"
    awk -v a="$vc" -v b="$vf" -v c="$fc" -v d="$ff" \
      'BEGIN { if (b > 0 && d > 0 && c > 0) printf "     ratio veltrano/ffmpeg per frame: %.3f\n", (a / b) / (c / d) }'
  done
  echo "# outputs: $OUT_DIR"
}

# strace -f -c of one client; prints calls of the interesting system calls.
strace_counts() {
  local name=$1 frames=$2 bytes=$3 file=$4
  awk -v name="$name" -v frames="$frames" -v bytes="$bytes" '
    $NF ~ /^(poll|ppoll|recvfrom|read|write|sendto|futex|epoll_wait|clock_nanosleep)$/ {
      calls = ($4 ~ /^[0-9]+$/) ? $4 : $5
      n[$NF] = calls; total_io += calls
    }
    / total$/ { all = $4 }
    END {
      stream = n["poll"] + n["ppoll"] + n["recvfrom"] + n["epoll_wait"]
      printf "%-9s frames %5d  MiB %6.1f  all calls %6d (with start-up; %.2f per frame)\n",
        name, frames, bytes / 1048576, all, all / frames
      printf "          waits and receives (poll, recvfrom): %.2f per frame, %.2f per 64 KiB\n",
        stream / frames, stream / (bytes / 65536)
      for (k in n) if (n[k] > 0) printf "          %-16s %6d  (%.2f per frame)\n", k, n[k], n[k] / frames
    }' "$file"
}

cmd_mjpeg_syscalls() {
  local seconds=${1:-10}
  ensure_built
  command -v strace >/dev/null || { echo "bench: strace is missing" >&2; exit 1; }
  echo "# Motion-JPEG, system calls over $seconds s (strace -f -c), $(date -u +%FT%TZ)," \
    "load average $(cut -d' ' -f1 /proc/loadavg)"
  start_sim IQ765
  local d=$OUT_DIR/syscalls
  mkdir -p "$d"
  strace -f -c -o "$d/veltrano.strace" "$VELTRANO" record --host 127.0.0.1 --port "$HTTP_PORT" \
    --stream mjpeg --size 1280x1024 --fps 25 --seconds "$seconds" --json --out "$d/veltrano" \
    >"$d/veltrano.json" 2>"$d/veltrano.err"
  strace -f -c -o "$d/ffmpeg.strace" timeout -s INT "$seconds" ffmpeg -hide_banner -nostdin \
    -loglevel error -stats -i "$(mjpeg_url)" -c copy -f mjpeg -y "$d/ffmpeg.mjpeg" \
    2>"$d/ffmpeg.err" || true
  stop_sim
  strace_counts veltrano "$(veltrano_frames "$d/veltrano.json")" \
    "$(stat -c %s "$d/veltrano/video.mjpeg")" "$d/veltrano.strace"
  strace_counts ffmpeg "$(ffmpeg_frames "$d/ffmpeg.err")" "$(stat -c %s "$d/ffmpeg.mjpeg")" \
    "$d/ffmpeg.strace"
  echo "# full tables: $d/*.strace"
}

H264_LOAD=$BUILD_DIR/bench/h264_channel_load

# The load tool and the simulator, and the simulator's samples with a 4 Mbit/s
# 1280x720 clip in place of the 2 Mbit/s one (testdata/README.md's command at
# another rate); sets H264_DATA.
prepare_h264() {
  if [[ ! -x $H264_LOAD || ! -x $CAMSIM ]]; then
    build_release h264_channel_load camsim
  fi
  command -v ffmpeg >/dev/null || { echo "bench: ffmpeg is missing" >&2; exit 1; }
  H264_DATA=$OUT_DIR/testdata
  if [[ ! -s $H264_DATA/h264_1280x720.h264 ]]; then
    mkdir -p "$H264_DATA"
    cp "$ROOT"/testdata/* "$H264_DATA/"
    ffmpeg -v error -y -f lavfi -i testsrc2=size=1280x720:rate=25 -vf noise=alls=12:allf=t -t 2 \
      -c:v libx264 -preset veryfast -profile:v main -pix_fmt yuv420p -b:v 4M -maxrate 4.4M \
      -bufsize 2M -x264-params keyint=25:min-keyint=25:scenecut=0:repeat-headers=1 -f h264 \
      "$H264_DATA/h264_1280x720.h264"
  fi
}

# A 1920x1080 25 fps clip of 8.0 Mbit/s beside the other samples (the same
# command at that size, High profile, 4 s; x264 stays about 6 % under its
# target on this noise, hence 8.5M); 3.8 MB, too large to keep in testdata/.
prepare_h264_1080() {
  prepare_h264
  if [[ ! -s $H264_DATA/h264_1920x1080.h264 ]]; then
    ffmpeg -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 -vf noise=alls=12:allf=t -t 4 \
      -c:v libx264 -preset veryfast -profile:v high -pix_fmt yuv420p -b:v 8.5M -maxrate 9.4M \
      -bufsize 4M -x264-params keyint=25:min-keyint=25:scenecut=0:repeat-headers=1 -f h264 \
      "$H264_DATA/h264_1920x1080.h264"
  fi
}

# Runs the load tool RUNS times; the arguments after RUNS pick the camera
# (model, camera group, picture size).
run_h264_load() {
  local seconds=$1 runs=$2
  shift 2
  command -v gst-launch-1.0 >/dev/null || { echo "bench: gst-launch-1.0 is missing" >&2; exit 1; }
  echo "# H.264, CPU per delivered frame: $seconds s per run, $runs runs, $(date -u +%FT%TZ)"
  echo "# build: $BUILD_DIR ($(build_type))"
  for run in $(seq "$runs"); do
    echo "## run $run, load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
    "$H264_LOAD" "$CAMSIM" "$seconds" "$H264_DATA" ffmpeg,gst "$@" | grep -v '^window of'
  done
}

cmd_h264() {
  prepare_h264
  run_h264_load "${1:-20}" "${2:-3}"
}

cmd_h264_1080() {
  prepare_h264_1080
  run_h264_load "${1:-20}" "${2:-3}" IQ765 4 1920x1080
}


cmd_ttff() {
  local runs=${1:-5}
  build_release first_frame
  echo "# Start to first frame, step by step: $runs runs per stream type, $(date -u +%FT%TZ)"
  echo "# build: $BUILD_DIR ($(build_type)), load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
  "$BUILD_DIR/bench/first_frame" "$runs"
}

cmd_h264_syscalls() {
  local seconds=${1:-10}
  prepare_h264
  command -v strace >/dev/null || { echo "bench: strace is missing" >&2; exit 1; }
  echo "# H.264 channel alone, system calls over $seconds s (strace -f -c), $(date -u +%FT%TZ)," \
    "load average $(cut -d' ' -f1 /proc/loadavg)"
  local d=$OUT_DIR/h264-syscalls
  mkdir -p "$d"
  # The tool says when its window starts; strace follows every thread of it
  # (not the simulator it started) for that long.
  "$H264_LOAD" "$CAMSIM" "$seconds" "$H264_DATA" none >"$d/load.out" 2>"$d/load.err" &
  local pid=$!
  for _ in $(seq 600); do
    grep -q '^window' "$d/load.out" && break
    sleep 0.1
  done
  timeout -s INT "$seconds" strace -f -c -p "$pid" -o "$d/driver.strace" 2>/dev/null || true
  wait "$pid" || true
  grep -v '^window' "$d/load.out"
  local packets
  packets=$(sed -n 's/^driver: .*(\([0-9]*\) packets.*/\1/p' "$d/load.out")
  awk -v packets="$packets" '
    $NF ~ /^[a-z_0-9]+$/ && $NF != "syscall" && $NF != "total" {
      calls = ($4 ~ /^[0-9]+$/) ? $4 : $5; n[$NF] = calls
    }
    / total$/ { all = $4 }
    END {
      printf "datagrams %d, system calls %d: %.2f per datagram\n", packets, all, all / packets
      for (k in n) if (n[k] >= packets / 100) printf "  %-16s %6d  (%.2f per datagram)\n", k, n[k], n[k] / packets
    }' "$d/driver.strace"
  echo "# full table: $d/driver.strace"
}

[[ $# -ge 1 ]] || usage
sub=$1
shift
cmd_micro() {
  local benches=(parsers_bench rtp_receiver_bench h264_depacketiser_bench mjpeg_splitter_bench
    http_transport_bench)
  build_release "${benches[@]}"
  echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
  local b
  for b in "${benches[@]}"; do
    "$BUILD_DIR/bench/$b" --benchmark_out="$OUT_DIR/$b.json" --benchmark_out_format=json
  done
  echo "JSON results in $OUT_DIR"
}

cmd_scale() {
  local counts=() seconds=30 arg
  for arg in "$@"; do
    case $arg in
      *s) seconds=${arg%s} ;;
      *) counts+=("$arg") ;;
    esac
  done
  [[ ${#counts[@]} -gt 0 ]] || counts=(16 64 128)
  local scale=$BUILD_DIR/bench/h264_scale
  if [[ ! -x $scale || ! -x $CAMSIM ]]; then
    build_release h264_scale camsim
  fi
  echo "# H.264 channels in one process: $seconds s window per run, $(date -u +%FT%TZ)"
  echo "# build: $BUILD_DIR ($(build_type))," \
    "net.core.rmem_max $(cat /proc/sys/net/core/rmem_max), ulimit -n $(ulimit -n)"
  local n
  for n in "${counts[@]}"; do
    echo "## N=$n, load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
    "$scale" "$CAMSIM" "$n" "$seconds" | tee "$OUT_DIR/scale-$n.txt" | grep -v '^result:' ||
      echo "h264_scale N=$n failed (see above)"

  done
  echo
  # deliv%: in the window; run%: from the first session on.
  printf '%5s %9s %9s %9s %9s %6s %6s %8s %9s %8s %6s %6s %6s %8s\n' N sent delivered 'deliv%' \
    'run%' 'cpu%' 'sim%' 'KiB/ch' 'frameKiB' thr/ch fd/ch drops gaps load
  for n in "${counts[@]}"; do
    sed -n 's/^result: //p' "$OUT_DIR/scale-$n.txt" | tr ' ' '\n' | awk -F= '
      { v[$1] = $2 }
      END {
        printf "%5s %9s %9s %9.4f %9.4f %6s %6s %8s %9s %8s %6s %6d %6s %8s\n", v["n"], v["sent"],
          v["delivered"], (v["sent"] > 0 ? 100 * v["delivered"] / v["sent"] : 0),
          (v["sent_all"] > 0 ? 100 * v["delivered_all"] / v["sent_all"] : 0), v["cpu_pct"],
          v["sim_pct"], v["rss_kib_per_ch"], v["frame_kib_per_ch"], v["threads_per_ch"],
          v["fds_per_ch"], v["rcvbuf_errors"] + v["socket_drops"], v["gaps"], v["load"]
      }'
  done
  echo "# outputs: $OUT_DIR"
}

case $sub in
  scale) cmd_scale "$@" ;;
  micro) cmd_micro "$@" ;;
  mjpeg) cmd_mjpeg "$@" ;;
  mjpeg-syscalls) cmd_mjpeg_syscalls "$@" ;;
  h264) cmd_h264 "$@" ;;
  h264-1080) cmd_h264_1080 "$@" ;;
  ttff) cmd_ttff "$@" ;;
  h264-syscalls) cmd_h264_syscalls "$@" ;;
  *) usage ;;
esac
