#!/usr/bin/env bash
# Idle polling and stopping it:
#  1. processor time of `pendrill-admin remote fetch` while it polls a status file that never
#     says ready (interval 1 minute) for SECONDS_IDLE seconds (default 60), measured from the
#     scheduler's counters of the process after its first read (goal <= 0.1 % of one core);
#  2. time from SIGINT, sent while the fetch waits, to the end of the process, STOPS times
#     (default 10) (goal <= 100 ms).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$here/bench/remote_common.sh"
idle=${SECONDS_IDLE:-60}
stops=${STOPS:-10}

mkdir -p "$work/site"
printf 'running\r\n' >"$work/site/status"
share_link Idle Never "$work/site" "$work/local" 1 30

# Starts the fetch in the background with its output in a file; returns when it polls.
start_fetch() {
    "$admin" remote fetch --server bench --database dw --model Idle >"$work/out" 2>&1 &
    pid=$!
    until grep -q "Polling for remote data." "$work/out" 2>/dev/null; do sleep 0.02; done
}

start_fetch
sleep 1
c0=$(cpu_ns $pid) t0=$(now_ns)
sleep "$idle"
c1=$(cpu_ns $pid) t1=$(now_ns)
kill -INT $pid
wait $pid || true
python3 -c "
cpu=($c1-$c0)/1e6; wall=($t1-$t0)/1e6
print(f'idle poll: {cpu:.1f} ms of processor time in {wall/1000:.1f} s = {100*cpu/wall:.4f} % of one core')"

worst=0 all=""
for i in $(seq 1 "$stops"); do
    start_fetch
    sleep 0.$((RANDOM % 9 + 1))
    t0=$(now_ns)
    kill -INT $pid
    wait $pid || true
    ms=$((($(now_ns) - t0) / 1000000))
    all="$all $ms"
    [ $ms -gt $worst ] && worst=$ms
done
echo "stop to end of fetch (ms):$all; worst $worst ms"
