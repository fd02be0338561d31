#!/usr/bin/env bash
# Benchmark of adding files as the open dialog does: 10,000 paths (or the
# count given) added to the main window's list, then the same ones again;
# prints the seconds each took. Not part of the test run.
#   bench/add_files_bench.sh [count]       (after scripts/build.sh)
exec "$(dirname "$0")/run_window_bench.sh" add_files_bench "$@"
