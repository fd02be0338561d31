#!/usr/bin/env python3
"""Writes the library identifier into a widl-made type library.

widl (mingw-w64-tools 7.0) stores the library's GUID with a wrong last byte.
The GUID entry is found by its first 15 bytes and rewritten whole.
usage: set_libid.py file.tlb {GUID}
"""
import sys
import uuid

path, text = sys.argv[1], sys.argv[2]
guid = uuid.UUID(text.strip("{}")).bytes_le
data = bytearray(open(path, "rb").read())
at = data.find(guid[:15])
if at < 0:
    sys.exit("set_libid: library GUID not found in " + path)
data[at:at + 16] = guid
open(path, "wb").write(bytes(data))
