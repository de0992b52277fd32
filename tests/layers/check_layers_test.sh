#!/usr/bin/env bash
# scripts/check-layers.sh reports one violation of each kind in a small tree made here, and
# passes the real tree.
# Usage: check_layers_test.sh SOURCE_DIR
set -u
source_dir=$1
script=$source_dir/scripts/check-layers.sh
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT

mkdir -p "$tree"/src/{util,config,db,remote,dts,app,gui} "$tree"/tools/pendrill-admin
printf 'class MainFormModel {};\n' >"$tree/src/app/MainFormModel.h"
printf 'struct PackageRun : Base {};\n' >"$tree/src/dts/PackageRun.h"
printf 'class MainWindow final : public X {};\n' >"$tree/src/gui/MainWindow.h"
printf '#include "util/Fine.h"\n' >"$tree/src/config/Fine.cpp"
printf 'class Fine {};\n' >"$tree/src/util/Fine.h"

# One file per rule, and the line the check must print for it.
declare -A cases=(
    [src/util/Upward.cpp]='#include "config/Settings.h"'
    [src/remote/Sideways.cpp]='#include "dts/PackageRun.h"'
    [src/db/Climb.cpp]='#include "../app/MainFormModel.h"'
    [src/config/Angle.cpp]='#include <util/Fine.h>'
    [src/remote/Ahead.h]='class MainFormModel;'
    [src/config/AheadStruct.h]='struct PackageRun;'
    [tools/pendrill-admin/Window.cpp]='class MainWindow;'
    [src/config/Native.cpp]='#include <libpq-fe.h>'
)
declare -A expect=(
    [src/util/Upward.cpp]='src/util/Upward.cpp:1: #include "config/Settings.h": util may not include config'
    [src/remote/Sideways.cpp]='src/remote/Sideways.cpp:1: #include "dts/PackageRun.h": remote may not include dts'
    [src/db/Climb.cpp]='src/db/Climb.cpp:1: #include "../app/MainFormModel.h": no climbing out of a folder'
    [src/config/Angle.cpp]='src/config/Angle.cpp:1: #include <util/Fine.h>: project headers are included with quotes'
    [src/remote/Ahead.h]='src/remote/Ahead.h:1: class MainFormModel; declared ahead, but app defines it'
    [src/config/AheadStruct.h]='src/config/AheadStruct.h:1: class PackageRun; declared ahead, but dts defines it'
    [tools/pendrill-admin/Window.cpp]='tools/pendrill-admin/Window.cpp:1: class MainWindow; declared ahead, but gui defines it'
    [src/config/Native.cpp]='src/config/Native.cpp: native database client headers belong to src/db/'
)
for file in "${!cases[@]}"; do
    printf '%s\n' "${cases[$file]}" >"$tree/$file"
done

failed=0
output=$(bash "$script" "$tree")
status=$?
if [ $status -ne 1 ]; then
    echo "check-layers.sh exited with $status on the tree with violations, not 1"
    failed=1
fi
for file in "${!expect[@]}"; do
    if ! grep -qF -- "${expect[$file]}" <<<"$output"; then
        echo "not reported: ${expect[$file]}"
        failed=1
    fi
done
if [ "$(grep -c '^src/\|^tools/' <<<"$output")" -ne ${#expect[@]} ]; then
    echo "reported more than the violations:"
    failed=1
fi
[ $failed -ne 0 ] && printf 'check-layers.sh said:\n%s\n' "$output"

if ! bash "$script" "$source_dir" >/dev/null; then
    echo "the source tree does not pass check-layers.sh"
    failed=1
fi
exit $failed
