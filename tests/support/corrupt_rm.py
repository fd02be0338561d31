#!/usr/bin/env python3
"""Damage the packet payloads of a RealMedia file, keeping its structure.

    corrupt_rm.py IN OUT [--fraction F] [--spread even|tail] [--seed N]

Every chunk header, the file and stream headers (.RMF, PROP, MDPR, CONT),
every DATA chunk's header, every packet's header and the INDX chunks stay
byte for byte; only the payload bytes of the chosen packets are replaced by
pseudo-random ones (a pure function of --seed and the packet's number), so a
player still finds every packet where it was, with garbage in it.

--fraction F   share of the packets damaged, 0..1 (default 1.0: all of them)
--spread even  spread them evenly (0.5: every other packet; the default)
--spread tail  damage the last F of the packets (0.5: the second half)

Prints "damaged D of N packets (B payload bytes)" and exits 0; exits 2 when
IN is not a RealMedia file with at least one DATA chunk.
"""
import argparse
import random
import struct
import sys


def packets(data):
    """(payload offset, payload length) of every packet of every DATA chunk."""
    if data[:4] != b".RMF":
        return None
    found, pos, seen_data = [], 0, False
    while pos + 10 <= len(data):
        cid, size = data[pos:pos + 4], struct.unpack(">I", data[pos + 4:pos + 8])[0]
        if size < 10:
            break
        if cid == b"DATA":
            seen_data = True
            count = struct.unpack(">I", data[pos + 10:pos + 14])[0]
            p, end = pos + 18, min(pos + size, len(data))
            for _ in range(count):
                if p + 12 > end:
                    break
                version, length = struct.unpack(">HH", data[p:p + 4])
                header = 13 if version == 1 else 12
                if version > 1 or length < header or p + length > end:
                    break
                found.append((p + header, length - header))
                p += length
        pos += size
    return found if seen_data else None


def chosen(count, fraction, spread):
    """Indices of the packets to damage."""
    if spread == "tail":
        return set(range(count - round(count * fraction), count))
    # Packet i is damaged when the running share passes a whole number.
    return {i for i in range(count) if int((i + 1) * fraction) > int(i * fraction)}


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("source")
    ap.add_argument("output")
    ap.add_argument("--fraction", type=float, default=1.0)
    ap.add_argument("--spread", choices=("even", "tail"), default="even")
    ap.add_argument("--seed", type=int, default=1)
    args = ap.parse_args()
    if not 0.0 <= args.fraction <= 1.0:
        ap.error("--fraction must be between 0 and 1")
    data = bytearray(open(args.source, "rb").read())
    found = packets(data)
    if not found:
        print(f"{args.source}: not a RealMedia file with packets", file=sys.stderr)
        return 2
    damaged, total = chosen(len(found), args.fraction, args.spread), 0
    for i in sorted(damaged):
        offset, length = found[i]
        rng = random.Random(args.seed * 1000003 + i)
        data[offset:offset + length] = bytes(rng.getrandbits(8) for _ in range(length))
        total += length
    open(args.output, "wb").write(data)
    print(f"damaged {len(damaged)} of {len(found)} packets ({total} payload bytes)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
