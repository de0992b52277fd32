#!/usr/bin/env bash
# Job history at scale: creates RECORDS job-history records (100,000 by default) in a private
# repository and measures `pendrill-admin history` (elapsed time and maximum resident memory,
# from /usr/bin/time) listing them all as JSON and as text, the default listing, a filtered one,
# and a prune of half of them. First on the default SQLite repository, then (unless PG=0) on a
# private PostgreSQL server reached through a postgresql:// repository location. On SQLite the
# JSON listing is also run against `sqlite3 -json` of the same table, in PAIRS alternating pairs
# (3 by default), printing both medians, the ratio and the goals (time <= 1.0 x, <= 50 MB).
# Needs a build (build/bin; PENDRILL_BIN=dir for another), /usr/bin/time and sqlite3.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bin=${PENDRILL_BIN:-$here/build/bin}
records=${RECORDS:-100000}
admin="$bin/pendrill-admin"

work=$(mktemp -d /tmp/pendrill-bench.XXXXXX)
chmod 755 "$work"
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
pgbin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
as_pg=()
[ "$(id -u)" -eq 0 ] && as_pg=(runuser -u postgres --)
cleanup() {
    if [ -f "$work/pg/postmaster.pid" ]; then
        "${as_pg[@]}" "$pgbin/pg_ctl" -D "$work/pg" -m fast stop >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# measure LABEL COMMAND...: elapsed seconds, maximum RSS and output size of one command.
measure() {
    local label=$1
    shift
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$work/out"
    read -r secs kib <"$work/time"
    printf "  %-44s %7.2f s %7.1f MB %9d lines\n" "$label" "$secs" "$(echo "$kib / 1024" | bc -l)" \
        "$(wc -l <"$work/out")"
}

# The records: one run a minute, ending at 1970 + 1.7e9 s onwards, every property and closing
# argument filled as a run fills them, statuses 0 to 3, job identifiers 1 to 50.
arguments='["DTS","Sales_Overall","Missing","Missing","Missing","Missing","Missing","Missing","Missing","Missing","Missing","Missing","Missing",99,"Missing","Missing",2.0,2.0,-1.0,"Missing","Missing","Missing","Missing","Missing",0,0]'
columns="Kind, ApplicationName, SourceServer, SourceDatabase, SourceUser, TargetServer,
         TargetDatabase, TargetUser, ExceptionFile, StartTime, EndTime, JobIdentifier, Status,
         Message, CurrentUserName, ComputerName, Arguments, RecordTime"

# against_sqlite3: `history --json` and `sqlite3 -json` of the same records, alternating.
against_sqlite3() {
    local select="SELECT Id, Kind, ApplicationName, $columns FROM job_history ORDER BY Id DESC"
    local ours=() peer=() ours_mb=() i secs kib
    for ((i = 0; i < ${PAIRS:-3}; i++)); do
        /usr/bin/time -f "%e %M" -o "$work/time" "$admin" history --json >/dev/null
        read -r secs kib <"$work/time"
        ours+=("$secs") ours_mb+=("$kib")
        /usr/bin/time -f "%e %M" -o "$work/time" sqlite3 -json \
            "$XDG_DATA_HOME/pendrill/repository.db" "$select" >/dev/null
        read -r secs kib <"$work/time"
        peer+=("$secs")
    done
    median() { printf '%s\n' "$@" | sort -g | sed -n "$((($# + 1) / 2))p"; }
    local a b m
    a=$(median "${ours[@]}") b=$(median "${peer[@]}") m=$(median "${ours_mb[@]}")
    printf "  %-44s %7.2f s (sqlite3 -json %.2f s): %.2f x, goal <= 1.00; %.1f MB, goal <= 50\n" \
        "history --json vs sqlite3 -json (median of ${PAIRS:-3})" "$a" "$b" \
        "$(echo "$a / $b" | bc -l)" "$(echo "$m / 1024" | bc -l)"
}

listings() {
    measure "history --json (all $records)" "$admin" history --json
    python3 -c "import json,sys; n=len(json.load(open(sys.argv[1]))); assert n==$records, n" \
        "$work/out"
    measure "history --json-lines" "$admin" history --json-lines
    measure "history --json --limit 0" "$admin" history --json --limit 0
    measure "history --limit all (text)" "$admin" history --limit all
    measure "history (newest 50, text)" "$admin" history
    measure "history --job 17 --status 3 --since DATE" "$admin" history --job 17 --status 3 \
        --since "$(date -u -d @$((1700000000 + records * 45)) +%Y-%m-%dT%H:%M:%SZ)"
    measure "history prune --before (half)" "$admin" history prune --before \
        "$(date -u -d @$((1700000000 + records * 30)) +%Y-%m-%dT%H:%M:%SZ)"
}

echo "SQLite repository, $records records:"
"$admin" history --limit 1 >/dev/null  # creates the repository
sqlite3 "$XDG_DATA_HOME/pendrill/repository.db" <<SQL
INSERT INTO job_history ($columns)
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $records)
SELECT 4, 'Pendrill', 'dts-server', 'DTS Local Packages', 'etl', 'warehouse', 'DW', 'etl',
       '/var/log/pendrill/sales.log',
       strftime('%Y-%m-%dT%H:%M:%SZ', 1700000000 + i * 60 - 42, 'unixepoch'),
       strftime('%Y-%m-%dT%H:%M:%SZ', 1700000000 + i * 60, 'unixepoch'),
       CAST(i % 50 AS TEXT), i % 4,
       CASE i % 4 WHEN 0 THEN '' ELSE 'Error: DTS package execute error on step ' || i END,
       'etl', 'runner-1', '$arguments', 1700000000 + i * 60
