#!/usr/bin/env bash
# Package store with a large version in it: times `pendrill-admin package import` and `package
# run` of a small package on an embedded server, first while the store holds that package alone
# (the peer figure), then after a version of it of about DOC_MB MB (50 by default) and one more
# small version were stored, so that the large version is neither the newest nor the only one.
# Prints the medians of PAIRS runs (5 by default) of each, the ratio (goal: about 1.0, the cost not depending on the other versions) and the
# bytes each command read from files (from strace when it is installed).
# Needs a build (build/bin; PENDRILL_BIN=dir for another) and python3.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bin=${PENDRILL_BIN:-$here/build/bin}
admin="$bin/pendrill-admin"
doc_mb=${DOC_MB:-50}
pairs=${PAIRS:-5}

work=$(mktemp -d /tmp/pendrill-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" HOME="$work"
"$admin" server add srv "sqlite:$work/srv" >/dev/null

package() {  # package NAME PADDING_BYTES
    printf '<?xml version="1.0"?>\n<Package name="%s" description="bench">\n' "$1"
    [ "$2" -gt 0 ] && python3 -c "import sys; sys.stdout.write('<!-- ' + 'x' * $2 + ' -->\n')"
    printf '<Steps><Step name="Nothing"><RunProgram program="true"/></Step></Steps></Package>\n'
}
package Bench_LoadDW 0 >"$work/small.xml"
package Bench_LoadDW $((doc_mb * 1024 * 1024)) >"$work/large.xml"

seconds() {  # seconds COMMAND...: the elapsed time of one command
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || true
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
}
read_bytes() {  # read_bytes COMMAND...: bytes read by the command (read, pread64)
    command -v strace >/dev/null || { echo "?"; return; }
    strace -f -e trace=read,pread64 -o "$work/strace" "$@" >/dev/null 2>&1 || true
    awk '/= [0-9]+$/ { n += $NF } END { print n + 0 }' "$work/strace"
}
median() { printf '%s\n' "$@" | sort -g | sed -n "$((($# + 1) / 2))p"; }

import=("$admin" package import "$work/small.xml" --server srv)
run=("$admin" package run Bench_LoadDW --server srv --logdir "$work/logs")
"${import[@]}" >/dev/null

# measure LABEL: the import and the run, PAIRS times each, their medians into LABEL_import/run.
declare -A figures
measure() {
    local imports=() runs=() i
    for ((i = 0; i < pairs; i++)); do
        imports+=("$(seconds "${import[@]}")")
        runs+=("$(seconds "${run[@]}")")
    done
    figures[$1_import]=$(median "${imports[@]}")
    figures[$1_run]=$(median "${runs[@]}")
    figures[$1_import_bytes]=$(read_bytes "${import[@]}")
    figures[$1_run_bytes]=$(read_bytes "${run[@]}")
}
measure before
"$admin" package import "$work/large.xml" --server srv >/dev/null
"$admin" package import "$work/small.xml" --server srv >/dev/null
measure after

echo "package store, embedded server: a small package, before and after a $doc_mb MB version"
for what in import run; do
    printf "  %-8s %6.3f s (%s bytes read) before, %6.3f s (%s bytes read) after: %.2f x, goal ~1.00\n" \
        "$what" "${figures[before_$what]}" "${figures[before_${what}_bytes]}" \
        "${figures[after_$what]}" "${figures[after_${what}_bytes]}" \
        "$(echo "${figures[after_$what]} / ${figures[before_$what]}" | bc -l)"
done
