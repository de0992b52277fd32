#!/usr/bin/env bash
# Runs the demo job unattended, as a scheduler would, and shows what it left behind: the status
# word, the run log and the newest job-history record. Exits with pendrill's own exit status.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bin="$here/build/bin"
config="$here/examples/demo/demo.etl"
out=${PENDRILL_JOB_DIR:-$(mktemp -d /tmp/pendrill-job.XXXXXX)}
mkdir -p "$out"

echo "pendrill: running $config"
"$bin/pendrill" -configfile "$config" -statusfile "$out/status" -logfile "$out/run.log" -job_id 1
status=$?
echo "exit status : $status"
echo "status file : $(tr -d '\r' <"$out/status" 2>/dev/null || echo '(none)')"
echo "run log     : $out/run.log"
sed 's/\r$//; s/^/    /' "$out/run.log" 2>/dev/null
echo "job history :"
"$bin/pendrill-admin" history --limit 1 | sed 's/^/    /'
exit $status
