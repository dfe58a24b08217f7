#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_convolverfile: convolver files, whole and damaged."""
import os
import struct

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "fuzz_convolverfile")


def name_block(name):
    raw = name.encode("utf-8")[:255]
    return bytes([len(raw)]) + raw + bytes(255 - len(raw))


def entry(has_ir, on, cut, nodelay, inch, outch, level, name="", rate=48000, ir=(), length=None):
    b = bytes([has_ir, on, cut, nodelay]) + struct.pack("<iii", inch, outch, level)
    if has_ir:
        n = len(ir) if length is None else length
        b += name_block(name) + struct.pack("<ii", n, rate) + struct.pack("<%dd" % len(ir), *ir)
    return b


def conv_file(drywet, a, b):
    return struct.pack("<i", drywet) + a + b


default = conv_file(3, entry(0, 1, 1, 1, 0, 0, -36), entry(0, 1, 1, 1, 1, 1, -36))
with_ir = conv_file(1, entry(1, 0, 1, 0, 1, 0, -6, "hall.wav", 48000, (1.0, -0.5, 0.25)),
                    entry(1, 1, 0, 1, 0, 1, 3, "room.wav", 44100, (0.5, 0.0)))

SEEDS = {
    "default.bin": default,
    "with_ir.bin": with_ir,
    "truncated.bin": with_ir[:300],
    "negative_length.bin": conv_file(3, entry(1, 1, 1, 1, 0, 0, -36, "x", 48000, (), -1),
                                     entry(0, 1, 1, 1, 1, 1, -36)),
    "huge_length.bin": conv_file(3, entry(1, 1, 1, 1, 0, 0, -36, "x", 48000, (1.0,), 0x7FFFFFFF), b""),
    "zero_length.bin": conv_file(2, entry(1, 1, 1, 1, 0, 0, -36, "x", 48000, ()),
                                 entry(0, 0, 0, 0, 1, 1, 0)),
    "nan.bin": conv_file(3, entry(1, 1, 1, 1, 0, 0, -36, "n", 48000, (float("nan"), float("inf"))), b""),
    "short.bin": b"\x03\x00",
}

os.makedirs(OUT, exist_ok=True)
for name, data in SEEDS.items():
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)
