#!/usr/bin/env bash
# Crash loop: kills pendrill-admin and pendrill with SIGKILL at random moments and checks, after
# each kill, that nothing was left broken:
#   - the run configuration reads back (`config show`), and a key being written holds its old
#     or its new value, never a mix or nothing;
#   - the status file is absent or holds one whole word (running, ok, failure), and no copy of
#     a replaced file is left beside it but its ".NAME.pendrill-new", which the next write of
#     the file clears (checked at the end);
#   - the job-history repository and the embedded server's databases pass
#     `PRAGMA integrity_check`;
#   - after a killed run, the next run of the same configuration ends "ok".
#
#   crash_loop.sh [ITERATIONS]          (default 20; bench/crash_loop.sh runs a long loop)
#
# PENDRILL_BIN=dir takes the programs from another build (default build/bin), CRASH_LOOP_SEED=n
# repeats a loop's random moments, CRASH_LOOP_KEEP=1 keeps the private home for a look. Exit
# status 0 when every check held, 1 at the first one that did not (the home is kept then).
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
bin=${PENDRILL_BIN:-$here/build/bin}
iterations=${1:-20}
RANDOM=${CRASH_LOOP_SEED:-$$}
# shellcheck disable=SC1091
source "$here/tests/support/demo_home.sh"

for tool in sqlite3 "$bin/pendrill" "$bin/pendrill-admin"; do
    command -v "$tool" >/dev/null || { echo "crash_loop: $tool missing" >&2; exit 1; }
done

home=$(mktemp -d "${TMPDIR:-/tmp}/pendrill-crash.XXXXXX")
etl=$home/demo.etl
status=$home/status
demo_home "$bin" "$home" || { echo "crash_loop: demo set-up failed" >&2; exit 1; }
repo=$XDG_DATA_HOME/pendrill/repository.db
servers=$XDG_DATA_HOME/pendrill/servers

fail() {
    echo "crash_loop: iteration $i ($kind, killed after ${delay} ms): $*" >&2
    echo "crash_loop: files kept in $home (seed ${CRASH_LOOP_SEED:-$$})" >&2
    exit 1
}

# Sleeps a random number of milliseconds in [0, $1) and remembers it in `delay`.
random_pause() {
    delay=$((RANDOM % $1))
    sleep "$(printf '0.%03d' "$delay")"
}

# Starts the command in the background and kills it with SIGKILL after a random pause.
kill_at_random() {
    local window=$1
    shift
    "$@" >/dev/null 2>&1 &
    local pid=$!
    random_pause "$window"
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    # 137: the kill landed while the program was still at work.
    [ $? -eq 137 ] && midway=$((midway + 1))
}

