#!/usr/bin/env bash
# Share copy of remote data: 1 GiB in 64 files (SIZE_MB=n changes the total, FILES=n the number
# of files), copied by
# `pendrill-admin remote fetch` (status "ready", one pass, a whole process with its start-up and
# its 65 job-history records) and by `cp` from the same directory into the same file system,
# ROUNDS times (default 5) after one warm-up round of each (which also brings the source files
# into the page cache), every time into an empty directory after a `sync`. The two take turns at
# going first. Two times per copy: until the command ends (the data in the page cache) and until a
# following `sync` ends (the data on disk); for Pendrill also the copy phase alone, from its
# run-log line "Copying Remote Data from Share" to its end (without the start-up, the warehouse
# connection and the catalogue read). Times are taken from bash's clock, without starting a
# process. Prints each time, the best and the median of each, and the ratios of throughput
# Pendrill / cp, also as the median of each round's own ratio (the two copies of a round follow
# each other, so a busy machine slows both alike), and last the goal's figure: Pendrill's time
# until its data is on disk over that of cp followed by sync (goal <= 0.90).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$here/bench/remote_common.sh"
size_mb=${SIZE_MB:-1024}
rounds=${ROUNDS:-5}
files=${FILES:-64}

mkdir -p "$work/site"
echo "writing $files files, $size_mb MiB in all..."
for i in $(seq -w 1 $files); do
    head -c $((size_mb * 1024 * 1024 / files)) /dev/urandom >"$work/site/part$i.dat"
done
share_link Bench Data "$work/site" "$work/pendrill" 1 1

# Microseconds since the epoch, without a subshell.
now_us() { printf -v "$1" '%s' "${EPOCHREALTIME/./}"; }

declare -A times=()
for round in $(seq 0 "$rounds"); do
    order="pendrill cp"
    [ $((round % 2)) -eq 0 ] && order="cp pendrill"
    for who in $order; do
        rm -rf "$work/pendrill" "$work/cp"
        mkdir -p "$work/cp"
        printf 'ready\r\n' >"$work/site/status"
        sync
        now_us t0
        if [ $who = pendrill ]; then
            fetch Bench | while read -r line; do
                [[ $line == Copying* ]] && echo "${EPOCHREALTIME/./}" >"$work/copying"
            done
        else
            cp "$work/site/"* "$work/cp/"
        fi
        now_us t1
        sync
        now_us t2
        [ "$round" -eq 0 ] && continue # warm-up
        printf 'round %d  %-8s %6.3f s, with sync %6.3f s' "$round" $who \
            "$(((t1 - t0) / 1000))e-3" "$(((t2 - t0) / 1000))e-3"
        times[$who]+=" $((t1 - t0))"
        times[$who+sync]+=" $((t2 - t0))"
        if [ $who = pendrill ]; then
            tc=$(<"$work/copying")
            printf ', copy phase %6.3f s' "$(((t1 - tc) / 1000))e-3"
            times[copy]+=" $((t1 - tc))"
        fi
        echo
    done
done
python3 - "$size_mb" "${times[pendrill]}" "${times[cp]}" "${times[copy]}" \
    "${times[pendrill+sync]}" "${times[cp+sync]}" <<'PY'
import statistics, sys
mb = int(sys.argv[1])
p, c, cc, ps, cs = ([int(t) for t in a.split()] for a in sys.argv[2:])
for label, a, b in (("command", p, c), ("copy phase", cc, c), ("on disk", ps, cs)):
    for how, f in (("best", min), ("median", statistics.median)):
        x, y = f(a), f(b)
        print(f"{label:10} {how:6}: pendrill {x/1e6:6.3f} s {mb*1e6/x:5.0f} MiB/s,"
              f" cp {y/1e6:6.3f} s {mb*1e6/y:5.0f} MiB/s, ratio {y/x:.2f}")
    # The two copies of a round run one right after the other, under much the same load.
    pairs = statistics.median(y / x for x, y in zip(a, b))
    print(f"{label:10} median of the rounds' own ratios: {pairs:.2f}")
# The goal: Pendrill's whole time until its data is on disk against cp followed by sync.
x, y = statistics.median(ps), statistics.median(cs)
print(f"time on disk: pendrill {x/1e6:.3f} s / cp + sync {y/1e6:.3f} s = {x/y:.2f}"
      f" (medians; goal <= 0.90), median of the rounds' own time ratios"
      f" {statistics.median(p / c for p, c in zip(ps, cs)):.2f}")
PY
