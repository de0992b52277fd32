# Shared by the remote-data benchmarks: a private home, an embedded warehouse "bench" with the
# data-link catalogue, and helpers. Source it after setting `here`.
bin=${PENDRILL_BIN:-$here/build/bin}
admin="$bin/pendrill-admin"
work=$(mktemp -d /tmp/pendrill-bench.XXXXXX)
chmod 755 "$work"
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
trap 'rm -rf "$work"' EXIT

"$admin" server add bench "sqlite:$work/embedded" >/dev/null
"$admin" datalink init --server bench --database dw >/dev/null

# share_link MODEL NAME REMOTE LOCAL INTERVAL DURATION: a flat-file data link copied from a share.
share_link() {
    "$admin" datalink add --server bench --database dw --model "$1" --name "$2" --type 3 \
        --transfer-data 2 --remote-directory "$3" --ds-directory "$4" \
        --poll-interval "$5" --poll-duration "$6" >/dev/null
}
fetch() { "$admin" remote fetch --server bench --database dw --model "$1"; }

now_ns() { date +%s%N; }
# CPU time (user + system, nanoseconds) of a process and its threads, from the scheduler.
cpu_ns() {
    local total=0 t
    for t in /proc/"$1"/task/*/schedstat; do
        total=$((total + $(cut -d' ' -f1 "$t")))
    done
    echo "$total"
}