check_files() {
    local out
    out=$("$bin/pendrill-admin" config show "$etl" 2>&1) || fail "config show: $out"
    if [ -e "$status" ]; then
        case $(cat "$status") in
            $'running\r' | $'ok\r' | $'failure\r') ;;
            *) fail "status file holds '$(cat -v "$status")'" ;;
        esac
    fi
    # A replaced file's new content has no name until the moment of its rename: a kill leaves
    # at most .NAME.pendrill-new (the next write of NAME removes it, checked at the end), never
    # another copy.
    local stray
    stray=$(find "$home" -mindepth 1 -maxdepth 1 \( -name '*.??????' -o \
        \( -name '.*' -a ! -name '.*.pendrill-new' \) \) -printf '%f ')
    [ -z "$stray" ] || fail "left behind: $stray"
    local db result
    for db in "$repo" "$servers"/*/*.db; do
        [ -e "$db" ] || continue
        result=$(sqlite3 "$db" 'PRAGMA integrity_check' 2>&1)
        [ "$result" = ok ] || fail "integrity_check of $db: $result"
    done
}

# A value of random length (the file is rewritten whole, so a longer value is a longer write).
random_value() {
    local n=$((1 + RANDOM % 1500))
    printf 'v%d-%*s' "$1" "$n" '' | tr ' ' 'x'
}

section="Data Source::Orders"
kinds=(set set-password run)
# `history prune` of old records, killed at a random moment, joins the loop when this build has
# it.
if "$bin/pendrill-admin" history prune --help >/dev/null 2>&1; then
    kinds+=(prune)
fi

"$bin/pendrill-admin" config set "$etl" "$section" User v0 || fail "first config set"
"$bin/pendrill-admin" config set "$etl" "$section" Password p0 || fail "first config set"
i=0 kind=setup delay=0
"$bin/pendrill" -configfile "$etl" -statusfile "$status" -job_id 0 >/dev/null 2>&1 ||
    fail "the first run did not end ok"
runs=0 kills=0 midway=0
for ((i = 1; i <= iterations; i++)); do
    kind=${kinds[RANDOM % ${#kinds[@]}]}
    case $kind in
        set | set-password)
            key=User
            [ "$kind" = set-password ] && key=Password
            old=$("$bin/pendrill-admin" config get "$etl" "$section" "$key") ||
                fail "config get $key before the kill"
            new=$(random_value "$i")
            kill_at_random 40 "$bin/pendrill-admin" config set "$etl" "$section" "$key" "$new"
            check_files
            now=$("$bin/pendrill-admin" config get "$etl" "$section" "$key") ||
                fail "config get $key after the kill"
            [ "$now" = "$old" ] || [ "$now" = "$new" ] ||
                fail "$key holds neither the old nor the new value (${#now} characters)"
            ;;
        run)
            kill_at_random 250 "$bin/pendrill" -configfile "$etl" -statusfile "$status" \
                -logfile "$home/pendrill.log" -job_id "crash-$i"
            check_files
            runs=$((runs + 1))
            out=$("$bin/pendrill" -configfile "$etl" -statusfile "$status" \
                -logfile "$home/pendrill.log" -job_id "after-$i" 2>&1) ||
                fail "the run after the kill ended with exit status $?: $out"
            [ "$(cat "$status")" = $'ok\r' ] ||
                fail "status after the next run: $(cat -v "$status")"
            check_files
            ;;
        prune)
            # ---- history prune: killed while it deletes every record (all are older than
            # the day after tomorrow); one transaction, so all of them stay or none ----
            # Enough old records that the kill can land inside the deletion.
            sqlite3 "$repo" "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n
                WHERE i < 20000) INSERT INTO job_history (Kind, ApplicationName, JobIdentifier,
                Status, Message, EndTime, RecordTime, Arguments) SELECT 4, 'Pendrill', 'old',
                0, 'an old record', '2025-01-01T00:00:00Z', 1735689600, '[]' FROM n" ||
                fail "old records for prune"
            before=$(sqlite3 "$repo" 'SELECT count(*) FROM job_history')
            kill_at_random 60 "$bin/pendrill-admin" history prune \
                --before "$(date -d '+2 days' +%Y-%m-%d)"
            check_files
            after=$(sqlite3 "$repo" 'SELECT count(*) FROM job_history')
            [ "$after" = "$before" ] || [ "$after" = 0 ] ||
                fail "$after of $before job-history records left by a killed prune"
            "$bin/pendrill-admin" history --limit 1 >/dev/null 2>&1 ||
                fail "history after a killed prune"
            ;;
    esac
    kills=$((kills + 1))
done

# Whole writes of the files a kill may have left a replacement's name beside clear it.
kind=final delay=0
"$bin/pendrill-admin" config set "$etl" "$section" User final >/dev/null || fail "last config set"
"$bin/pendrill" -configfile "$etl" -statusfile "$status" -logfile "$home/pendrill.log" \
    -job_id final >/dev/null 2>&1 || fail "the last run did not end ok"
left=$(find "$home" -mindepth 1 -maxdepth 1 -name '.*.pendrill-new' -printf '%f ')
[ -z "$left" ] || fail "still there after the next writes: $left"

echo "crash_loop: $kills kills ($runs of runs, $midway while at work), every file whole," \
    "every next run ok"
if [ "${CRASH_LOOP_KEEP:-0}" = 1 ]; then
    echo "crash_loop: files kept in $home"
else
    rm -rf "$home"
fi
