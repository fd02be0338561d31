#!/usr/bin/env bash
# Finds flaky tests before CI does: builds, then runs the Wine suite (ctest)
# COUNT times in a row in one test environment, each run in a shuffled order,
# and prints each run's time and failures. Exits non-zero when any run failed.
#   scripts/repeat-tests.sh [COUNT] [extra ctest arguments]      (COUNT: 5)
# Each run's whole output is kept in build/repeat-<n>.log.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/fixed-layout.sh" "$0" "$@"
REPO="$(cd "$(dirname "$0")/.." && pwd)"
cd "$REPO"
COUNT="${1:-5}"
[ $# -gt 0 ] && shift

source scripts/samples-dir.sh
if [ "$(id -u)" = 0 ]; then
  scripts/install-prereqs.sh
fi
scripts/build.sh

source scripts/test-env.sh
trap vellumo_env_stop EXIT
vellumo_env_start

cd build
summary=()
failed_runs=0
for run in $(seq 1 "$COUNT"); do
  log="$REPO/build/repeat-$run.log"
  start=$(date +%s)
  status=0
  ctest --output-on-failure --no-tests=error --schedule-random -j"$(nproc)" "$@" >"$log" 2>&1 || status=$?
  server_gone=0
  vellumo_env_check >>"$log" 2>&1 || { status=1; server_gone=1; }
  secs=$(( $(date +%s) - start ))
  counted="$(grep -E '^[0-9]+% tests passed' "$log" | tail -n 1 || true)"
  if [ "$status" = 0 ]; then
    line="run $run: passed in ${secs} s ($counted)"
  else
    failed_runs=$((failed_runs + 1))
    failures="$(sed -n '/^The following tests FAILED:/,$p' "$log" | grep -E '^[[:space:]]+[0-9]+ - ' |
                sed -E 's/^[[:space:]]+[0-9]+ - //' | paste -sd ';' - || true)"
    line="run $run: FAILED in ${secs} s ($counted): ${failures:-see $log}"
  fi
  echo "$line"
  summary+=("$line")
  # A wineserver that ended takes the rest of the runs with it.
  [ "$server_gone" = 0 ] || { echo "repeat-tests: the run's wineserver ended; stopping" >&2; break; }
done

echo "repeat-tests: $((${#summary[@]} - failed_runs)) of ${#summary[@]} runs passed"
printf '  %s\n' "${summary[@]}"
[ "$failed_runs" = 0 ]
