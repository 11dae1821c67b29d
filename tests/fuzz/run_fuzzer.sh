#!/bin/sh
# Runs one fuzz target for a few seconds: new inputs go to the scratch corpus, the seeds stay untouched.
# Usage: run_fuzzer.sh TARGET SCRATCH_CORPUS SEED_CORPUS SECONDS
# A SCRATCH_CORPUS of "none" keeps new inputs only for the run, so it does not grow from run to run.
set -eu
target=$1 scratch=$2 seeds=$3 seconds=$4
if [ "$scratch" = none ]; then
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
fi
mkdir -p "$scratch"
# Leaks are checked after every input; at exit OpenSSL's process-wide state
# (its legacy provider, loaded once) is still held and is no leak.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}leak_check_at_exit=0"
# The icon targets decode images with Qt, which needs no display for that.
export QT_QPA_PLATFORM=offscreen
"$target" -max_total_time="$seconds" -max_len=8192 -rss_limit_mb=2048 -timeout=20 \
    -print_final_stats=1 "$scratch" "$seeds"
