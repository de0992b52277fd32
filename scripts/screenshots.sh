#!/usr/bin/env bash
# Takes the README's pictures of the program's windows (docs/images/) and writes the icon's PNG
# files (data/icons/hicolor/), under Xvfb, from a demo configuration set up in a fresh private
# home: the demo warehouse DemoDW on the embedded server "(local)" with three data links of the
# model "Demo", the package Demo_Overall in the package store, and examples/demo/demo.etl.
#
#   bash scripts/screenshots.sh [OUTDIR]       OUTDIR defaults to docs/images
#
# PENDRILL_BIN=dir takes the programs from another build (default build/bin); the programs are
# built first when pendrill-screenshots is missing there. PENDRILL_ICON_DIR=dir writes the icon's
# PNG files there instead of data/icons. Exit status 0 when every picture was taken, 1 otherwise,
# 77 when xvfb-run is missing.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bin=${PENDRILL_BIN:-$here/build/bin}
out=$(realpath -m "${1:-$here/docs/images}")
demo="$here/examples/demo"
icons=${PENDRILL_ICON_DIR:-$here/data/icons}

if [[ ! -x "$bin/pendrill-screenshots" || ! -x "$bin/pendrill-admin" ]]; then
    cmake --build "$(dirname "$bin")" --target pendrill-screenshots pendrill-admin
fi
command -v xvfb-run >/dev/null || { echo "screenshots.sh: xvfb-run is missing (apt-get install xvfb)" >&2; exit 77; }

work=$(mktemp -d /tmp/pendrill-screenshots.XXXXXX)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" TMPDIR=/tmp
# Paths as an operator's machine would show them; nothing is written there.
site=/srv/etl/demo
admin() { "$bin/pendrill-admin" "$@" >/dev/null; }
server="(local)"

admin datalink init --server "$server" --database DemoDW
admin datalink add --server "$server" --database DemoDW --model Demo --name Orders --type 3 \
    --ds-directory "$site/orders/"
admin datalink add --server "$server" --database DemoDW --model Demo --name Customers --type 1 \
    --ds-server "$server" --ds-database CRM --ds-trusted-login true
admin datalink add --server "$server" --database DemoDW --model Demo --name Prices --type 4 \
    --ds-file "$site/prices.xls"
admin package import "$demo/Demo_Overall.xml" --server "$server"
admin server add Warehouse "sqlite:$work/data/pendrill/servers/local"

cp "$demo/demo.etl" "$work/demo.etl"
admin config set "$work/demo.etl" "Package Info" LogFile "$site/run.log"
admin config set "$work/demo.etl" "Package Info" LogFileDir "$site/logs/"
admin config set "$work/demo.etl" "Data Source::Orders" Directory "$site/orders/"

mkdir -p "$out"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
status=0
xvfb-run -a -s "-screen 0 1280x1024x24" \
    "$bin/pendrill-screenshots" --out "$out" --config "$work/demo.etl" || status=1
"$bin/pendrill-screenshots" --icons "$icons" -platform offscreen || status=1
exit $status
