#!/usr/bin/env python3
"""Checks the files the filter pack tests wrote with Debian's native ffprobe
and ffmpeg: container/codec, rate, channels, sample format, duration, and
that the sine that went in comes out at the same frequency."""
import json
import os
import subprocess
import sys

OUT = sys.argv[1]

# file: (codec, rate, channels, sample_fmt or None, seconds, frequency)
EXPECTED = {
    "wavdest-44100-2-16.wav": ("pcm_s16le", 44100, 2, "s16", 2.0, 1000),
    "wavdest-22050-1-8-odd.wav": ("pcm_u8", 22050, 1, "u8", 22051 / 22050, 440),
    "wavdest-platform-writer.wav": ("pcm_s16le", 44100, 2, "s16", 44101 / 44100, 1000),
    "chain-22050-1-8.wav": ("pcm_u8", 22050, 1, "u8", 2.0, 1000),
    "acm-22050-mono-16.wav": ("pcm_s16le", 22050, 1, "s16", 2.0, 1000),
    "acm-11025-stereo-8.wav": ("pcm_u8", 11025, 2, "u8", 1.0, 440),
    "mp3-cbr128-44100-stereo.mp3": ("mp3", 44100, 2, None, 2.0, 1000),
    "mp3-vbr56-160-44100.mp3": ("mp3", 44100, 2, None, 3.0, 1000),
    "mp3-6ch-downmix.mp3": ("mp3", 48000, 2, None, 3.0, 1000),
    "mp3-cbr80-22050-mono.mp3": ("mp3", 22050, 1, None, 5.0, 1000),
}


def probe(path):
    result = subprocess.run(
        ["ffprobe", "-v", "error", "-show_streams", "-show_format", "-of", "json", path],
        capture_output=True, text=True, check=True)
    return json.loads(result.stdout)


def frequency(path):
    pcm = subprocess.run(
        ["ffmpeg", "-v", "error", "-i", path, "-ac", "1", "-f", "s16le", "-acodec", "pcm_s16le", "-"],
        capture_output=True, check=True).stdout
    samples = [int.from_bytes(pcm[i:i + 2], "little", signed=True) for i in range(0, len(pcm) - 1, 2)]
    rate_info = probe(path)["streams"][0]
    rate = int(rate_info["sample_rate"])
    crossings = [i for i in range(1, len(samples)) if samples[i - 1] < 0 <= samples[i]]
    if len(crossings) < 2:
        return 0.0
    return (len(crossings) - 1) * rate / (crossings[-1] - crossings[0])


failures = []
for name, (codec, rate, channels, fmt, seconds, freq) in EXPECTED.items():
    path = os.path.join(OUT, name)
    if not os.path.exists(path):
        failures.append(f"{name}: missing")
        continue
    info = probe(path)
    stream = info["streams"][0]
    duration = float(info["format"].get("duration") or stream.get("duration") or 0)
    got = (stream["codec_name"], int(stream["sample_rate"]), int(stream["channels"]))
    if got != (codec, rate, channels):
        failures.append(f"{name}: {got} instead of {(codec, rate, channels)}")
    if fmt and stream.get("sample_fmt") != fmt:
        failures.append(f"{name}: sample format {stream.get('sample_fmt')} instead of {fmt}")
    if abs(duration - seconds) > 0.02 * seconds:
        failures.append(f"{name}: duration {duration:.3f} s instead of {seconds:.3f} s")
    measured = frequency(path)
    if abs(measured - freq) > 0.01 * freq:
        failures.append(f"{name}: sine at {measured:.1f} Hz instead of {freq} Hz")
    print(f"{name}: {got} {duration:.3f} s {measured:.1f} Hz")

for f in failures:
    print("FAIL", f)
sys.exit(1 if failures else 0)
