#!/usr/bin/env bash
# Sets Pendrill up on a Debian 12 machine and builds it.
#   bootstrap.sh run    install what is missing, build, run the demo job
#   bootstrap.sh test   install what is missing, build, run the whole test suite (plus the
#                       shared-library link check unless PENDRILL_SHARED_CHECK=0, the
#                       AddressSanitizer/UndefinedBehaviorSanitizer build when PENDRILL_SANITIZE
#                       is not 0, and a short libFuzzer run unless PENDRILL_FUZZ_SECONDS=0)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$here"
mode=${1:-run}

packages=(
    build-essential cmake ninja-build pkg-config git
    qt6-base-dev libqt6sql6-sqlite libqt6sql6-psql libqt6sql6-odbc
    libcurl4-openssl-dev libgtest-dev googletest libsqlite3-dev libpq-dev
    postgresql odbc-postgresql unixodbc sqlite3
    python3 python3-pyftpdlib python3-openssl openssh-server
    clang libclang-rt-14-dev ccache
    xvfb xauth
    man-db groff-base bash-completion systemd
)

install_missing() {
    local missing=()
    for p in "${packages[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$p")
        fi
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "bootstrap: installing ${missing[*]}"
        if [ "$(id -u)" -ne 0 ]; then
            echo "bootstrap: run as root to install packages" >&2
            exit 1
        fi
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
}

# Compiler cache shared between checkouts of the project: paths below the checkout are hashed
# relative to it.
export CCACHE_BASEDIR="$here" CCACHE_NOHASHDIR=1

build() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPENDRILL_WERROR=ON \
        -DCMAKE_CXX_COMPILER_LAUNCHER=ccache "$@" >/dev/null
    cmake --build "$dir" -j "$(nproc)"
}

install_missing
case "$mode" in
    run)
        build build
        exec bash scripts/main-job.sh
        ;;
    test)
        build build
        (cd build && ctest --output-on-failure -j "$(nproc)" --timeout 300)
        if [ "${PENDRILL_SHARED_CHECK:-1}" != 0 ]; then
            # Every layer library links on its own (shared, -Wl,--no-undefined).
            bash scripts/check-shared-link.sh build-shared
        fi
        if [ "${PENDRILL_FUZZ_SECONDS:-15}" != 0 ]; then
            # A short libFuzzer run of every fuzz program (see tests/fuzz/CMakeLists.txt for a
            # longer one).
            CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
                -DPENDRILL_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
            fuzzers=$(cd tests/fuzz && ls fuzz_*.cpp | sed 's/\.cpp$//')
            # shellcheck disable=SC2086
            cmake --build build-fuzz -j "$(nproc)" --target $fuzzers
            for f in $fuzzers; do
                echo "fuzzing $f for ${PENDRILL_FUZZ_SECONDS:-15} s"
                build-fuzz/bin/$f -max_total_time="${PENDRILL_FUZZ_SECONDS:-15}" -print_final_stats=0 \
                    2>build-fuzz/$f.log || { tail -40 build-fuzz/$f.log; exit 1; }
            done
        fi
        if [ "${PENDRILL_SANITIZE:-1}" != 0 ]; then
            build build-asan -DPENDRILL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
            (cd build-asan && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
                ctest --output-on-failure -j "$(nproc)" --timeout 600)
        fi
        ;;
    *)
        echo "usage: bootstrap.sh run|test" >&2
        exit 2
        ;;
esac
