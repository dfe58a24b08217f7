#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_wavheader: small WAV files, valid and broken."""
import math
import os
import struct

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "fuzz_wavheader")


def chunk(tag, payload):
    return tag + struct.pack("<I", len(payload)) + payload


def wav(channels, rate, bits, data, tag=1, fmt_extra=b"", before_data=b"", data_size=None, align=None):
    align = channels * (bits // 8) if align is None else align
    fmt = struct.pack("<HHIIHH", tag, channels, rate, rate * align, align, bits) + fmt_extra
    size = len(data) if data_size is None else data_size
    body = b"WAVE" + chunk(b"fmt ", fmt) + before_data + b"data" + struct.pack("<I", size) + data
    return b"RIFF" + struct.pack("<I", len(body)) + body


def sine(bits, frames, channels):
    out = bytearray()
    for i in range(frames):
        for c in range(channels):
            v = math.sin(2 * math.pi * (i + 3 * c) / 16)
            if bits == 8:
                out += struct.pack("<B", int(round(v * 127)) + 128)
            elif bits == 16:
                out += struct.pack("<h", int(round(v * 32767)))
            elif bits == 24:
                out += struct.pack("<i", int(round(v * 8388607)))[:3]
            else:
                out += struct.pack("<i", int(round(v * 2147483647)))
    return bytes(out)


def main():
    os.makedirs(OUT, exist_ok=True)
    files = {
        "mono8.wav": wav(1, 8000, 8, sine(8, 40, 1)),
        "stereo16.wav": wav(2, 44100, 16, sine(16, 32, 2)),
        "stereo24.wav": wav(2, 48000, 24, sine(24, 24, 2)),
        "mono32.wav": wav(1, 96000, 32, sine(32, 20, 1)),
        "six16.wav": wav(6, 48000, 16, sine(16, 8, 6)),
        "extra_chunks.wav": wav(2, 44100, 16, sine(16, 16, 2), fmt_extra=bytes(24),
                                before_data=chunk(b"LIST", b"INFOISFT\x06\x00\x00\x00marlix") +
                                chunk(b"fact", struct.pack("<I", 16))),
        "float32.wav": wav(1, 44100, 32, struct.pack("<4f", 0.5, -0.5, 1.0, 0.0), tag=3),
        "extensible.wav": wav(2, 44100, 16, sine(16, 8, 2), tag=0xFFFE, fmt_extra=bytes(24)),
        "bad_align.wav": wav(2, 44100, 16, sine(16, 8, 2), align=3),
        "oversized_data.wav": wav(2, 44100, 16, sine(16, 8, 2), data_size=0xFFFFFFFF),
    }
    full = files["stereo16.wav"]
    files["truncated_header.wav"] = full[:30]
    files["truncated_data.wav"] = full[:61]
    for name, data in files.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
