# Sourced by the long-run scripts: makes the test media if missing, starts
# the test environment (stopped on exit) and enters build/bin.
REPO="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$REPO"
source scripts/samples-dir.sh
sh tests/realmedia/make_test_media.sh build/test-media/realmedia "$VELLUMO_SAMPLES" >/dev/null
source scripts/test-env.sh
vellumo_env_start
trap vellumo_env_stop EXIT
cd build/bin
