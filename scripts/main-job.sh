#!/usr/bin/env bash
# The demo job on the embedded local server "(local)": sets up the demo warehouse DemoDW (its
# data-link catalogue and the data link "Orders" of the model "Demo"), stores the package
# Demo_LoadDW in the server's package store and runs it as a scheduler would, then shows what
# the run left behind: the merged run log (with the one rejected row of the demo file), the rows
# loaded and the job-history records. Exits with the run's status.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bin="$here/build/bin"
demo="$here/examples/demo"
job=${PENDRILL_JOB_DIR:-$(mktemp -d /tmp/pendrill-job.XXXXXX)}
mkdir -p "$job"
admin() { "$bin/pendrill-admin" "$@"; }
local_server="(local)"

echo "== demo warehouse DemoDW on $local_server"
admin datalink init --server "$local_server" --database DemoDW >/dev/null || exit 1
admin datalink add --server "$local_server" --database DemoDW --model Demo --name Orders \
    --type 3 --ds-directory "$demo/data/" >/dev/null 2>&1 ||
    admin datalink set --server "$local_server" --database DemoDW --model Demo --name Orders \
        --type 3 --ds-directory "$demo/data/" || exit 1
admin datalink list --server "$local_server" --database DemoDW --model Demo | sed 's/^/    /'

echo "== package store"
admin package import "$demo/Demo_LoadDW.xml" --server "$local_server" || exit 1
admin package list --server "$local_server" | sed 's/^/    /'

echo "== run configuration $job/demo.etl"
cp "$demo/demo.etl" "$job/demo.etl"
admin config set "$job/demo.etl" "Package Info" LogFile "$job/run.log"
admin config set "$job/demo.etl" "Package Info" LogFileDir "$job/logs"

echo "== running Demo_LoadDW (job 1)"
admin package run Demo_LoadDW --server "$local_server" --set JobID=1 \
    --set DestinationServer="$local_server" --set DestServerDatabaseName=DemoDW \
    --set DestServerTrustedLogin=true --logdir "$job/logs" --exception-file "$job/run.log"
status=$?
echo "exit status : $status"
echo "run log     : $job/run.log"
sed 's/\r$//; s/^/    /' "$job/run.log" 2>/dev/null
db="${XDG_DATA_HOME:-$HOME/.local/share}/pendrill/servers/local/DemoDW.db"
if command -v sqlite3 >/dev/null; then
    echo "rows staged : $(sqlite3 "$db" 'SELECT count(*) FROM stage_orders')"
    echo "load runs   : $(sqlite3 "$db" "SELECT group_concat(job_id || ':' || outcome, ' ') FROM load_runs")"
fi

echo "== unattended program: pendrill -configfile $job/demo.etl"
"$bin/pendrill" -configfile "$job/demo.etl" -statusfile "$job/status" \
    -logfile "$job/pendrill.log" -job_id 1
echo "exit status : $? (status file: $(tr -d '\r' <"$job/status" 2>/dev/null || echo none))"
echo "job history :"
admin history --limit 2 | sed 's/^/    /'
exit $status
