#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_dsdec: tiny audio files made by ffmpeg, and truncated copies."""
import os
import subprocess
import tempfile

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "fuzz_dsdec")

# name, channels, rate, codec arguments
FILES = [
    ("tiny.mp3", 1, 22050, ["-c:a", "libmp3lame", "-b:a", "32k"]),
    ("tiny.flac", 2, 8000, ["-c:a", "flac"]),
    ("tiny.ogg", 1, 8000, ["-c:a", "libvorbis"]),
    ("tiny.opus", 1, 48000, ["-c:a", "libopus", "-b:a", "16k"]),
    ("tiny.m4a", 1, 8000, ["-c:a", "aac", "-b:a", "16k"]),
    ("tiny.wv", 2, 8000, ["-c:a", "wavpack"]),
    ("tiny.aiff", 1, 8000, ["-c:a", "pcm_s16be"]),
    ("tinyfloat.wav", 1, 8000, ["-c:a", "pcm_f32le"]),
]


def make(path, channels, rate, args):
    expr = "|".join("0.5*sin(%d*2*PI*t)" % (300 + 200 * c) for c in range(channels))
    subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                    "aevalsrc=%s:s=%d:d=0.1" % (expr, rate)] + args + [path], check=True)


def main():
    os.makedirs(OUT, exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        for name, channels, rate, args in FILES:
            src = os.path.join(tmp, name)
            make(src, channels, rate, args)
            with open(src, "rb") as f:
                data = f.read()
            stem = name.replace(".", "_")
            with open(os.path.join(OUT, stem), "wb") as f:
                f.write(data)
            with open(os.path.join(OUT, stem + "_half"), "wb") as f:
                f.write(data[: len(data) // 2])
            with open(os.path.join(OUT, stem + "_head"), "wb") as f:
                f.write(data[:48])
    with open(os.path.join(OUT, "empty"), "wb"):
        pass


if __name__ == "__main__":
    main()
