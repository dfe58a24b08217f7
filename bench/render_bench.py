#!/usr/bin/env python3
"""Times `marlixaudio-cli render` of 60 s of 44.1 kHz stereo, start to finish, at the
default setting (EQ on, 1023 taps) and at a heavy one (up-sampling to 176.4 kHz with
65535-tap interpolation, EQ 65535 taps, convolver with two 3-second responses, HSC C),
with the share each heavy stage adds and the peak memory of the heavy render.
Usage: render_bench.py CLI WORK_DIR"""
import os
import random
import struct
import subprocess
import sys
import time

SECONDS = 60


def write_convolver(path, rate, seconds):
    rng = random.Random(3)
    n = int(rate * seconds)
    data = struct.pack("<i", 3)
    for i in range(2):
        name = b"bench"
        data += struct.pack("<BBBB", 1, 1, 0, 1) + struct.pack("<iii", i, i, -12)
        data += bytes([len(name)]) + name + bytes(255 - len(name))
        ir = [rng.gauss(0, 0.3) * 2.718281828 ** (-6.0 * k / n) for k in range(n)]
        data += struct.pack("<ii", n, rate) + struct.pack(f"<{n}d", *ir)
    with open(path, "wb") as f:
        f.write(data)


SETTINGS = {
    "default": "[Status]\nEQ=1\n",
    "heavy": "[Status]\nEQ=1\nConvolver=1\nHSC=1\n[Filter]\nEQFilterTaps=65535\nHSCMode=2\n"
             "[Output]\nbFreq5=1\n[ReSampler]\nbUpSampling=1\nnUpFreq=176400\nnITaps=65535\n",
}
# Each heavy stage alone over the bare chain, for the shares.
STAGES = {
    "up-sampling to 176.4 kHz, 65535 taps": "[Status]\n[Output]\nbFreq5=1\n[ReSampler]\nbUpSampling=1\n"
                                            "nUpFreq=176400\nnITaps=65535\n",
    "EQ, 65535 taps": "[Status]\nEQ=1\n[Filter]\nEQFilterTaps=65535\n",
    "convolver, two 3 s responses": "[Status]\nConvolver=1\n",
    "HSC mode C": "[Status]\nHSC=1\n[Filter]\nHSCMode=2\n",
    "bare chain": "[Status]\n",
}


def render(cli, home, ini, source, out):
    with open(os.path.join(home, "setting.ini"), "w") as f:
        f.write(ini + "[Global]\nIniVersion=117\n")
    env = dict(os.environ, MARLIX_AUDIO_HOME=home)
    start = time.monotonic()
    proc = subprocess.run(["/usr/bin/time", "-f", "%M %U %S", cli, "render", source, out], env=env,
                          capture_output=True, text=True)
    elapsed = time.monotonic() - start
    if proc.returncode != 0:
        print(proc.stderr)
        return None, None
    peak_kb, user, system = proc.stderr.strip().splitlines()[-1].split()
    render.cpu = float(user) + float(system)
    render.audio = output_seconds(out)
    return elapsed, int(peak_kb) / 1024


def output_seconds(path):
    """Length of the rendered WAV (2 channels, PCM) in seconds."""
    with open(path, "rb") as f:
        head = f.read(4096)
    fmt = head.find(b"fmt ")
    rate = struct.unpack_from("<I", head, fmt + 12)[0]
    block = struct.unpack_from("<H", head, fmt + 20)[0]
    data = head.find(b"data")
    return struct.unpack_from("<I", head, data + 4)[0] / block / rate


def main():
    cli, work = sys.argv[1], sys.argv[2]
    home = os.path.join(work, "home")
    os.makedirs(home, exist_ok=True)
    # The transform library lives in the program folder.
    nsp = os.path.join(os.path.dirname(cli), "nsp.so")
    if os.path.exists(nsp):
        os.symlink(nsp, os.path.join(home, "nsp.so"))
    source = os.path.join(work, "music.wav")
    subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", "-b", "16", source, "synth", str(SECONDS),
                    "pinknoise", "vol", "0.3"], check=True)
    write_convolver(os.path.join(home, "convolversetting.bin"), 44100, 3)
    out = os.path.join(work, "out.wav")
    print("\n== render of 60 s of 44.1 kHz stereo, start to finish (goals: default 300 x, heavy 100 x)")
    for name, ini in SETTINGS.items():
        render(cli, home, ini, source, out)  # the first run also settles the transform plans
        times = sorted(t for t, _ in (render(cli, home, ini, source, out) for _ in range(3)) if t)
        _, peak = render(cli, home, ini, source, out)
        if times:
            print(f"{name:8s}: {SECONDS / times[len(times) // 2]:7.1f} x real time, peak memory {peak:.0f} MB, "
                  f"CPU {render.cpu:.2f} s, {render.audio:.1f} s written (input and tail)")
    print("\n== what each heavy stage adds to the bare chain (share of the added time)")
    costs = {}
    for name, ini in STAGES.items():
        render(cli, home, ini, source, out)
        times = sorted(t for t, _ in (render(cli, home, ini, source, out) for _ in range(3)) if t)
        costs[name] = times[len(times) // 2] if times else 0
    bare = costs.pop("bare chain")
    added = {k: max(v - bare, 0) for k, v in costs.items()}
    total = sum(added.values()) or 1
    for name, t in sorted(added.items(), key=lambda kv: -kv[1]):
        print(f"{name:40s} {t:6.2f} s  {100 * t / total:5.1f} %")
    print(f"{'bare chain (decoder, FIFOs, output stage)':40s} {bare:6.2f} s")


if __name__ == "__main__":
    main()
