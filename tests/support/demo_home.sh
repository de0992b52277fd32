# Sourced by the shell tests: the demo job of examples/demo in a private home.
#   demo_home BIN DIR [CONFIG_HOME DATA_HOME]
# exports XDG_CONFIG_HOME and XDG_DATA_HOME (default DIR/config and DIR/data), and sets up the
# demo warehouse DemoDW with the data link Orders on "(local)", stores the package
# Demo_Overall, and writes the run configuration DIR/demo.etl with pendrill-admin (its run log
# DIR/run.log, its log directory DIR/logs/).
# Needs `here` (the checkout). Returns non-zero, with the failing command's output, on failure.

demo_home() {
    local bin=$1 dir=$2 etl="$2/demo.etl" demo="$here/examples/demo"
    export XDG_CONFIG_HOME="${3:-$dir/config}" XDG_DATA_HOME="${4:-$dir/data}"
    unset DISPLAY WAYLAND_DISPLAY
    mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" || return 1
    local admin="$bin/pendrill-admin"
    "$admin" datalink init --server "(local)" --database DemoDW >/dev/null &&
        "$admin" datalink add --server "(local)" --database DemoDW --model Demo --name Orders \
            --type 3 --ds-directory "$dir/not configured/" >/dev/null &&
        "$admin" package import "$demo/Demo_Overall.xml" --server "(local)" >/dev/null ||
        return 1
    local section key value
    while IFS='|' read -r section key value; do
        "$admin" config set "$etl" "$section" "$key" "$value" || return 1
    done <<LINES
Package Info|Package|Demo_Overall
Package Info|LogFile|$dir/run.log
Package Info|LogFileDir|$dir/logs/
Package Info|TruncLogFile|TRUE
DTS Server Info|DTSServer|(local)
DTS Server Info|DTSNTAut|TRUE
Datawarehouse Server Info|DWServer|(local)
Datawarehouse Server Info|DWNTAut|TRUE
Datawarehouse Server Info|DWDB|DemoDW
Data Source::Orders|Name|Orders
Data Source::Orders|ModelName|Demo
Data Source::Orders|Type|3
Data Source::Orders|Directory|$demo/data/
Data Source::Orders|TransferData|0
LINES
}
