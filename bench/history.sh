#!/usr/bin/env bash
# Job history at scale: creates RECORDS job-history records (100,000 by default) in a private
# repository and measures `pendrill-admin history` (elapsed time and maximum resident memory,
# from /usr/bin/time) listing them all as JSON and as text, the default listing, a filtered one,
# and a prune of half of them. First on the default SQLite repository, then (unless PG=0) on a
# private PostgreSQL server reached through a postgresql:// repository location.
# Needs a build (build/bin; PENDRILL_BIN=dir for another) and /usr/bin/time.
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

listings() {
    measure "history --json (all $records)" "$admin" history --json
    python3 -c "import json,sys; n=len(json.load(open(sys.argv[1]))); assert n==$records, n" \
        "$work/out"
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
