#!/usr/bin/env bash
# The crash loop of tests/faults/crash_loop.sh, long: ITERATIONS (default 1000) SIGKILLs at
# random moments of `pendrill-admin config set`, of runs and of `history prune`, each followed
# by the checks of every file and the repository. Takes PENDRILL_BIN, CRASH_LOOP_SEED and
# CRASH_LOOP_KEEP as the test does. About 0.2 s per kill on the development machine.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
exec bash "$here/tests/faults/crash_loop.sh" "${ITERATIONS:-1000}"
