#!/usr/bin/env bash
# The demo job on the embedded local server "(local)", started the way a scheduler starts it:
# sets up the demo warehouse DemoDW (its data-link catalogue with the data link "Orders" of the
# model "Demo", not yet pointing at any files), stores the package Demo_Overall in the server's
# package store, writes a run configuration whose data-source section says where the order files
# are, and runs
#     pendrill -configfile demo.etl -statusfile status -logfile pendrill.log -job_id 1
# Then shows what the run left behind: the run log (with the one rejected row of the demo file),
# the rows loaded, the data link as the run saved it, and the job-history record. Exits with
# pendrill's exit status.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bin=${PENDRILL_BIN:-$here/build/bin}
demo="$here/examples/demo"
job=${PENDRILL_JOB_DIR:-$(mktemp -d /tmp/pendrill-job.XXXXXX)}
mkdir -p "$job"
admin() { "$bin/pendrill-admin" "$@"; }
indent() { sed 's/\r$//; s/^/    /'; }
local_server="(local)"

echo "== demo warehouse DemoDW on $local_server"
admin datalink init --server "$local_server" --database DemoDW >/dev/null || exit 1
admin datalink add --server "$local_server" --database DemoDW --model Demo --name Orders \
    --type 3 --ds-directory "$job/not configured/" >/dev/null 2>&1 ||
    admin datalink set --server "$local_server" --database DemoDW --model Demo --name Orders \
        --type 3 --ds-directory "$job/not configured/" || exit 1
admin datalink list --server "$local_server" --database DemoDW --model Demo | indent

echo "== package store"
admin package import "$demo/Demo_Overall.xml" --server "$local_server" || exit 1
admin package list --server "$local_server" | indent

echo "== run configuration $job/demo.etl"
# Written key by key with pendrill-admin from the template examples/demo/demo.etl, as an operator
# writes one on a server: each change under the file's lock, the file readable by its owner only.
# The demo logs on with trusted logins, so its password keys are written empty.
rm -f "$job/demo.etl"
section=
while IFS= read -r line; do
    line=${line%$'\r'}
    case $line in
    \[*\]) section=${line#[} section=${section%]} ;;
    *=*)
        key=${line%%=*} value=${line#*=}
        case $key in DTSPwd | DWPwd | Password | ConnectString | FTPPassword) value= ;; esac
        admin config set "$job/demo.etl" "$section" "$key" "$value" || exit 1
        ;;
    esac
done <"$demo/demo.etl"
admin config set "$job/demo.etl" "Package Info" LogFile "$job/run.log" || exit 1
admin config set "$job/demo.etl" "Package Info" LogFileDir "$job/logs/" || exit 1
admin config set "$job/demo.etl" "Data Source::Orders" Directory "$demo/data/" || exit 1
admin config show "$job/demo.etl" | indent

echo "== pendrill -configfile $job/demo.etl -statusfile $job/status -logfile $job/pendrill.log -job_id 1"
"$bin/pendrill" -configfile "$job/demo.etl" -statusfile "$job/status" \
    -logfile "$job/pendrill.log" -job_id 1
status=$?
echo "exit status : $status (status file: $(tr -d '\r' <"$job/status" 2>/dev/null || echo none))"
echo "run log     : $job/pendrill.log"
indent <"$job/pendrill.log" 2>/dev/null
db="${XDG_DATA_HOME:-$HOME/.local/share}/pendrill/servers/local/DemoDW.db"
query() {
    if command -v sqlite3 >/dev/null; then
        sqlite3 "$db" "$1"
    else
        python3 -c 'import sqlite3, sys; print(sqlite3.connect(sys.argv[1]).execute(sys.argv[2]).fetchone()[0])' "$db" "$1"
    fi
}
echo "rows staged : $(query 'SELECT count(*) FROM stage_orders')"
echo "rows loaded by job 1 : $(query "SELECT count(*) FROM fact_orders WHERE job_id = '1'")"
echo "load runs   : $(query "SELECT group_concat(job_id || ':' || outcome, ' ') FROM load_runs")"
echo "data link Orders as the run saved it:"
admin datalink list --server "$local_server" --database DemoDW --model Demo | indent
echo "job history :"
admin history --limit 1 | indent
exit $status
