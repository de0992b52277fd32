#!/bin/sh
# An on-failure hook for Pendrill: after an unattended run that did not end "ok", writes one line
# to the journal (or to syslog) and, when PENDRILL_MAILTO is set and a mailer is installed, mails
# the reason and the last 30 lines of the run log.
#
#   install -m 0755 notify-failure.sh /usr/local/bin/pendrill-notify-failure
#   pendrill-admin settings set on-failure /usr/local/bin/pendrill-notify-failure
#
# Pendrill gives the run's facts in PENDRILL_JOB_ID, PENDRILL_EXIT_STATUS, PENDRILL_STATUS,
# PENDRILL_REASON, PENDRILL_RUN_LOG, PENDRILL_CONFIG and, with -summaryfile, PENDRILL_SUMMARY.
# What this script prints goes into the run log ("Hook: ..."); its exit status changes nothing
# of the run.
set -u

subject="pendrill job ${PENDRILL_JOB_ID:-?} failed (exit status ${PENDRILL_EXIT_STATUS:-?})"
logger -p user.err -t pendrill -- "$subject: ${PENDRILL_REASON:-}" 2>/dev/null || true

if [ -n "${PENDRILL_MAILTO:-}" ] && command -v mail >/dev/null 2>&1; then
    {
        printf 'Job:         %s\n' "${PENDRILL_JOB_ID:-}"
        printf 'Host:        %s\n' "$(hostname)"
        printf 'Config:      %s\n' "${PENDRILL_CONFIG:-}"
        printf 'Exit status: %s\n' "${PENDRILL_EXIT_STATUS:-}"
        printf 'Reason:      %s\n' "${PENDRILL_REASON:-}"
        if [ -n "${PENDRILL_RUN_LOG:-}" ] && [ -r "$PENDRILL_RUN_LOG" ]; then
            printf '\nLast lines of %s:\n' "$PENDRILL_RUN_LOG"
            tail -n 30 -- "$PENDRILL_RUN_LOG"
        fi
    } | mail -s "$subject" "$PENDRILL_MAILTO"
    echo "failure mailed to $PENDRILL_MAILTO"
else
    echo "failure noted in the system log"
fi
