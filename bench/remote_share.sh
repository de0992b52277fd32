#!/usr/bin/env bash
# Share copy of remote data: 1 GiB in 64 files (SIZE_MB=n changes the total), copied by
# `pendrill-admin remote fetch` (status "ready", one pass, a whole process with its start-up and
# its 65 job-history records) and by `cp` from the same directory, alternately, ROUNDS times
# (default 3) after one warm-up round of each, every time into an empty directory after a `sync`.
# Two times per copy: until the command ends (the data in the page cache) and until a following
# `sync` ends (the data on disk); for Pendrill also the copy phase alone, from its run-log line
# "Copying Remote Data from Share" to its end (without the start-up, the warehouse connection and
# the catalogue read, about 40 ms). Prints each time, the best of each and the ratios of
# throughput Pendrill / cp (goal >= 0.95).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$here/bench/remote_common.sh"
size_mb=${SIZE_MB:-1024}
rounds=${ROUNDS:-3}
files=64

mkdir -p "$work/site"
echo "writing $files files, $size_mb MiB in all..."
for i in $(seq -w 1 $files); do
    head -c $((size_mb * 1024 * 1024 / files)) /dev/urandom >"$work/site/part$i.dat"
done
share_link Bench Data "$work/site" "$work/pendrill" 1 1

declare -A best=([pendrill]=999999999999 [cp]=999999999999 [pendrill+sync]=999999999999
    [cp+sync]=999999999999 [copy]=999999999999)
for round in $(seq 0 "$rounds"); do
    for who in pendrill cp; do
        rm -rf "$work/pendrill" "$work/cp"
        mkdir -p "$work/cp"
        printf 'ready\r\n' >"$work/site/status"
        sync
        t0=$(now_ns)
        if [ $who = pendrill ]; then
            fetch Bench | while read -r line; do
                [[ $line == Copying* ]] && now_ns >"$work/copying"
            done
        else
            cp "$work/site/"* "$work/cp/"
        fi
        t1=$(now_ns)
        sync
        t2=$(now_ns)
        [ "$round" -eq 0 ] && continue # warm-up
        printf 'round %d  %-8s %6.3f s, with sync %6.3f s' "$round" $who \
            "$(python3 -c "print(($t1-$t0)/1e9)")" "$(python3 -c "print(($t2-$t0)/1e9)")"
        if [ $who = pendrill ]; then
            tc=$(cat "$work/copying")
            printf ', copy phase %6.3f s' "$(python3 -c "print(($t1-$tc)/1e9)")"
            [ $((t1 - tc)) -lt ${best[copy]} ] && best[copy]=$((t1 - tc))
        fi
        echo
        [ $((t1 - t0)) -lt ${best[$who]} ] && best[$who]=$((t1 - t0))
        [ $((t2 - t0)) -lt ${best[$who+sync]} ] && best[$who+sync]=$((t2 - t0))
    done
done
python3 - "$size_mb" "${best[pendrill]}" "${best[cp]}" "${best[pendrill+sync]}" "${best[cp+sync]}" \
    "${best[copy]}" <<'PY'
import sys
mb, p, c, ps, cs, cc = map(int, sys.argv[1:])
for label, a, b in (("command", p, c), ("copy phase", cc, c), ("on disk", ps, cs)):
    print(f"{label:10}: pendrill {mb*1e9/a:6.0f} MiB/s, cp {mb*1e9/b:6.0f} MiB/s, ratio {b/a:.2f}")
PY
