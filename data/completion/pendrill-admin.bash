# bash completion for pendrill-admin: commands, subcommands, options, and file names where a
# command takes a FILE or DIR.  Works with or without the bash-completion package.  The words
# are those of the program's command table (tests/tools/AdminCommandLineTest checks them).

_pendrill_admin() {
    local cur prev
    COMPREPLY=()
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD - 1]}

    local login="--user --password --password-file --trusted"
    local fields="--type --ds-server --ds-database --ds-trusted-login --ds-user --ds-password
        --ds-password-file --ds-file --ds-directory --ds-connect-string --transfer-data
        --ftp-server --ftp-user --ftp-password --ftp-password-file --remote-directory
        --poll-interval --poll-duration --null"

    # The command and subcommand are the first two words that are not options.
    local cmd="" sub="" i w
    for ((i = 1; i < COMP_CWORD; i++)); do
        w=${COMP_WORDS[i]}
        [[ $w == -* ]] && continue
        if [[ -z $cmd ]]; then
            cmd=$w
        elif [[ -z $sub ]]; then
            sub=$w
            break
        fi
    done

    # Values of options: files, directories, booleans; nothing to offer for free text.
    case $prev in
        -o | --exception-file | --password-file | --ds-password-file | --ftp-password-file)
            _pendrill_admin_files -f
            return
            ;;
        --logdir | --ds-directory)
            _pendrill_admin_files -d
            return
            ;;
        --ds-trusted-login)
            mapfile -t COMPREPLY < <(compgen -W "true false" -- "$cur")
            return
            ;;
        --null)
            mapfile -t COMPREPLY < <(compgen -W "type ds_server ds_database ds_trusted_login
                ds_user ds_password ds_file ds_directory ds_connect_string transfer_data
                ftp_server ftp_user ftp_password remote_directory poll_interval
                poll_duration" -- "$cur")
            return
            ;;
        --server | --database | --model | --name | --user | --password | --version | --set | \
            --type | --ds-* | --transfer-data | --ftp-* | --remote-directory | --poll-* | \
            --job | --status | --since | --until | --limit | --before)
            return
            ;;
    esac

    local words=""
    case $cmd in
        "")
            words="config history server datalink package remote settings --help --version"
            ;;
        config)
            if [[ -z $sub ]]; then
                words="show get set --help"
            elif [[ $cur == -* ]]; then
                case $sub in
                    show) words="--show-passwords --help" ;;
                    set) words="--force --help" ;;
                    *) words="--help" ;;
                esac
            else
                # The FILE comes right after the subcommand; SECTION, KEY and VALUE are free.
                local args=0
                for ((i = i + 1; i < COMP_CWORD; i++)); do
                    [[ ${COMP_WORDS[i]} != -* ]] && ((args++))
                done
                if ((args == 0)); then
                    _pendrill_admin_files -f
                    return
                fi
            fi
            ;;
        history)
            case $sub in
                prune) words="--before --job --host --help" ;;
                latest) words="--json --job --host --help" ;;
                check) words="--max-age --job --host --help" ;;
                metrics) words="--job --host --help" ;;
                *)
                    if [[ -z $sub && $cur != -* ]]; then
                        words="prune latest check metrics"
                    else
                        words="--json --json-lines --job --host --status --since --until --limit --help"
                    fi
                    ;;
            esac
            ;;
        server)
            case $sub in
                "") words="add list remove databases --help" ;;
                list) words="--json --help" ;;
                databases) words="--server $login --help" ;;
                *) words="--help" ;;
            esac
            ;;
        datalink)
            case $sub in
                "") words="init add set list --help" ;;
                init) words="--server --database $login --help" ;;
                add | set) words="--server --database --model --name $fields $login --help" ;;
                list) words="--server --database --model --json --show-passwords $login --help" ;;
            esac
            ;;
        package)
            case $sub in
                "") words="import export delete list-versions list run --help" ;;
                import)
                    if [[ $cur != -* ]]; then
                        _pendrill_admin_files -f
                        return
                    fi
                    words="--server $login --help"
                    ;;
                export) words="--server --version -o $login --help" ;;
                list) words="--server --models --model $login --help" ;;
                run) words="--server --set --logdir --exception-file $login --help" ;;
                *) words="--server $login --help" ;;
            esac
            ;;
        remote)
            case $sub in
                "") words="status fetch check --help" ;;
                status | check) words="--server --database --model --name $login --help" ;;
                fetch) words="--server --database --model $login --help" ;;
            esac
            ;;
        settings)
            local names="repository ftp.passive ftp.connect-timeout ftp.data-timeout ftp.ca-file
                on-failure on-success hook-timeout"
            case $sub in
                "") words="list get set test --help" ;;
                list) words="--json --help" ;;
                test) words="repository --help" ;;
                get | set)
                    if [[ $prev == "$sub" ]]; then
                        words="$names --help"
                    elif [[ $sub == set && $prev == ftp.passive ]]; then
                        words="true false"
                    elif [[ $sub == set && $prev == ftp.ca-file ]]; then
                        _pendrill_admin_files -f
                        return
                    else
                        words="--help"
                    fi
                    ;;
            esac
            ;;
    esac
    mapfile -t COMPREPLY < <(compgen -W "$words" -- "$cur")
}

# File (-f) or directory (-d) names for the current word, keeping blanks inside names.
# The word as typed may hold backslash escapes or an opening quote; compgen wants it plain.
_pendrill_admin_files() {
    local word=${cur//\\/}
    word=${word#[\"\']}
    compopt -o filenames 2>/dev/null
    if [[ $1 == -d ]]; then
        mapfile -t COMPREPLY < <(compgen -d -- "$word")
    else
        mapfile -t COMPREPLY < <(compgen -f -- "$word")
    fi
}

complete -F _pendrill_admin pendrill-admin
