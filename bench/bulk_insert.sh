#!/usr/bin/env bash
# Bulk insert of a generated CSV file (1,000,000 rows by default, ROWS=n to change; BATCH=n rows
# per batch, 50,000 by default; SHAPE=typed for 10 columns of many types, SHAPE=zoned for time
# stamps with time zones, times, UUIDs and JSON, instead of the 8 mostly text columns; see
# bench/gen_csv.py):
#   embedded server: Pendrill's BulkInsert task  vs  sqlite3's .import of the same file
#   PostgreSQL:      Pendrill's BulkInsert task  vs  psql's \copy of the same file
# into the same table, one after the other in this run. Prints rows per second and the ratios.
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
rate() { python3 -c "print(f'{$1 / ($3 - $2):12,.0f}')"; }
secs() { python3 -c "print(f'{$2 - $1:8.2f}')"; }

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
    *) echo "SHAPE is orders, typed or zoned" >&2; exit 2 ;;
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

run_pendrill() {  # server package-file name [login...]
    local server=$1 file=$2 name=$3
    shift 3
    "$bin/pendrill-admin" package import "$file" --server "$server" "$@" >/dev/null
    local t0 t1
    t0=$(now)
    "$bin/pendrill-admin" package run "$name" --server "$server" "$@" --logdir "$work/logs" \
        --exception-file "$work/$name.log" >/dev/null
    t1=$(now)
    echo "$t0 $t1"
}

# --- embedded server --------------------------------------------------------------------------
mkdir -p "$work/embedded"
"$bin/pendrill-admin" server add bench "sqlite:$work/embedded" >/dev/null
sqlite3 "$work/embedded/BenchDW.db" "$table_sql"
package Bench_Embedded bench BenchDW >"$work/embedded.xml"
read -r p0 p1 < <(run_pendrill bench "$work/embedded.xml" Bench_Embedded --trusted)
loaded=$(sqlite3 "$work/embedded/BenchDW.db" "SELECT count(*) FROM orders")

sqlite3 "$work/sqlite3.db" "$table_sql"
s0=$(now)
sqlite3 "$work/sqlite3.db" ".import --csv --skip 1 $work/orders.csv orders"
s1=$(now)
imported=$(sqlite3 "$work/sqlite3.db" "SELECT count(*) FROM orders")

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
read -r q0 q1 < <(run_pendrill benchpg "$work/pg.xml" Bench_Postgres --user bench --password "")
pg_loaded=$(psql_ -d benchdw -tAc "SELECT count(*) FROM orders")

c0=$(now)
psql_ -d benchcopy -c "\\copy orders FROM '$work/orders.csv' WITH (FORMAT csv, HEADER true)"
c1=$(now)
copied=$(psql_ -d benchcopy -tAc "SELECT count(*) FROM orders")

# --- figures ----------------------------------------------------------------------------------
echo
echo "bulk insert of $rows rows x $columns columns ($(du -h "$work/orders.csv" | cut -f1)), batch $batch"
printf '%-34s %10s %8s %14s\n' "" rows seconds rows/s
printf '%-34s %10s %8s %14s\n' "embedded: pendrill BulkInsert" "$loaded" "$(secs "$p0" "$p1")" "$(rate "$loaded" "$p0" "$p1")"
printf '%-34s %10s %8s %14s\n' "embedded: sqlite3 .import" "$imported" "$(secs "$s0" "$s1")" "$(rate "$imported" "$s0" "$s1")"
printf '%-34s %10s %8s %14s\n' "PostgreSQL: pendrill BulkInsert" "$pg_loaded" "$(secs "$q0" "$q1")" "$(rate "$pg_loaded" "$q0" "$q1")"
printf '%-34s %10s %8s %14s\n' "PostgreSQL: psql \\copy" "$copied" "$(secs "$c0" "$c1")" "$(rate "$copied" "$c0" "$c1")"
python3 - "$p0" "$p1" "$s0" "$s1" "$q0" "$q1" "$c0" "$c1" <<'PY'
import sys
p0, p1, s0, s1, q0, q1, c0, c1 = map(float, sys.argv[1:])
print(f"\nembedded:   pendrill time / sqlite3 .import time = {(p1 - p0) / (s1 - s0):.2f}  (goal <= 0.50)")
print(f"PostgreSQL: pendrill time / psql \\copy time      = {(q1 - q0) / (c1 - c0):.2f}  (goal <= 0.80)")
PY
