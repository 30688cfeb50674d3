#!/usr/bin/env python3
"""Writes the test packages and their ".meta" files (8-byte little-endian size, SHA-1 per MiB)."""
import hashlib
import random
import struct
import sys

BLOCK = 1 << 20


def meta_for(data):
    out = struct.pack("<q", len(data))
    for i in range(0, len(data), BLOCK):
        out += hashlib.sha1(data[i:i + BLOCK]).digest()
    return out


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def main():
    www = sys.argv[1]
    rng = random.Random(20261208)
    pkg = rng.randbytes(10 * BLOCK + 4321)
    write(f"{www}/pkg10.bin", pkg)
    write(f"{www}/pkg10.bin.meta", meta_for(pkg))
    write(f"{www}/empty.bin", b"")
    write(f"{www}/empty.bin.meta", meta_for(b""))
    # Published bytes that never match their metadata from block 3 on.
    bad = bytearray(pkg)
    bad[3 * BLOCK + 17] ^= 0xFF
    write(f"{www}/bad.bin", bytes(bad))
    write(f"{www}/bad.bin.meta", meta_for(pkg))
    # A ".meta" whose size does not match its length.
    write(f"{www}/broken.bin", pkg[:1000])
    write(f"{www}/broken.bin.meta", meta_for(pkg)[:-1])
    # A small package of two blocks for the many short downloads of the cancel storm.
    storm = pkg[:BLOCK + 4321]
    write(f"{www}/storm.bin", storm)
    write(f"{www}/storm.bin.meta", meta_for(storm))


if __name__ == "__main__":
    main()
