#!/bin/sh
# Makes the RealMedia test media with native ffmpeg and copies the real
# encoder samples beside them.
#   make_test_media.sh OUTDIR SAMPLESDIR
set -eu
OUT="$1"
SAMPLES="$(cd "$2" && pwd)"
REPO="$(cd "$(dirname "$0")/../.." && pwd)"
mkdir -p "$OUT"
# Outputs of earlier runs are never checked again.
rm -rf "$OUT/../../test-output/realmedia"
cd "$OUT"

ff() { ffmpeg -nostdin -v error -y "$@"; }

[ -f sine440_144.ra ] || ff -f lavfi -i sine=f=440:d=5:sample_rate=8000 -ac 1 -c:a real_144 -f rm sine440_144.ra
[ -f sine440_144.rm ] || ff -f lavfi -i sine=f=440:d=5:sample_rate=8000 -ac 1 -c:a real_144 sine440_144.rm
[ -f sine1000_ac3.rm ] || ff -f lavfi -i sine=f=1000:d=6:sample_rate=44100 -ac 2 -c:a ac3 -b:a 192k sine1000_ac3.rm
[ -f video_ac3.rmvb ] || ff -f lavfi -i testsrc=d=4:s=160x128:r=15 -f lavfi -i sine=f=440:d=4:sample_rate=44100 \
    -c:v rv20 -c:a ac3 -ac 2 -b:a 128k -f rm video_ac3.rmvb
[ -f video_rv10.rm ] || ff -f lavfi -i testsrc=d=3:s=176x144:r=10 -f lavfi -i sine=f=660:d=3:sample_rate=22050 \
    -c:v rv10 -c:a real_144 -ar 8000 -ac 1 video_rv10.rm
[ -f video_only.rm ] || ff -f lavfi -i testsrc=d=2:s=160x128:r=10 -c:v rv10 video_only.rm

# Tagged: as ffmpeg's users tag (UTF-8 text), and as old Windows tools did
# (Windows-1252 bytes: e-acute, e-grave, copyright sign, curly quotes, euro).
tagged() { out="$1"; shift; [ -f "$out" ] || ff -f lavfi -i sine=f=1000:d=2:sample_rate=44100 -ac 2 -c:a ac3 -b:a 128k \
    -metadata title="$1" -metadata author="$2" -metadata copyright="$3" -metadata comment="$4" "$out"; }
tagged tags_ascii.rm "Radio Play 7" "J. Smith" "(c) 1999 Example Radio" "Episode one"
tagged tags_accents.rm "Crème brûlée" "Zoë Ångström" "© 2001 Société Radio" "Über die Brücke — déjà vu, 3e partie"
tagged tags_chinese.rm "广播剧：红楼梦" "曹雪芹" "© 2003 中央人民广播电台" "第一集"
tagged tags_cp1252.rm "$(printf 'Caf\351 del Mar')" "$(printf 'H\351l\350ne')" "$(printf '\251 2000 RealNetworks')" \
    "$(printf '\223quoted\224 \200 5')"
gbk() { printf '%s' "$1" | iconv -f UTF-8 -t GBK; }
tagged tags_gbk.rm "$(gbk 红楼梦)" "$(gbk 曹雪芹)" "$(gbk '版权所有 2003 中央人民广播电台')" "$(gbk 第一集)"
printf 'ra4-dnet_32k_stereo__SymbianSource-sf.os.mm__valid_casadual.ra\n' > tags_ra.ram
# Its title's length reaching far past the CONT chunk: the audio is intact.
python3 -c "import sys; d=bytearray(open('tags_ascii.rm','rb').read()); i=d.find(b'CONT'); d[i+10:i+12]=b'\x40\x00'
sys.stdout.buffer.write(d)" > tags_damaged.rm

: > empty.rm
python3 -c "import random,sys; r=random.Random(7); sys.stdout.buffer.write(bytes(r.randrange(256) for _ in range(20000)))" > random.rm
head -c 30000 sine1000_ac3.rm > truncated.rm
head -c 200 sine1000_ac3.rm > header_cut.rm

# Reference files. Wine sees this folder as Z: plus its Unix path.
WINDIR="Z:$(pwd)"
mkdir -p "with space"
cp sine1000_ac3.rm "with space/sïne 1000.rm"
printf 'rtsp://example.com/live.rm\r\n\r\nsine1000_ac3.rm\r\nsine440_144.rm\r\n' > relative.ram
printf 'pnm://example.com/a.ra\nfile:///%s/with%%20space/s%%C3%%AFne%%201000.rm\n' "$WINDIR" > url.ram
printf 'http://example.com/a.rm\n%s\\sine440_144.rm\n' "$(printf '%s' "$WINDIR" | tr / '\\')" > absolute.ram
printf '# comment\nmissing.rm\nfile:///Z:/nowhere/at/all.rm\n' > nowhere.ram
printf 'relative.ram\n' > nested.ram
cp "$SAMPLES"/*.ram .
# Reference files on network shares: Wine reaches \\vellumo-test\media and
# \\vellumo-other\media (another server) through links in the test prefix.
PREFIX="${VELLUMO_WINEPREFIX:-$REPO/.wine}"
for host in vellumo-test vellumo-other; do
  mkdir -p "$PREFIX/dosdevices/unc/$host"
  ln -sfn "$(pwd)" "$PREFIX/dosdevices/unc/$host/media"
done
# A name that reads as a media file and opens a device.
ln -sfn /dev/null devnull.rm
for f in "$SAMPLES"/*.rm "$SAMPLES"/*.ra; do
  cp -u "$f" .
done
# The real cook sample with its packet payloads garbled (headers intact):
# all of them, and those of its second half.
cook=cook_44k_stereo__douidou75-pfm__music.rm
[ -f garbled_all.rm ] || python3 "$REPO/tests/support/corrupt_rm.py" "$cook" garbled_all.rm >/dev/null
[ -f garbled_half.rm ] || python3 "$REPO/tests/support/corrupt_rm.py" "$cook" garbled_half.rm --fraction 0.5 --spread tail >/dev/null
