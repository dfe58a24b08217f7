#!/usr/bin/env python3
"""Summarises the benchmark run as x real time and times the outside tools on the
same work: 60 s of stereo 44.1 kHz noise through 65535 (and 1023) taps, and through
two 3-second responses at 48 kHz. Usage: compare.py BENCH_JSON WORK_DIR"""
import json
import os
import shutil
import struct
import subprocess
import sys
import random
import time

SECONDS = 60


def load(path):
    """Each benchmark's median over the repetitions (or its single run)."""
    with open(path) as f:
        data = json.load(f)
    results = {}
    for b in data["benchmarks"]:
        if "xRT" not in b:
            continue
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        results[b.get("run_name", b["name"])] = b
    return results


def xrt(results, name):
    b = results.get(name)
    return b["xRT"] if b else None


def write_noise_wav(path, rate, seconds):
    subprocess.run(["sox", "-n", "-r", str(rate), "-c", "2", "-b", "16", path,
                    "synth", str(seconds), "whitenoise", "vol", "0.5"], check=True)


def write_taps(path_txt, path_wav, path_raw, taps, rate, seed):
    rng = random.Random(seed)
    values = [rng.uniform(-1, 1) / taps ** 0.5 for _ in range(taps)]
    with open(path_txt, "w") as f:
        f.write("\n".join(f"{v:.12g}" for v in values))
    with open(path_raw, "wb") as f:
        f.write(struct.pack(f"<{taps}d", *values))
    subprocess.run(["sox", "-t", "f64", "-r", str(rate), "-c", "1", path_raw, "-b", "32", "-e", "float",
                    path_wav], check=True)


def timed(cmd, timeout=600):
    start = time.monotonic()
    try:
        subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout)
    except (subprocess.SubprocessError, OSError):
        return None
    return time.monotonic() - start


def brutefir(work, rate, taps, coeffs):
    if not shutil.which("brutefir"):
        return None
    raw_in = os.path.join(work, f"bf_in_{rate}.raw")
    subprocess.run(["sox", os.path.join(work, f"noise_{rate}.wav"), "-t", "s16", raw_in], check=True)
    part = 8192
    blocks = (taps + part - 1) // part
    conf = os.path.join(work, "brutefir.conf")
    with open(conf, "w") as f:
        f.write(f"""float_bits: 64; sampling_rate: {rate}; filter_length: {part},{blocks};
overflow_warnings: false; show_progress: false; allow_poll_mode: false; monitor_rate: false;
powersave: false; lock_memory: false; safety_limit: 0; convolver_config: "{work}/bf_wisdom";
benchmark: false;
coeff "c0" {{ filename: "{coeffs[0]}"; format: "FLOAT64_LE"; }};
coeff "c1" {{ filename: "{coeffs[1]}"; format: "FLOAT64_LE"; }};
input "l", "r" {{ device: "file" {{ path: "{raw_in}"; }}; sample: "S16_LE"; channels: 2/0,1; }};
output "l", "r" {{ device: "file" {{ path: "{work}/bf_out.raw"; }}; sample: "S16_LE"; channels: 2/0,1; }};
filter "f0" {{ from_inputs: "l"; to_outputs: "l"; coeff: "c0"; }};
filter "f1" {{ from_inputs: "r"; to_outputs: "r"; coeff: "c1"; }};
""")
    # The first run only writes the convolver's wisdom; time the second.
    timed(["brutefir", "-quiet", conf], timeout=900)
    return timed(["brutefir", "-quiet", conf])


def case(work, rate, taps, seed):
    names = []
    for ch in range(2):
        base = os.path.join(work, f"h{taps}_{rate}_{ch}")
        write_taps(base + ".txt", base + ".wav", base + ".raw", taps, rate, seed + ch)
        names.append(base)
    noise = os.path.join(work, f"noise_{rate}.wav")
    if not os.path.exists(noise):
        write_noise_wav(noise, rate, SECONDS)
    out = os.path.join(work, "out.wav")
    tools = {}
    # sox applies one coefficient set to every channel: the same work per channel.
    t = timed(["sox", noise, out, "fir", names[0] + ".txt"])
    tools["sox fir"] = t
    t = timed(["ffmpeg", "-v", "error", "-y", "-i", noise, "-i", names[0] + ".wav", "-i", names[1] + ".wav",
               "-filter_complex", "[1:a][2:a]amerge=inputs=2[ir];[0:a][ir]afir=gtype=none:irgain=1:precision=double", out])
    tools["ffmpeg afir"] = t
    tools["BruteFIR"] = brutefir(work, rate, taps, [n + ".raw" for n in names])
    return {k: (SECONDS / v if v else None) for k, v in tools.items()}


def fmt(v):
    return f"{v:9.1f} x" if v else "      n/a"


def main():
    results = load(sys.argv[1])
    work = sys.argv[2]
    print("\n== x real time (seconds of audio per second of one core)")
    for name in sorted(results):
        print(f"{name:48s} {fmt(results[name]['xRT'])}")

    print("\n== against the FFTW reference loop, same run, same flags (goal: 1.0 or more)")
    for taps in (1023, 8191, 65535, 1048575):
        ours, ref = xrt(results, f"FIRProcess/nsp/{taps}"), xrt(results, f"ReferenceOverlapAdd/{taps}")
        if ours and ref:
            print(f"FIR {taps:8d} taps, nsp.so: {ours / ref:6.2f} of the reference")
    conv, ref = xrt(results, "ConvolverProcess/nsp/manual_time"), xrt(results, "ReferenceOverlapAdd/144000")
    if conv and ref:
        ref48 = ref * 44100 / 48000  # the reference counts its audio at 44.1 kHz
        print(f"convolver, two 3 s responses at 48 kHz: {conv / ref48:6.2f} of the reference")

    print("\n== heavy chain stages")
    stuffed, full = xrt(results, "UpSampler/stuffed/manual_time"), xrt(results, "UpSampler/full/manual_time")
    if stuffed and full:
        print(f"up-sampling x4, 65535 taps: {fmt(stuffed)}, {stuffed / full:5.2f} times the zero-stuffed transform")
    for rate in (44100, 176400):
        hsc = xrt(results, f"HiManagerModeC/{rate}/1")
        if hsc:
            print(f"HSC mode C at {rate} Hz, one channel, nsp.so: {fmt(hsc)}")

    print("\n== against outside tools, same input, this run")
    for label, rate, taps, ours_name in (("65535 taps, 44.1 kHz", 44100, 65535, "FIRProcess/nsp/65535"),
                                         ("1023 taps, 44.1 kHz", 44100, 1023, "FIRProcess/nsp/1023"),
                                         ("two 3 s responses, 48 kHz", 48000, 144000, "ConvolverProcess/nsp/manual_time")):
        ours = xrt(results, ours_name)
        if not ours:
            continue
        for tool, theirs in case(work, rate, taps, taps).items():
            ratio = f"{ours / theirs:6.2f}" if theirs else "   n/a"
            print(f"{label:28s} ours {fmt(ours)}  {tool:12s} {fmt(theirs)}  ratio {ratio}")


if __name__ == "__main__":
    main()
