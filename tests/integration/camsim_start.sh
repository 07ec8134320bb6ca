# Sourced by the CLI test scripts: start_camsim CAMSIM MODEL starts the
# simulator (Digest, root/system) in the background, sets $work (a scratch
# folder), $sim_pid and $port, and cleans both up when the script exits.
work=$(mktemp -d)
sim_pid=""
trap '[ -n "$sim_pid" ] && { kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; }; rm -rf "$work"' EXIT

start_camsim() {
  "$1" --model "$2" --auth digest --user root --password system --seconds 120 \
    > "$work/camsim.out" 2> "$work/camsim.err" &
  sim_pid=$!
  port=""
  for _ in $(seq 1 100); do
    port=$(sed -n 's/.*http=\([0-9]*\).*/\1/p' "$work/camsim.out" | head -1)
    [ -n "$port" ] && return 0
    sleep 0.1
  done
  echo "camsim did not start"
  cat "$work/camsim.err"
  exit 1
}
