#!/usr/bin/env python3
"""Writes the stand-in firmware image used when no real image is given to the build.

The image is a valid gzip stream of exactly 15,490,649 bytes, the size of the real one: a 10-byte
header (1F 8B 08, no name, time 0), stored deflate blocks holding pseudo-random bytes from a fixed
seed (SHA-256 in counter mode, so every machine makes the same bytes), and the CRC-32 and length
trailer.
"""
import hashlib
import struct
import sys
import zlib

IMAGE_SIZE = 15_490_649
BLOCK_MAX = 65_535          # payload of one stored block
SEED = b"stand-in firmware image"


def payload_size():
    # header 10 + trailer 8 + 5 bytes per stored block + payload = IMAGE_SIZE
    budget = IMAGE_SIZE - 18
    blocks = (budget + BLOCK_MAX + 4) // (BLOCK_MAX + 5)
    size = budget - 5 * blocks
    assert (size + BLOCK_MAX - 1) // BLOCK_MAX == blocks
    return size


def payload(size):
    out = bytearray()
    counter = 0
    while len(out) < size:
        out += hashlib.sha256(SEED + counter.to_bytes(8, "little")).digest()
        counter += 1
    return bytes(out[:size])


def gzip_stored(data):
    parts = [bytes([0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 0, 0xFF])]
    for start in range(0, len(data), BLOCK_MAX):
        chunk = data[start:start + BLOCK_MAX]
        final = 1 if start + BLOCK_MAX >= len(data) else 0
        parts.append(struct.pack("<BHH", final, len(chunk), len(chunk) ^ 0xFFFF))
        parts.append(chunk)
    parts.append(struct.pack("<II", zlib.crc32(data) & 0xFFFFFFFF, len(data) & 0xFFFFFFFF))
    return b"".join(parts)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: standin_firmware.py <output>")
    image = gzip_stored(payload(payload_size()))
    assert len(image) == IMAGE_SIZE
    with open(sys.argv[1], "wb") as f:
        f.write(image)


if __name__ == "__main__":
    main()
