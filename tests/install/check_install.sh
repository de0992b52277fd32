#!/usr/bin/env bash
# What `cmake --install` puts in place, checked as an operator would use it:
#   - the programs, manual pages, bash completion and nightly-run examples are there;
#   - the manual pages render without warnings and name every option the programs' --help
#     texts name;
#   - the completion script loads in bash and completes commands, options and file names;
#   - the systemd units pass `systemd-analyze verify` (when it is installed), and the service's
#     command, run as systemd runs it (no display, no runtime directory, the unit's
#     environment only), ends a demo run "ok";
#   - the cron wrapper is silent after a good run and reports a failed one by mail, or on
#     standard output when there is no mailer.
#
#   check_install.sh CMAKE BUILD_DIR
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cmake=$1
build=$2
# shellcheck disable=SC1091
source "$here/tests/support/demo_home.sh"

tmp=$(mktemp -d "${TMPDIR:-/tmp}/pendrill-install.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/usr
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

"$cmake" --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1 ||
    { cat "$tmp/install.log" >&2; echo "FAIL: cmake --install" >&2; exit 1; }

examples=$prefix/share/doc/pendrill/examples
for f in bin/pendrill bin/pendrill-admin share/doc/pendrill/examples/cron/pendrill-cron; do
    [ -x "$prefix/$f" ] || fail "$f missing or not executable"
done
for f in share/man/man1/pendrill.1 share/man/man1/pendrill-admin.1 share/man/man5/pendrill.etl.5 \
    share/bash-completion/completions/pendrill-admin \
    share/doc/pendrill/examples/systemd/pendrill-nightly@.service \
    share/doc/pendrill/examples/systemd/pendrill-nightly@.timer \
    share/doc/pendrill/examples/systemd/pendrill-failure@.service \
    share/doc/pendrill/examples/systemd/pendrill-metrics.service \
    share/doc/pendrill/examples/systemd/pendrill-metrics.timer \
    share/doc/pendrill/examples/cron/pendrill.crontab \
    share/applications/pendrill.desktop share/mime/packages/pendrill.xml; do
    [ -s "$prefix/$f" ] || fail "$f missing"
done
# The desktop entry opens .etl files: the file type it names is the one installed, and its
# command opens the file in the window.
grep -qx 'MimeType=application/x-pendrill-etl;' "$prefix/share/applications/pendrill.desktop" &&
    grep -qx 'Exec=pendrill -open %f' "$prefix/share/applications/pendrill.desktop" ||
    fail "the desktop entry does not open .etl files"
xmllint --noout "$prefix/share/mime/packages/pendrill.xml" 2>/dev/null ||
    ! command -v xmllint >/dev/null || fail "pendrill.xml is not well-formed"
if command -v update-mime-database >/dev/null; then
    update-mime-database "$prefix/share/mime" >/dev/null 2>&1 &&
        grep -q 'application/x-pendrill-etl' "$prefix/share/mime/globs2" ||
        fail "update-mime-database does not take pendrill.xml"
fi
grep -q "$prefix/bin/pendrill" "$examples/systemd/pendrill-nightly@.service" ||
    fail "the service does not name the installed program"
grep -q "$prefix/bin/pendrill-admin history metrics" "$examples/systemd/pendrill-metrics.service" ||
    fail "the metrics service does not name the installed program"
grep -q "$examples/" "$prefix/share/man/man1/pendrill.1" ||
    fail "pendrill(1) does not name the installed examples"

# Manual pages: no warnings from groff or man, and every option of the --help texts.
etl_page=$prefix/share/man/man5/pendrill.etl.5
warnings=$( (groff -ww -man -z "$etl_page"; MANWIDTH=80 man --warnings -l "$etl_page" >/dev/null) 2>&1)
[ -z "$warnings" ] || fail "pendrill.etl.5 has warnings: $warnings"
options_of() { grep -oE -- '(^|[][ (|,])--?[a-z][a-z_-]*' | sed 's/^[^-]*//' | sort -u; }
for page in pendrill pendrill-admin; do
    file=$prefix/share/man/man1/$page.1
    warnings=$(groff -ww -man -z "$file" 2>&1)
    [ -z "$warnings" ] || fail "groff warns about $page.1: $warnings"
    text=$(MANWIDTH=80 man --warnings -l "$file" 2>"$tmp/man.err")
    [ -s "$tmp/man.err" ] && fail "man warns about $page.1: $(cat "$tmp/man.err")"
    case $page in
        pendrill) help=$("$prefix/bin/pendrill" --help) ;;
        pendrill-admin)
            help=$("$prefix/bin/pendrill-admin" --help)
            for c in config history server datalink package remote "package list"; do
                # shellcheck disable=SC2086
                help+=$'\n'$("$prefix/bin/pendrill-admin" $c --help 2>&1)
            done
            ;;
    esac
    # man hyphenates long words at line ends; join them before looking for options.
    flat=$(MANWIDTH=1000 man -l "$file" 2>/dev/null)
    for option in $(options_of <<<"$help"); do
        grep -q -e "$option\b" <<<"$flat" || fail "$page.1 does not name $option"
    done
    grep -q "EXIT STATUS" <<<"$text" || fail "$page.1 has no EXIT STATUS section"
