# Sourced (with REPO set): exports VELLUMO_SAMPLES, the folder of the real
# encoders' samples: as given, else shared/samples beside the checkout (as CI
# lays it out). Where that folder is not there, says so in one line and ends
# the script that sourced it.
: "${VELLUMO_SAMPLES:=$REPO/../shared/samples}"
if [ ! -d "$VELLUMO_SAMPLES" ]; then
  echo "samples: $VELLUMO_SAMPLES is not a folder: set VELLUMO_SAMPLES to the real encoders' samples, or put shared/samples beside the checkout" >&2
  exit 1
fi
VELLUMO_SAMPLES="$(cd "$VELLUMO_SAMPLES" && pwd)"
export VELLUMO_SAMPLES
