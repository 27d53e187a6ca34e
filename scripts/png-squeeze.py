#!/usr/bin/env python3
"""Compresses the image data of PNG files in place (the window's own picture writer stores
it uncompressed). The pixels stay exactly as they were.
    scripts/png-squeeze.py FILE.png..."""
import struct
import sys
import zlib


def chunks(data):
    at = 8
    while at < len(data):
        (length,) = struct.unpack(">I", data[at:at + 4])
        kind = data[at + 4:at + 8]
        yield kind, data[at + 8:at + 8 + length]
        at += 12 + length


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def squeeze(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit(f"{path}: not a PNG file")
    parts = list(chunks(data))
    pixels = zlib.decompress(b"".join(body for kind, body in parts if kind == b"IDAT"))
    out = [data[:8]]
    for kind, body in parts:
        if kind == b"IDAT":
            if pixels is not None:
                out.append(chunk(b"IDAT", zlib.compress(pixels, 9)))
                pixels = None
        else:
            out.append(chunk(kind, body))
    open(path, "wb").write(b"".join(out))


for name in sys.argv[1:]:
    squeeze(name)
