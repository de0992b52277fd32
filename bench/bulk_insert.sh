#!/usr/bin/env bash
# Bulk insert of a generated CSV file (1,000,000 rows by default, ROWS=n to change; BATCH=n rows
# per batch, 50,000 by default; SHAPE=typed for 10 columns of many types, SHAPE=zoned for time
# stamps with time zones, times, UUIDs and JSON, SHAPE=longtext for long quoted texts,
# SHAPE=sparse for 12 columns of mostly empty fields, instead of the 8 mostly text columns; see
# bench/gen_csv.py; KEY=1 makes id the table's primary key):
#   embedded server: Pendrill's BulkInsert task  vs  sqlite3's .import of the same file
#   PostgreSQL:      Pendrill's BulkInsert task  vs  psql's \copy of the same file
# into the same table, PAIRS times in turn (3 by default), each load into a new table. Prints the
# medians, rows per second and the ratios.
# Needs a build (build/bin) and the packages of scripts/bootstrap.sh; starts and stops its own
# PostgreSQL server on 127.0.0.1.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bin=${PENDRILL_BIN:-$here/build/bin}
rows=${ROWS:-1000000}
batch=${BATCH:-50000}

work=$(mktemp -d /tmp/pendrill-bench.XXXXXX)
chmod 755 "$work"
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
pgbin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
as_pg=()
[ "$(id -u)" -eq 0 ] && as_pg=(runuser -u postgres --)
cleanup() {
    if [ -f "$work/pg/postmaster.pid" ]; then
        "${as_pg[@]}" "$pgbin/pg_ctl" -D "$work/pg" -m fast stop >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

now() { date +%s.%N; }

shape=${SHAPE:-orders}
case $shape in
    orders)
        table_sql="CREATE TABLE orders (id INTEGER, customer TEXT, city TEXT, order_date TEXT,
           quantity INTEGER, amount NUMERIC(12,2), status TEXT, note TEXT)"
        columns=8 ;;
    typed)
        table_sql="CREATE TABLE orders (id INTEGER, name TEXT, note VARCHAR(20), d DATE,
           ts TIMESTAMP, flag BOOLEAN, price FLOAT8, qty SMALLINT, big BIGINT, amount NUMERIC(14,3))"
        columns=10 ;;
    zoned)
        table_sql="CREATE TABLE orders (id INTEGER, event_at TIMESTAMPTZ, logged_at TIMESTAMPTZ,
           at_time TIME, ref UUID, payload JSONB, source TEXT, note TEXT)"
        columns=8 ;;
    longtext)
        table_sql="CREATE TABLE orders (id INTEGER, title TEXT, body TEXT)"
        columns=3 ;;
    sparse)
        table_sql="CREATE TABLE orders (id INTEGER, c1 TEXT, c2 INTEGER, c3 TEXT, c4 INTEGER,
           c5 TEXT, c6 INTEGER, c7 TEXT, c8 INTEGER, c9 TEXT, c10 INTEGER, c11 TEXT)"
        columns=12 ;;
    *) echo "SHAPE is orders, typed, zoned, longtext or sparse" >&2; exit 2 ;;
esac
case ${KEY:-0} in
    0) ;;
    1) table_sql=${table_sql/id INTEGER,/id INTEGER PRIMARY KEY,} ;;
    *) echo "KEY is 0 or 1" >&2; exit 2 ;;
esac

echo "generating $rows rows..."
python3 "$here/bench/gen_csv.py" "$rows" "$work/orders.csv" "$shape"
chmod 644 "$work/orders.csv"
echo "file: $(du -h "$work/orders.csv" | cut -f1)"

