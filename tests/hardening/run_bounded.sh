#!/usr/bin/env bash
# Runs the RealMedia fuzzer's parent within a time of its own, outside Wine:
# if Wine itself stops answering (its wineserver gone, every Windows process
# then waits forever), the run still ends in time and names the input that
# was at work, read from the children's logs. The program's output goes
# through a file, so that no process it leaves behind holds the test's output.
#   run_bounded.sh SECONDS WORK_DIR program [args...]
limit="$1" work="$2"; shift 2
out="$(mktemp)"
mkdir -p "$work"
start="$(date +%s)"
timeout -k 10 "$limit" "$@" > "$out" 2>&1
rc=$?
cat "$out"; rm -f "$out"
[ "$rc" = 124 ] || [ "$rc" = 137 ] || exit "$rc"
echo "HANG: no result within $limit s"
# The inputs begun and not done in the logs written since the start.
for log in "$work"/batch-*.log; do
  [ -f "$log" ] && [ "$(stat -c %Y "$log")" -ge "$start" ] || continue
  begun="$(sed -n 's/^begin //p' "$log" | tail -n 1 | tr -d '\r')"
  [ -n "$begun" ] && ! grep -q "^done $begun " "$log" && echo "HANG: input $begun was at work ($log)"
done
. "$(dirname "$0")/../../scripts/wine-env.sh"
"$VELLUMO_WINESERVER" -k0 2>/dev/null || echo "HANG: the wineserver of $WINEPREFIX is gone"
exit 1
