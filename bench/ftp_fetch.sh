#!/usr/bin/env bash
# Fetching 1 GiB in 64 files (FILES=n, MIB=size of each in MiB to change) from a loopback FTP
# server (tests/support/ftp_server.py, pyftpdlib): Pendrill's FtpCopyRemoteData vs the curl
# command-line tool fetching the same files from the same server over one connection. Both use
# ASCII type and active mode, as a fetch does. ROUNDS (default 3) alternating rounds; the best
# round of each is compared. Needs a build (build/bin; PENDRILL_BIN=dir for another one).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bin=${PENDRILL_BIN:-$here/build/bin}
files=${FILES:-64}
mib=${MIB:-16}
rounds=${ROUNDS:-3}

work=$(mktemp -d /tmp/pendrill-ftpbench.XXXXXX)
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
server_pid=
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

echo "generating $files files of $mib MiB..."
mkdir -p "$work/site/data"
/usr/bin/python3 - "$work/site/data" "$files" "$mib" <<'PY'
import sys
target, files, mib = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
line = b"4711;Customer name;Some City;2026-12-06;17;1234.50;shipped;a note of some length\n"
block = line * (1024 * 1024 // len(line) + 1)
for i in range(files):
    data = (block * mib)[: mib * 1024 * 1024]
    with open(f"{target}/orders_{i + 1:02d}.csv", "wb") as f:
        f.write(data)
PY
total=$((files * mib * 1024 * 1024))

/usr/bin/python3 "$here/tests/support/ftp_server.py" --root "$work/site" --user bench:bench \
    >"$work/port" 2>"$work/server.log" &
server_pid=$!
for _ in $(seq 100); do grep -q PORT "$work/port" 2>/dev/null && break; sleep 0.1; done
port=$(awk '/PORT/ {print $2}' "$work/port")
[ -n "$port" ] || { echo "FTP server did not start" >&2; cat "$work/server.log" >&2; exit 1; }

urls=$(printf "ftp://127.0.0.1:%s/data/orders_[01-%02d].csv" "$port" "$files")
mbs() { python3 -c "print(f'{$1 / $2 / 1048576:8.1f}')"; }

best_pendrill=0 best_curl=0
run_curl() {
    rm -rf "$work/curl" && mkdir -p "$work/curl" && sync
    local start end
    start=$(date +%s.%N)
    curl -s -S -B -P - -u bench:bench "$urls" -o "$work/curl/orders_#1.csv"
    end=$(date +%s.%N)
    curl_secs=$(python3 -c "print($end - $start)")
    got=$(find "$work/curl" -type f -printf '%s\n' | awk '{s += $1} END {print s}')
}
run_pendrill() {
    rm -rf "$work/pendrill" && sync
    read -r bytes pendrill_secs < <("$bin/bench_ftp_fetch" "127.0.0.1:$port" data/ "$work/pendrill" bench bench)
}

best_pendrill=0 best_curl=0
for round in $(seq "$rounds"); do
    # The two take turns at going first, so that neither always meets the other's leftovers
    # (dirty pages being written back).
    if ((round % 2)); then run_curl; run_pendrill; else run_pendrill; run_curl; fi
    [ "$bytes" -eq "$got" ] || { echo "byte counts differ: $bytes vs $got" >&2; exit 1; }
    echo "round $round: pendrill $(mbs "$bytes" "$pendrill_secs") MiB/s   curl $(mbs "$got" "$curl_secs") MiB/s"
    best_pendrill=$(python3 -c "print(max($best_pendrill, $bytes / $pendrill_secs))")
    best_curl=$(python3 -c "print(max($best_curl, $got / $curl_secs))")
done
echo "files: $files x $mib MiB ($((total / 1048576)) MiB), ASCII type, active mode"
python3 -c "
p, c = $best_pendrill, $best_curl
print(f'pendrill FtpCopyRemoteData: {p / 1048576:8.1f} MiB/s (best of $rounds)')
print(f'curl command line:          {c / 1048576:8.1f} MiB/s (best of $rounds)')
print(f'ratio pendrill/curl:        {p / c:8.2f}  (goal >= 0.95)')"
