#!/usr/bin/env bash
# Measures what the tests catch, folder by folder (see mutation_score.py):
#   scripts/mutation-score.sh [--folders corvane/engine ...] [--count 40]
#                             [--shard i/n] [--results file.jsonl]
#   scripts/mutation-score.sh --retry old.jsonl [--retry-outcome caught] --results new.jsonl
#   scripts/mutation-score.sh --report file.jsonl
# Takes an hour or more; not part of the test run. Needs a built tree
# (scripts/build.sh) and edits its sources while it runs: use a checkout
# nobody is working in.
set -uo pipefail
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
if [ "${1:-}" = --report ]; then exec python3 "$HERE/mutation_score.py" "$@"; fi
source "$HERE/test-env.sh"
vellumo_env_start || exit 1
trap vellumo_env_stop EXIT
python3 "$HERE/mutation_score.py" "$@"