FROM n;
SQL
against_sqlite3
listings

if [ "${PG:-1}" != 0 ] && [ -n "$pgbin" ]; then
    port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
    mkdir -p "$work/pg" && chmod 700 "$work/pg"
    [ "$(id -u)" -eq 0 ] && chown postgres "$work/pg"
    "${as_pg[@]}" "$pgbin/initdb" -D "$work/pg" -U bench --auth=trust --no-sync -E UTF8 \
        --locale=C >/dev/null
    "${as_pg[@]}" "$pgbin/pg_ctl" -D "$work/pg" -l "$work/pg/log" -w \
        -o "-p $port -k /tmp -c listen_addresses=127.0.0.1 -c fsync=off" start >/dev/null
    mkdir -p "$XDG_CONFIG_HOME/pendrill"
    printf '[Software\\Tessaly\\Rook\\Repository]\r\nLocation=postgresql://bench@127.0.0.1:%s/history\r\n' \
        "$port" >"$XDG_CONFIG_HOME/pendrill/registry.ini"
    echo "PostgreSQL repository, $records records:"
    "$admin" history --limit 1 >/dev/null  # creates the database and its table
    psql -X -q -h 127.0.0.1 -p "$port" -U bench -d history <<SQL
INSERT INTO job_history ($columns)
SELECT 4, 'Pendrill', 'dts-server', 'DTS Local Packages', 'etl', 'warehouse', 'DW', 'etl',
       '/var/log/pendrill/sales.log',
       to_char(to_timestamp(1700000000 + i * 60 - 42) AT TIME ZONE 'UTC', 'YYYY-MM-DD"T"HH24:MI:SS"Z"'),
       to_char(to_timestamp(1700000000 + i * 60) AT TIME ZONE 'UTC', 'YYYY-MM-DD"T"HH24:MI:SS"Z"'),
       (i % 50)::text, i % 4,
       CASE i % 4 WHEN 0 THEN '' ELSE 'Error: DTS package execute error on step ' || i END,
       'etl', 'runner-1', '$arguments', 1700000000 + i * 60
FROM generate_series(1, $records) AS i;
ANALYZE job_history;
SQL
    listings
fi
