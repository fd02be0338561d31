#!/usr/bin/env bash
# Benchmark of dropping files on the main window: a folder of 2000 RealMedia
# files dropped from the shell; prints how long the main window took to list
# them. Not part of the test run.
#   bench/drop_bench.sh        (after scripts/build.sh)
exec "$(dirname "$0")/run_window_bench.sh" drop_bench
