#!/bin/sh
# Builds and runs the mirroring benchmark: ./bench/mirror_bench.sh [build dir] [files]
set -eu
build=${1:-build}
shift || true
cmake -S "$(dirname "$0")/.." -B "$build" >/dev/null
cmake --build "$build" --target bench_mirror vynd -j2 >/dev/null
exec "$build/bench/bench_mirror" "$@"
