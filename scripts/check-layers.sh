#!/usr/bin/env bash
# Checks that every #include "..." under src/ and tools/ points down the layers (or stays in its
# own folder):
#
#   util <- config <- db <- history <- datasources <- dts, remote <- engine <- app <- gui
#
# A folder may include its own files and those of any folder to its left; dts and remote stand
# side by side and do not include each other. Nor does a file climb out of its folder with
# #include "../x/...", include a project header with angle brackets (#include <db/...>), or
# declare a class of a higher layer ahead (`class MainFormModel;` in remote/): the class is
# known to the layer of the header that defines it. The program entries (src/main.cpp,
# tools/*/main.cpp and the rest of tools/) stand above every layer; pendrill-admin
# (tools/pendrill-admin/) never includes the GUI, the window program tools/screenshots/ may. The
# native client headers (libpq, sqlite3) are included only in src/db/.
#
# Usage: scripts/check-layers.sh [SOURCE_DIR]   (default: the checkout holding this script)
# Exit status 0 when every include is in order, 1 with one line per offending include.
set -u

root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root" || exit 2

declare -A rank=(
    [util]=0 [config]=1 [db]=2 [history]=3 [datasources]=4
    [dts]=5 [remote]=5 [engine]=6 [app]=7 [gui]=8
)
top=100

# Includes and declarations that go against the order for now, as "file:included-header  reason"
# or "file:class Name  reason". Keep this list empty where the edge can be removed by passing the
# thing in.
allowed=(
)

is_allowed() {
    local edge=$1 entry
    for entry in "${allowed[@]}"; do
        [[ ${entry%%  *} == "$edge" ]] && return 0
    done
    return 1
}

# The layer of a file or header path below src/ ("db/postgres/X.h" -> db); empty when none.
layer_of() {
    local first=${1%%/*}
    [[ -n ${rank[$first]+x} ]] && echo "$first"
}

# Which layer defines each class: "class|struct Name {" or "... : base" in a header of src/<layer>/.
declare -A class_layer=()
while IFS=: read -r header name; do
    layer=$(layer_of "${header#src/}")
    [[ -n $layer && -z ${class_layer[$name]+x} ]] && class_layer[$name]=$layer
done < <(find src -name '*.h' -print0 | sort -z | xargs -0 -r grep -HoE \
    '^[[:space:]]*(class|struct)[[:space:]]+[A-Za-z_][A-Za-z0-9_]*[[:space:]]*(final[[:space:]]*)?[:{]' |
    sed -E 's/^([^:]+):[[:space:]]*(class|struct)[[:space:]]+([A-Za-z0-9_]+).*/\1:\3/')

failures=0
while IFS= read -r file; do
    case $file in
        src/main.cpp) from_rank=$top from=main ;;
        tools/*) from_rank=$((top - 1)) from=tools ;;
        src/*)
            from=${file#src/}
            from=${from%%/*}
            if [[ -z ${rank[$from]+x} ]]; then
                echo "$file: in no layer (add its folder to scripts/check-layers.sh)"
                failures=$((failures + 1))
                continue
            fi
            from_rank=${rank[$from]}
            ;;
        *) continue ;;
    esac
    # One pass over the file's #include lines and declarations (bash patterns, no process per
    # line: the check runs in the test suite).
    while IFS= read -r line; do
        lineno=${line%%:*}
        text=${line#*:}
        if [[ $text =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([^\"]+)\" ]]; then
            header=${BASH_REMATCH[1]}
            if [[ $header == ../* || $header == */../* ]]; then
                echo "$file:$lineno: #include \"$header\": no climbing out of a folder (name the header from src/)"
                failures=$((failures + 1))
                continue
            fi
            to=${header%%/*}
            [[ $header != */* || -z ${rank[$to]+x} ]] && continue  # same folder or tools/
            bad=""
            if [[ $to == gui && $file == tools/pendrill-admin/* ]]; then
                bad="pendrill-admin never includes the GUI"
            elif [[ $to != "$from" ]] && ((${rank[$to]} >= from_rank)); then
                bad="$from may not include $to"
            fi
            if [[ -n $bad ]] && ! is_allowed "$file:$header"; then
                echo "$file:$lineno: #include \"$header\": $bad"
                failures=$((failures + 1))
            fi
        elif [[ $text =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\<([^\>]+)\> ]]; then
            header=${BASH_REMATCH[1]}
            to=${header%%/*}
            if [[ $header == */* && -n ${rank[$to]+x} ]]; then
                echo "$file:$lineno: #include <$header>: project headers are included with quotes"
                failures=$((failures + 1))
            elif [[ $file != src/db/* && ($header == libpq-fe.h || $header == sqlite3.h) ]]; then
                echo "$file: native database client headers belong to src/db/"
                failures=$((failures + 1))
            fi
        elif [[ $text =~ ^[[:space:]]*(class|struct)[[:space:]]+([A-Za-z_][A-Za-z0-9_]*)[[:space:]]*\; ]]; then
            name=${BASH_REMATCH[2]}
            to=${class_layer[$name]:-}
            [[ -z $to || $to == "$from" ]] && continue
            if { ((${rank[$to]} >= from_rank)) || [[ $file == tools/pendrill-admin/* && $to == gui ]]; } &&
                ! is_allowed "$file:class $name"; then
                echo "$file:$lineno: class $name; declared ahead, but $to defines it"
                failures=$((failures + 1))
            fi
        fi
    done < <(grep -nE '^[[:space:]]*(#[[:space:]]*include|class[[:space:]]|struct[[:space:]])' "$file")
done < <(find src tools -type f \( -name '*.h' -o -name '*.cpp' \) | sort)

if ((failures > 0)); then
    echo "$failures include(s) against the layer order (see docs/architecture.md)"
    exit 1
fi
echo "layer order kept"