done

# Completion: loads in a plain bash and completes as a user expects (the words of the command
# line as bash splits them, separated by ';', and what is offered for the last one).
completion=$prefix/share/bash-completion/completions/pendrill-admin
bash -n "$completion" || fail "the completion script does not parse"
mkdir -p "$tmp/cwd/jobs dir" && touch "$tmp/cwd/jobs dir/sales.etl" "$tmp/cwd/Demo.xml"
while IFS='|' read -r line expected; do
    got=$(cd "$tmp/cwd" && bash --norc --noprofile -c '
        source "$1" || exit 1
        complete -p pendrill-admin >/dev/null || exit 1
        IFS=";" read -ra COMP_WORDS <<<"$2"
        [[ $2 == *";" ]] && COMP_WORDS+=("")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        _pendrill_admin
        echo "${COMPREPLY[*]}"' _ "$completion" "$line")
    [ "$got" = "$expected" ] || fail "completion of '$line': '$got', expected '$expected'"
done <<'CASES'
pendrill-admin;hi|history
pendrill-admin;con|config
pendrill-admin;config;s|show set
pendrill-admin;config;show;jo|jobs dir
pendrill-admin;config;show;jobs\ dir/|jobs dir/sales.etl
pendrill-admin;config;set;x.etl;--|--force --help
pendrill-admin;history;pr|prune
pendrill-admin;history;--s|--status --since
pendrill-admin;datalink;add;--poll-i|--poll-interval
pendrill-admin;datalink;set;--ds-trusted-login;f|false
pendrill-admin;package;import;De|Demo.xml
pendrill-admin;package;run;X;--logdir;jo|jobs dir
pendrill-admin;remote;|status fetch check --help
pendrill-admin;server;list;--|--json --help
CASES
# bash-completion, when installed, finds the script under the prefix by itself.
loader=/usr/share/bash-completion/bash_completion
if [ -r "$loader" ]; then
    found=$(XDG_DATA_DIRS="$prefix/share" bash --norc --noprofile -c '
        source "$1" 2>/dev/null
        __load_completion pendrill-admin && complete -p pendrill-admin' _ "$loader" 2>&1)
    grep -q -- "-F _pendrill_admin pendrill-admin" <<<"$found" ||
        fail "bash-completion does not load the completion: $found"
fi
# Every option of pendrill-admin's help texts is offered somewhere.
for option in $(options_of <<<"$help"); do
    grep -q -e "$option\b" "$completion" || fail "the completion does not offer $option"
done

# Scripts parse.
for script in "$examples/cron/pendrill-cron" "$here/tests/faults/crash_loop.sh" \
    "$here/bench/crash_loop.sh"; do
    bash -n "$script" || fail "$script does not parse"
done

# systemd units.
if command -v systemd-analyze >/dev/null; then
    out=$(cd "$examples/systemd" && MANPATH=$prefix/share/man systemd-analyze verify \
        "$examples/systemd/pendrill-nightly@demo.service" \
        "$examples/systemd/pendrill-nightly@demo.timer" \
        "$examples/systemd/pendrill-failure@pendrill-nightly@demo.service" 2>&1) ||
        fail "systemd-analyze verify: $out"
    [ -z "$out" ] || fail "systemd-analyze verify warns: $out"
    # The service's confinement: an exposure of at most 4.0 ("OK").
    cp "$examples/systemd/pendrill-nightly@.service" "$tmp/pendrill-nightly@demo.service"
    exposure=$(systemd-analyze security --offline=yes "$tmp/pendrill-nightly@demo.service" |
        sed -n 's/.*exposure level for [^:]*: \([0-9.]*\).*/\1/p')
    awk -v e="$exposure" 'BEGIN { exit !(e != "" && e <= 4.0) }' ||
        fail "systemd-analyze security rates the service's exposure ${exposure:-?}"
else
    echo "systemd-analyze not installed: units not verified"
fi

# The service's command as systemd runs it: the unit's Environment= lines only, no display, no
# runtime directory; /etc/pendrill, /var/lib/pendrill and /var/log/pendrill moved into $tmp.
state=$tmp/state
demo_home "$prefix/bin" "$state" "$state/.config" "$state/.local/share" || fail "demo set-up"
mkdir -p "$tmp/etc" "$tmp/log" && cp "$state/demo.etl" "$tmp/etc/demo.etl"
unit=$(sed -e ':a' -e '/\\$/N; s/\\\n//; ta' "$examples/systemd/pendrill-nightly@.service" |
    sed -e "s#/etc/pendrill#$tmp/etc#g; s#/var/lib/pendrill#$state#g" \
        -e "s#/var/log/pendrill#$tmp/log#g; s#%i#demo#g")
mapfile -t environment < <(sed -n 's/^Environment=//p' <<<"$unit")
exec_start=$(sed -n 's/^ExecStart=//p' <<<"$unit")
[ -n "$exec_start" ] || fail "no ExecStart= in the service"
# shellcheck disable=SC2016
(
    cd "$state" &&
        env -i PATH=/usr/bin:/bin HOME="$state" "${environment[@]}" \
            bash -c 'eval "set -- $1"; exec "$@"' _ "$exec_start"
) >"$tmp/unit.out" 2>&1
status=$?
[ $status -eq 0 ] || fail "the service's command ended with $status: $(cat "$tmp/unit.out")"
[ "$(cat "$state/demo.status" 2>/dev/null)" = $'ok\r' ] || fail "the service's status file"
[ -s "$tmp/log/demo.log" ] || fail "the service's run log copy"
[ -s "$tmp/unit.out" ] && echo "the service's command printed: $(cat "$tmp/unit.out")"

# The cron wrapper: silent after a good run; a failed run mailed (mail(1) first), or printed.
wrapper=$examples/cron/pendrill-cron
mkdir -p "$tmp/mailbin"
printf '#!/bin/sh\necho "to: $*" >>"%s"\ncat >>"%s"\n' "$tmp/mailed" "$tmp/mailed" \
    >"$tmp/mailbin/mail"
chmod +x "$tmp/mailbin/mail"
cron() {
    env PENDRILL_STATE="$tmp/cron" PENDRILL_LOGS="$tmp/cron" PENDRILL_MAILTO=ops \
        SENDMAIL=/nonexistent PENDRILL="$prefix/bin/pendrill" "$@"
}
out=$(cron PATH="$tmp/mailbin:$PATH" "$wrapper" "$state/demo.etl" 2>&1)
status=$?
if [ $status -ne 0 ] || [ -n "$out" ] || [ -e "$tmp/mailed" ]; then
    fail "cron wrapper after a good run: status $status, output '$out'"
fi
out=$(cron PATH="$tmp/mailbin:$PATH" "$wrapper" "$tmp/missing.etl" 2>&1)
status=$?
if [ $status -ne 2 ] || [ -n "$out" ]; then
    fail "cron wrapper with mail: status $status, '$out'"
fi
if ! grep -q "to: -s Pendrill: missing failed (exit status 2) ops" "$tmp/mailed" ||
    ! grep -q "Can't find Config File" "$tmp/mailed"; then
    fail "mail: $(cat "$tmp/mailed" 2>/dev/null)"
fi
out=$(cron PATH=/usr/bin:/bin "$wrapper" "$tmp/missing.etl" 2>&1)
status=$?
mail_on_path=$(PATH=/usr/bin:/bin command -v mail)
if [ -z "$mail_on_path" ]; then
    if [ $status -ne 2 ] || ! grep -q "Exit status: 2, configuration file missing" <<<"$out"; then
        fail "cron wrapper without a mailer: status $status, output '$out'"
    fi
fi

if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "install: every check held"