package() {  # name server database [user password]
    local login='trusted="true"'
    [ $# -ge 5 ] && login="user=\"$4\" password=\"$5\""
    cat <<XML
<?xml version="1.0" encoding="UTF-8"?>
<Package name="$1">
  <GlobalVariables>
$(for v in ExceptionFilePath DTSServer DTSServerLoginUserName DTSServerLoginPassword \
           DestinationServer DestServerLoginUserName DestServerLoginPassword \
           DestServerDatabaseName JobID; do
      echo "    <GlobalVariable name=\"$v\" type=\"text\"></GlobalVariable>"; done)
$(for v in DTSServerTrustedLogin DestServerTrustedLogin WriteCompletionStatusToNT \
           OverwriteGlobalSettings; do
      echo "    <GlobalVariable name=\"$v\" type=\"boolean\">false</GlobalVariable>"; done)
  </GlobalVariables>
  <Connections>
    <Connection name="Target" server="$2" database="$3" $login/>
    <Connection name="Files" directory="$work"/>
  </Connections>
  <Steps>
    <Step name="Load">
      <BulkInsert connection="Target" table="orders" fileConnection="Files" file="orders.csv"
                  header="true" batchSize="$batch" maxErrors="0"/>
    </Step>
  </Steps>
</Package>
XML
}

pairs=${PAIRS:-3}
# One load by Pendrill's BulkInsert task: its seconds.
run_pendrill() {  # server name [login...]
    local server=$1 name=$2
    shift 2
    local t0 t1
    t0=$(now)
    "$bin/pendrill-admin" package run "$name" --server "$server" "$@" --logdir "$work/logs" \
        --exception-file "$work/$name.log" >/dev/null
    t1=$(now)
    python3 -c "print($t1 - $t0)"
}
# The seconds a command takes.
timed() {
    local t0 t1
    t0=$(now)
    "$@" >/dev/null
    t1=$(now)
    python3 -c "print($t1 - $t0)"
}
median() { printf '%s\n' "$@" | sort -g | sed -n "$((($# + 1) / 2))p"; }

# --- embedded server --------------------------------------------------------------------------
mkdir -p "$work/embedded"
"$bin/pendrill-admin" server add bench "sqlite:$work/embedded" >/dev/null
sqlite3 "$work/embedded/BenchDW.db" "$table_sql"
package Bench_Embedded bench BenchDW >"$work/embedded.xml"
"$bin/pendrill-admin" package import "$work/embedded.xml" --server bench --trusted >/dev/null
ours=() peer=()
for ((i = 0; i < pairs; i++)); do  # each load into a new table, the two programs in turn
    sqlite3 "$work/embedded/BenchDW.db" "DROP TABLE orders" "$table_sql"
    ours+=("$(run_pendrill bench Bench_Embedded --trusted)")
    rm -f "$work/sqlite3.db"
    sqlite3 "$work/sqlite3.db" "$table_sql"
    peer+=("$(timed sqlite3 "$work/sqlite3.db" ".import --csv --skip 1 $work/orders.csv orders")")
done
loaded=$(sqlite3 "$work/embedded/BenchDW.db" "SELECT count(*) FROM orders")
imported=$(sqlite3 "$work/sqlite3.db" "SELECT count(*) FROM orders")
embedded_ours=$(median "${ours[@]}") embedded_peer=$(median "${peer[@]}")

# --- PostgreSQL -------------------------------------------------------------------------------
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$work/pg" && chmod 700 "$work/pg"
[ "$(id -u)" -eq 0 ] && chown postgres "$work/pg"
"${as_pg[@]}" "$pgbin/initdb" -D "$work/pg" -U bench --auth=trust --no-sync -E UTF8 \
    --locale=C >/dev/null
"${as_pg[@]}" "$pgbin/pg_ctl" -D "$work/pg" -l "$work/pg/log" -w \
    -o "-p $port -k /tmp -c listen_addresses=127.0.0.1 -c fsync=off -c synchronous_commit=off" \
    start >/dev/null
psql_() { psql -X -q -h 127.0.0.1 -p "$port" -U bench "$@"; }
psql_ -d postgres -c "CREATE DATABASE benchdw" -c "CREATE DATABASE benchcopy"
psql_ -d benchdw -c "$table_sql"
psql_ -d benchcopy -c "$table_sql"

"$bin/pendrill-admin" server add benchpg "postgresql://bench@127.0.0.1:$port" >/dev/null
package Bench_Postgres benchpg benchdw bench "" >"$work/pg.xml"
"$bin/pendrill-admin" package import "$work/pg.xml" --server benchpg --user bench --password "" \
    >/dev/null
ours=() peer=()
for ((i = 0; i < pairs; i++)); do
    psql_ -d benchdw -c "DROP TABLE orders" -c "$table_sql" -c CHECKPOINT
    ours+=("$(run_pendrill benchpg Bench_Postgres --user bench --password "")")
    psql_ -d benchcopy -c "DROP TABLE orders" -c "$table_sql" -c CHECKPOINT
    peer+=("$(timed psql_ -d benchcopy \
        -c "\\copy orders FROM '$work/orders.csv' WITH (FORMAT csv, HEADER true)")")
done
pg_loaded=$(psql_ -d benchdw -tAc "SELECT count(*) FROM orders")
copied=$(psql_ -d benchcopy -tAc "SELECT count(*) FROM orders")
pg_ours=$(median "${ours[@]}") pg_peer=$(median "${peer[@]}")

# --- figures ----------------------------------------------------------------------------------
echo
echo "bulk insert of $rows rows x $columns columns ($(du -h "$work/orders.csv" | cut -f1)), batch $batch," \
    "medians of $pairs alternating pairs"
printf '%-34s %10s %8s %14s\n' "" rows seconds rows/s
line() {  # label rows seconds
    python3 - "$@" <<'PY'
import sys
label, rows, seconds = sys.argv[1], int(sys.argv[2]), float(sys.argv[3])
print(f"{label:<34} {rows:>10} {seconds:8.2f} {rows / seconds:14,.0f}")
PY
}
line "embedded: pendrill BulkInsert" "$loaded" "$embedded_ours"
line "embedded: sqlite3 .import" "$imported" "$embedded_peer"
line "PostgreSQL: pendrill BulkInsert" "$pg_loaded" "$pg_ours"
line "PostgreSQL: psql \\copy" "$copied" "$pg_peer"
python3 - "$embedded_ours" "$embedded_peer" "$pg_ours" "$pg_peer" <<'PY'
import sys
eo, ep, po, pp = map(float, sys.argv[1:])
print(f"\nembedded:   pendrill time / sqlite3 .import time = {eo / ep:.2f}  (goal <= 0.50)")
print(f"PostgreSQL: pendrill time / psql \\copy time      = {po / pp:.2f}  (goal <= 0.80)")
PY
