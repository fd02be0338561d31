#!/bin/sh
# The sources of the unattended batch's test, sixty in one folder, made with
# native ffmpeg and from the real encoders' samples:
#   make_unattended_media.sh OUTDIR
# 50 three-minute 14.4 recordings (s01.ra .. s50.ra), an intact real cook recording,
# a real AAC one and an AC3 one; the cook recording garbled throughout and
# garbled in its second half (tests/support/corrupt_rm.py); a real file cut
# short; a video-only file; an empty file; random bytes; and gone.rm, which
# the test deletes after the list is made.
set -eu
OUT="$1/sources"
HERE="$(cd "$(dirname "$0")" && pwd)"
REPO="$(cd "$HERE/../.." && pwd)"
. "$REPO/scripts/samples-dir.sh"
SAMPLES="$VELLUMO_SAMPLES"
rm -rf "$OUT"
mkdir -p "$OUT"
cd "$OUT"
ff() { ffmpeg -nostdin -v error -y "$@"; }
ff -f lavfi -i sine=f=440:d=180:sample_rate=8000 -ac 1 -c:a real_144 -f rm s01.ra
i=2
while [ "$i" -le 50 ]; do cp s01.ra "s$(printf '%02d' "$i").ra"; i=$((i + 1)); done
cp "$SAMPLES/cook_44k_mono__vstinner-hachoir__firstrun.rm" "cook intact.rm"
cp "$SAMPLES/raac_44k_stereo__SymbianSource-sf.app.files__Video.rm" "aac.rm"
cp "$SAMPLES/ffmpegmux_dnet_44k_stereo__sindresorhus-file-type__fixture-realmedia-audio.rm" "ac3.rm"
python3 "$HERE/../support/corrupt_rm.py" "cook intact.rm" "cook garbled.rm" --fraction 1.0 >/dev/null
python3 "$HERE/../support/corrupt_rm.py" "cook intact.rm" "cook half garbled.rm" --fraction 0.5 --spread tail >/dev/null
cp "$SAMPLES/damaged_truncated_cook_8k_mono+rv30__SymbianSource-sf.os.mm__valid_80X140.rm" "cut short.rm"
ff -f lavfi -i testsrc=d=2:s=160x128:r=10 -c:v rv10 -an "video only.rm"
: > empty.rm
head -c 20000 /dev/urandom > random.rm
cp s01.ra gone.rm
