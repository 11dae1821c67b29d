#!/bin/sh
# Builds (optimised) and runs the mirroring benchmark:
#   ./bench/mirror_bench.sh [build dir] [files] [rounds]
# Without a file count it measures 10,000 and 100,000 files.
set -eu
build=${1:-build-bench}
shift || true
cmake -S "$(dirname "$0")/.." -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target bench_mirror vynd -j2 >/dev/null
exec "$build/bench/bench_mirror" "$@"
