#!/usr/bin/env python3
"""Checks the outputs of the conversion tests with ffprobe and by their sound.

Every "<output>.expect" file (one JSON object) in the folder describes what
its output must be: codec, rate, channels, bits (WAV), duration (within 2%),
bitrate range (MP3, kbit/s), and the frequency of the sine that went in.
    check_outputs.py FOLDER
"""
import json
import math
import pathlib
import struct
import subprocess
import sys


def probe(path):
    out = subprocess.run(
        ["ffprobe", "-v", "error", "-show_streams", "-show_format", "-of", "json", str(path)],
        check=True, capture_output=True, text=True).stdout
    return json.loads(out)


def mono_pcm(path, rate):
    raw = subprocess.run(
        ["ffmpeg", "-nostdin", "-v", "error", "-i", str(path), "-ac", "1", "-ar", str(rate), "-f", "s16le", "-"],
        check=True, capture_output=True).stdout
    return struct.unpack("<%dh" % (len(raw) // 2), raw[: len(raw) // 2 * 2])


def sine_frequency(samples, rate):
    """Frequency of a sine from rising zero crossings over the middle second."""
    n = min(len(samples), rate)
    first = (len(samples) - n) // 2
    window = samples[first:first + n]
    peak = max(1, max(abs(s) for s in window))
    low, high = -0.1 * peak, 0.1 * peak
    crossings, armed, positions = 0, False, []
    for i, s in enumerate(window):
        if s < low:
            armed = True
        elif s > high and armed:
            armed = False
            positions.append(i)
    if len(positions) < 2:
        return 0.0
    return (len(positions) - 1) * rate / (positions[-1] - positions[0])


def check(expect_path):
    want = json.loads(expect_path.read_text())
    out = expect_path.parent / want["file"]
    problems = []
    info = probe(out)
    audio = [s for s in info["streams"] if s.get("codec_type") == "audio"]
    if len(audio) != 1:
        return ["%d audio streams" % len(audio)]
    a = audio[0]
    if a["codec_name"] != want["codec"]:
        problems.append("codec %s, not %s" % (a["codec_name"], want["codec"]))
    if int(a["sample_rate"]) != want["rate"]:
        problems.append("rate %s, not %d" % (a["sample_rate"], want["rate"]))
    if int(a["channels"]) != want["channels"]:
        problems.append("%s channels, not %d" % (a["channels"], want["channels"]))
    if want["bits"] and int(a.get("bits_per_sample", 0)) != want["bits"]:
        problems.append("%s bits, not %d" % (a.get("bits_per_sample"), want["bits"]))
    duration = float(info["format"].get("duration", a.get("duration", 0)))
    if abs(duration - want["duration"]) > 0.02 * want["duration"] + 0.06:
        problems.append("lasts %.3f s, not %.3f s" % (duration, want["duration"]))
    if want.get("max_kbps"):
        kbps = float(info["format"]["bit_rate"]) / 1000
        if not want["min_kbps"] <= kbps <= want["max_kbps"]:
            problems.append("%.1f kbit/s, not %d-%d" % (kbps, want["min_kbps"], want["max_kbps"]))
    if want.get("sine"):
        f = sine_frequency(mono_pcm(out, want["rate"]), want["rate"])
        if abs(f - want["sine"]) > 0.03 * want["sine"]:
            problems.append("sounds at %.1f Hz, not %.1f Hz" % (f, want["sine"]))
    return problems


def main():
    folder = pathlib.Path(sys.argv[1])
    expects = sorted(folder.glob("*.expect")) if folder.is_dir() else []
    if not expects:
        print("no converted outputs to check in %s" % folder)
        return 0
    failed = 0
    for e in expects:
        try:
            problems = check(e)
        except (subprocess.CalledProcessError, KeyError, ValueError) as err:
            problems = ["cannot be read: %s" % err]
        name = e.name[: -len(".expect")]
        if problems:
            failed += 1
            print("FAIL %s: %s" % (name, "; ".join(problems)))
        else:
            print("ok   %s" % name)
    print("%d of %d outputs as expected" % (len(expects) - failed, len(expects)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
