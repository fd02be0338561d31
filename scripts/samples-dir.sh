# Sourced (with REPO set): exports VELLUMO_SAMPLES, the folder of the real
# encoders' samples: as given, else shared/samples beside the checkout; when
# that folder is not there, the workplace's own /work/shared/samples (for a
# clone made elsewhere, such as /tmp).
: "${VELLUMO_SAMPLES:=$REPO/../shared/samples}"
[ -d "$VELLUMO_SAMPLES" ] || [ ! -d /work/shared/samples ] || VELLUMO_SAMPLES=/work/shared/samples
export VELLUMO_SAMPLES
