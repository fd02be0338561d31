#!/usr/bin/env python3
"""Crafts RealMedia files that cost a careless splitter much time or memory,
from files made by ffmpeg:
  craft_hostile_media.py tiny SOURCE.rm OUT.rm       packets after the third cut to 3 bytes
  craft_hostile_media.py syncwords SOURCE.rm OUT.rm  payloads after the third turned into AC3
                                                     sync words (a 3840-byte frame header every 14 bytes)
  craft_hostile_media.py surestream SAMPLE.ra OUT.ra MB  a multi-rate sample's headers and MB of empty packets
"""
import struct
import sys


def chunks(data):
    at = 0
    while at + 8 <= len(data):
        tag, size = data[at:at + 4], struct.unpack(">I", data[at + 4:at + 8])[0]
        if size < 8:
            break
        yield at, tag, size
        at += size


def headers_and_data(data):
    for at, tag, size in chunks(data):
        if tag == b"DATA":
            return bytearray(data[:at]), data[at:at + size]
    raise SystemExit("no DATA chunk")


def packets(data_chunk):
    at = 18
    while at + 12 <= len(data_chunk):
        version, length = struct.unpack(">HH", data_chunk[at:at + 4])
        head = 12 if version == 0 else 13
        if length < head:
            break
        yield data_chunk[at:at + head], data_chunk[at + head:at + length]
        at += length


def write(path, head, packet_list):
    # No index: the PROP chunk's index offset is cleared.
    for at, tag, size in chunks(head):
        if tag == b"PROP":
            head[at + 10 + 28:at + 10 + 32] = b"\0\0\0\0"
    body = b"".join(h[:2] + struct.pack(">H", len(h) + len(p)) + h[4:] + p for h, p in packet_list)
    data = b"DATA" + struct.pack(">IHII", 18 + len(body), 0, len(packet_list), 0) + body
    with open(path, "wb") as f:
        f.write(bytes(head) + data)


def main():
    kind, source, out = sys.argv[1:4]
    data = open(source, "rb").read()
    head, data_chunk = headers_and_data(data)
    listed = list(packets(data_chunk))
    if kind == "tiny":
        write(out, head, [(h, p if i < 3 else p[:3]) for i, (h, p) in enumerate(listed)])
    elif kind == "syncwords":
        pattern = (b"\x77\x0b\0\0\x40\xa5" + b"\0" * 8) * 4096
        write(out, head, [(h, p if i < 3 else (pattern * (len(p) // len(pattern) + 1))[:len(p)])
                          for i, (h, p) in enumerate(listed)])
    elif kind == "surestream":
        count = int(sys.argv[4]) * 1024 * 1024 // 12
        streams = sorted({struct.unpack(">H", h[4:6])[0] for h, _ in listed})
        body = b"".join(struct.pack(">HHHIBB", 0, 12, streams[i % len(streams)], i // 8, 0, 2) for i in range(count))
        with open(out, "wb") as f:
            f.write(bytes(head) + b"DATA" + struct.pack(">IHII", 18 + len(body), 0, count, 0) + body)
    else:
        raise SystemExit(__doc__)


main()
