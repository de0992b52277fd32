#!/usr/bin/env bash
# Share copy of remote data: 1 GiB in 64 files (SIZE_MB=n changes the total), copied by
# `pendrill-admin remote fetch` (status "ready", one pass) and by `cp` from the same directory,
# alternately, ROUNDS times (default 3), each into an empty directory after a `sync`. Prints each
# time, the best throughput of each and the ratio Pendrill / cp (goal >= 0.95).
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

best_p=0 best_c=0
mbps() { python3 -c "print(f'{$size_mb * 1e9 / $1:.0f}')"; }
for round in $(seq 1 "$rounds"); do
    for who in pendrill cp; do
        rm -rf "$work/pendrill" "$work/cp"
        mkdir -p "$work/cp"
        printf 'ready\r\n' >"$work/site/status"
        sync
        t0=$(now_ns)
        if [ $who = pendrill ]; then
            fetch Bench >/dev/null
        else
            cp "$work/site/"* "$work/cp/"
        fi
        t=$(($(now_ns) - t0))
        rate=$(mbps $t)
        printf 'round %d  %-8s %6.2f s  %5d MiB/s\n' "$round" $who "$(python3 -c "print($t/1e9)")" "$rate"
        if [ $who = pendrill ]; then
            [ "$rate" -gt "$best_p" ] && best_p=$rate
        else
            [ "$rate" -gt "$best_c" ] && best_c=$rate
        fi
    done
done
echo "best: pendrill $best_p MiB/s, cp $best_c MiB/s, ratio $(python3 -c "print(f'{$best_p/$best_c:.2f}')")"
