#!/usr/bin/env python3
"""Writes the bundled sample Flash0 image (Intel HEX) into samples/.

The image is what a real Flash0 firmware file looks like to the tool: it
starts at 0x400000 with a chain of length-prefixed blocks (little-endian
length and type words, then the payload). The second block is the firmware
information block (type 0x400, 104 payload bytes: five zero-terminated text
fields of 16, 16, 16, 40 and 16 bytes), which `servoprog-cli info` and the
window show. The rest is a few hundred KiB of firmware-like data: tables that
compress well, noise that does not, and a run of erased (FF) bytes so that
programming skips whole blocks. The content is deterministic, so the file in
samples/ is reproducible byte for byte.

Usage: tools/make-sample-image.py [OUTPUT.hex]
"""

import os
import random
import struct
import sys

BASE = 0x400000
RECORD_BYTES = 32

INFO_TYPE = 0x400
FIELD_SIZES = (16, 16, 16, 40, 16)
FIELDS = ("SRV-FPGA-HW3", "FW 2.14.0", "2026-11-30", "AC servo drive sample firmware image", "SAMPLE-0001")


def block(block_type, payload):
    return struct.pack("<II", len(payload), block_type) + payload


def info_payload():
    out = b""
    for text, size in zip(FIELDS, FIELD_SIZES):
        raw = text.encode("ascii")
        assert len(raw) < size, text
        out += raw + b"\0" * (size - len(raw))
    assert len(out) == 104
    return out


def firmware_payload():
    rng = random.Random(24080)   # any fixed seed: the sample must not change
    out = bytearray()
    # Lookup tables: a sine-like table repeated with small variations
    # (compresses well).
    for rep in range(24):
        out += bytes(((i * 7 + rep) ^ (i >> 3)) & 0xFF for i in range(4096))
    # Instruction-like noise (does not compress).
    out += bytes(rng.getrandbits(8) for _ in range(96 * 1024))
    # An erased gap of two whole transfer blocks, as a linker leaves between sections.
    out += b"\xff" * (16 * 1024)
    # Mixed: short repeated words with noise in between.
    for _ in range(2048):
        out += struct.pack("<I", rng.choice((0xE3A00000, 0xE59F1004, 0xE12FFF1E, 0x00000000)))
        out += bytes(rng.getrandbits(8) for _ in range(rng.randrange(4, 40)))
    # End with a non-FF byte so the used range ends where the data ends.
    out += b"\x5a" * 16
    return bytes(out)


def image():
    boot_header = struct.pack("<IIII", 0x53525650, 0x00020E00, BASE, 0) + b"\0" * 8
    data = block(0x100, boot_header) + block(INFO_TYPE, info_payload()) + block(0x200, firmware_payload())
    # The chain ends in erased flash; a terminating all-FF header word is what
    # the drive holds behind the image, so nothing needs to be written for it.
    return data


def hex_record(record_type, address16, payload):
    body = bytes((len(payload), address16 >> 8, address16 & 0xFF, record_type)) + payload
    checksum = (-sum(body)) & 0xFF
    return ":" + (body + bytes((checksum,))).hex().upper() + "\n"


def write_hex(path, base, data):
    lines = []
    upper = None
    for pos in range(0, len(data), RECORD_BYTES):
        address = base + pos
        if address >> 16 != upper:
            upper = address >> 16
            lines.append(hex_record(4, 0, struct.pack(">H", upper)))
        chunk = data[pos:pos + RECORD_BYTES]
        # Records must not run across a 64 KiB boundary.
        room = 0x10000 - (address & 0xFFFF)
        if len(chunk) > room:
            lines.append(hex_record(0, address & 0xFFFF, chunk[:room]))
            upper = (address + room) >> 16
            lines.append(hex_record(4, 0, struct.pack(">H", upper)))
            lines.append(hex_record(0, 0, chunk[room:]))
        else:
            lines.append(hex_record(0, address & 0xFFFF, chunk))
    lines.append(hex_record(1, 0, b""))
    tmp = path + ".tmp"
    with open(tmp, "w", newline="\n") as f:
        f.writelines(lines)
    os.replace(tmp, path)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "samples", "servo-fw-sample.hex")
    data = image()
    write_hex(path, BASE, data)
    print("%s: 0x%x..0x%x, %d bytes" % (path, BASE, BASE + len(data) - 1, len(data)))


if __name__ == "__main__":
    main()
