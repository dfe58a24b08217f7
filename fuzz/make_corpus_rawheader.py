#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_rawheader: raw one-channel files (rate, format code, samples)."""
import os
import struct

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "fuzz_rawheader")


def raw(rate, code, samples):
    return struct.pack("<ii", rate, code) + samples


def main():
    os.makedirs(OUT, exist_ok=True)
    files = {
        "s16.raw": raw(44100, 16, struct.pack("<8h", 0, 1000, -1000, 32767, -32768, 5, -5, 0)),
        "s24.raw": raw(48000, 24, bytes(range(30))),
        "s32.raw": raw(96000, 32, struct.pack("<4i", 1, -1, 2**31 - 1, -2**31)),
        "f32.raw": raw(44100, 33, struct.pack("<4f", 0.25, -0.25, 1.0, -1.0)),
        "f64.raw": raw(192000, 65, struct.pack("<3d", 0.5, -0.5, 1e-9)),
        "code0.raw": raw(22050, 0, struct.pack("<4h", 1, 2, 3, 4)),
        "odd_tail.raw": raw(44100, 16, bytes(7)),
        "bad_code.raw": raw(44100, 17, bytes(8)),
        "bad_rate.raw": raw(-1, 16, bytes(8)),
        "short.raw": b"\x44\xac\x00",
    }
    for name, data in files.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
