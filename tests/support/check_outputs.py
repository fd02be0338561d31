#!/usr/bin/env python3
"""Checks converted outputs with ffprobe and by their sound.

    check_outputs.py FOLDER [EXPECTATIONS.json]

Each expectation (one JSON object per "<output>.expect" file in FOLDER, or a
list of them in EXPECTATIONS.json) names its output ("file") and what it must
be: codec, rate, channels, bits (WAV; 0 for MP3), duration in seconds (within
2%, or "within" seconds), bitrate range (min_kbps/max_kbps, MP3, optional), the frequency of
the sine that went in ("sine", 0 when the source was not a sine), and,
optionally, the tags ffprobe must read back exactly ("tags": title, artist,
copyright, comment; {} for an untagged file, which must carry no tag block at
all). Tagged MP3 files must have their VBR header right behind the ID3v2 tag,
and an ID3v1 tag exactly when every text fits one; tagged WAV files their
LIST chunk after the data, counted in the RIFF size.
"""
import json
import pathlib
import struct
import subprocess
import sys


def probe(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-show_streams", "-show_format", "-of", "json", str(path)],
                         check=True, capture_output=True, text=True).stdout
    return json.loads(out)


def sine_frequency(path, rate):
    """Frequency of a sine from rising crossings (with hysteresis) over the middle second."""
    raw = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", str(path), "-ac", "1", "-ar", str(rate),
                          "-f", "s16le", "-"], check=True, capture_output=True).stdout
    samples = struct.unpack("<%dh" % (len(raw) // 2), raw[: len(raw) // 2 * 2])
    n = min(len(samples), rate)
    window = samples[(len(samples) - n) // 2:][:n]
    peak = max([1] + [abs(s) for s in window])
    armed, positions = False, []
    for i, s in enumerate(window):
        if s < -0.1 * peak:
            armed = True
        elif s > 0.1 * peak and armed:
            armed = False
            positions.append(i)
    return (len(positions) - 1) * rate / (positions[-1] - positions[0]) if len(positions) > 1 else 0.0


TAG_KEYS = ("title", "artist", "copyright", "comment")


def latin1_field(text):
    """The text as an ID3v1 field, or None when it does not fit one."""
    try:
        raw = text.encode("latin-1")
    except UnicodeEncodeError:
        return None
    return raw if len(raw) <= 30 and b"\0" not in raw else None


def riff_chunks(data):
    chunks, at = [], 12
    while at + 8 <= len(data):
        size = struct.unpack_from("<I", data, at + 4)[0]
        chunks.append((data[at:at + 4], at, size))
        at += 8 + size + (size & 1)
    return chunks


def check_tags(path, info, want):
    tags = {k.lower(): v for k, v in info["format"].get("tags", {}).items()}
    got = {k: tags[k] for k in TAG_KEYS if k in tags}
    problems = [] if got == want else ["tags %s, not %s" % (got, want)]
    data = path.read_bytes()
    if path.suffix == ".mp3":
        v2 = 0
        if data[:3] == b"ID3":
            v2 = 10 + (data[6] << 21 | data[7] << 14 | data[8] << 7 | data[9])
            first = data[v2:v2 + 200]
            if not (first[:1] == b"\xff" and (b"Xing" in first or b"Info" in first)):
                problems.append("no VBR header right behind the %d-byte ID3v2 tag" % v2)
        has_v1 = len(data) > 128 and data[-128:-125] == b"TAG"
        if bool(v2) != bool(want):
            problems.append("ID3v2 tag %s" % ("missing" if want else "in an untagged file"))
        fields = [latin1_field(want.get(k, "")) for k in ("title", "artist", "comment")]
        v1_due = all(f is not None for f in fields) and any(fields)
        if has_v1 != v1_due:
            problems.append("ID3v1 tag %s" % ("missing" if v1_due else "where the text does not fit one"))
        elif has_v1:
            tag = data[-128:]
            got_v1 = [tag[o:o + 30].rstrip(b"\0") for o in (3, 33, 97)]
            if got_v1 != fields:
                problems.append("ID3v1 fields %s, not %s" % (got_v1, fields))
    else:
        chunks = riff_chunks(data)
        names = [c[0] for c in chunks]
        if struct.unpack_from("<I", data, 4)[0] != len(data) - 8:
            problems.append("RIFF size is not the file's")
        if (b"LIST" in names) != bool(want):
            problems.append("LIST chunk %s" % ("missing" if want else "in an untagged file"))
        elif want and names.index(b"LIST") < names.index(b"data"):
            problems.append("LIST chunk before the data")
    return problems


def check(folder, want):
    out = folder / want["file"]
    info = probe(out)
    audio = [s for s in info["streams"] if s.get("codec_type") == "audio"]
    if len(audio) != 1:
        return ["%d audio streams" % len(audio)]
    a, problems = audio[0], []
    for key, got in (("codec", a["codec_name"]), ("rate", int(a["sample_rate"])), ("channels", int(a["channels"])),
                     ("bits", int(a.get("bits_per_sample", 0)))):
        if got != want[key] and (key != "bits" or want[key]):
            problems.append("%s %s, not %s" % (key, got, want[key]))
    duration = float(info["format"].get("duration", a.get("duration", 0)))
    if abs(duration - want["duration"]) > want.get("within", 0.02 * want["duration"] + 0.06):
        problems.append("lasts %.3f s, not %.3f s" % (duration, want["duration"]))
    if want.get("max_kbps"):
        kbps = float(info["format"]["bit_rate"]) / 1000
        if not want["min_kbps"] <= kbps <= want["max_kbps"]:
            problems.append("%.1f kbit/s, not %d-%d" % (kbps, want["min_kbps"], want["max_kbps"]))
    if want.get("sine"):
        f = sine_frequency(out, want["rate"])
        if abs(f - want["sine"]) > 0.03 * want["sine"]:
            problems.append("sounds at %.1f Hz, not %.1f Hz" % (f, want["sine"]))
    if "tags" in want:
        problems += check_tags(out, info, want["tags"])
    return problems


def main():
    folder = pathlib.Path(sys.argv[1])
    if len(sys.argv) > 2:
        expectations = json.loads(pathlib.Path(sys.argv[2]).read_text())
    else:
        expectations = [json.loads(e.read_text()) for e in sorted(folder.glob("*.expect"))] if folder.is_dir() else []
    if not expectations:
        print("no converted outputs to check in %s" % folder)
        return 0
    failed = 0
    for want in expectations:
        try:
            problems = check(folder, want)
        except (subprocess.CalledProcessError, KeyError, ValueError) as err:
            problems = ["cannot be read: %s" % err]
        failed += bool(problems)
        print("%s %s%s" % ("FAIL" if problems else "ok  ", want["file"], ": " + "; ".join(problems) if problems else ""))
    print("%d of %d outputs as expected" % (len(expectations) - failed, len(expectations)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
