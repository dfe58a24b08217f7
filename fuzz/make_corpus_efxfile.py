#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_efxfile: effect state files, whole and damaged."""
import os
import struct

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "fuzz_efxfile")


def name_block(name):
    raw = name.encode("utf-8")[:255]
    return bytes([len(raw)]) + raw + bytes(255 - len(raw))


def slot(present, on, name="", state=b"", size=None):
    if not present:
        return bytes([0, on])
    n = len(state) if size is None else size
    return bytes([1, on]) + name_block(name) + struct.pack("<I", n) + state


empty = b"".join(slot(0, 1) for _ in range(8))
two = slot(1, 1, "Marlix|Crossfeed", b"\x01\x02\x03") + slot(0, 0) + slot(1, 0, "LADSPA|Amp", b"") \
    + b"".join(slot(0, 1) for _ in range(5))
missing = b"".join(slot(1, 1, "?Gone" if i == 3 else "Test|Rec", bytes([i])) for i in range(8))

SEEDS = {
    "empty.bin": empty,
    "two.bin": two,
    "missing.bin": missing,
    "truncated_state.bin": slot(1, 1, "A", b"xyz", size=1000),
    "huge_size.bin": slot(1, 1, "A", b"", size=0xFFFFFFFF),
    "long_name_byte.bin": bytes([1, 1, 255]) + b"n" * 10,
    "short.bin": b"\x01",
}

os.makedirs(OUT, exist_ok=True)
for name, data in SEEDS.items():
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)
