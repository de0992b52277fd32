#!/usr/bin/env bash
# Builds every layer library as a shared library linked with -Wl,--no-undefined, in a build
# directory of its own (libraries only, no programs or tests): a library that needs a symbol of
# a layer above it, or of one it does not link, then fails to link.
#
# Usage: scripts/check-shared-link.sh [BUILD_DIR]   (default: build-shared in the checkout)
# Exit status 0 when every library links on its own, 1 otherwise.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dir=${1:-$here/build-shared}
layers=(util config db history datasources dts remote engine app gui)

mkdir -p "$dir" || exit 1
export CCACHE_BASEDIR="$here" CCACHE_NOHASHDIR=1
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPENDRILL_WERROR=ON \
    -DBUILD_SHARED_LIBS=ON -DBUILD_TESTING=OFF "-DCMAKE_SHARED_LINKER_FLAGS=-Wl,--no-undefined" \
    "${launcher[@]}" \
    >"$dir/configure.log" 2>&1 || { cat "$dir/configure.log"; exit 1; }
targets=()
for layer in "${layers[@]}"; do
    targets+=("pendrill_$layer")
done
cmake --build "$dir" -j "${PENDRILL_JOBS:-$(nproc)}" --target "${targets[@]}" -- -k 0 \
    >"$dir/build.log" 2>&1
failures=0
for layer in "${layers[@]}"; do
    if [ -f "$dir/src/$layer/libpendrill_$layer.so" ]; then
        echo "pendrill_$layer: links on its own"
    else
        echo "pendrill_$layer: does not link on its own"
        failures=$((failures + 1))
    fi
done
if ((failures > 0)); then
    grep -E 'undefined reference|error' "$dir/build.log" | head -40
    exit 1
fi
