#!/usr/bin/env python3
"""Time from starting `marlixaudio-cli play` to the first non-silent sample at the device,
on a fresh program folder with an empty FFTW wisdom cache, the equaliser on (the chain's
largest transforms), through a private ALSA configuration whose default PCM writes to a
file. Usage: startup_bench.py BIN_DIR [RUNS]"""
import math, os, shutil, signal, struct, subprocess, sys, tempfile, time, wave

def make_wav(path, seconds=5, rate=48000):
    with wave.open(path, "wb") as w:
        w.setnchannels(2); w.setsampwidth(2); w.setframerate(rate)
        frames = bytearray()
        for i in range(seconds * rate):
            v = int(12000 * math.sin(2 * math.pi * 440 * i / rate))
            frames += struct.pack("<hh", v, v)
        w.writeframes(bytes(frames))

def first_sound(raw, deadline):
    while time.monotonic() < deadline:
        try:
            with open(raw, "rb") as f:
                if any(f.read()):
                    return True
        except FileNotFoundError:
            pass
        time.sleep(0.002)
    return False

def one_run(bin_dir, music):
    home = tempfile.mkdtemp(prefix="marlix-start-")
    try:
        for name in os.listdir(bin_dir):
            if name.endswith(".so"):
                os.symlink(os.path.join(bin_dir, name), os.path.join(home, name))
        raw = os.path.join(home, "default.raw")
        with open(os.path.join(home, "asound.conf"), "w") as f:
            f.write('pcm.marlix_sink { type null }\npcm.default {\n type file\n slave.pcm "marlix_sink"\n'
                    ' file "%s"\n format "raw"\n}\n' % raw)
        with open(os.path.join(home, "setting.ini"), "w") as f:
            f.write("[MME]\nDevice0=-1\n[Status]\nEQ=1\nAVC=0\n")
        env = dict(os.environ, MARLIX_AUDIO_HOME=home, XDG_CACHE_HOME=os.path.join(home, "cache"),
                   ALSA_CONFIG_PATH=os.path.join(home, "asound.conf"))
        env.pop("MARLIX_FFT_PLANNER", None)
        start = time.monotonic()
        proc = subprocess.Popen([os.path.join(bin_dir, "marlixaudio-cli"), "play", music], env=env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        heard = first_sound(raw, start + 30)
        elapsed = time.monotonic() - start
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(10)
        except subprocess.TimeoutExpired:
            proc.kill(); proc.wait()
        return elapsed if heard else None
    finally:
        shutil.rmtree(home, ignore_errors=True)

def main():
    bin_dir = os.path.abspath(sys.argv[1])
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    work = tempfile.mkdtemp(prefix="marlix-start-music-")
    try:
        music = os.path.join(work, "sine.wav")
        make_wav(music)
        times = [one_run(bin_dir, music) for _ in range(runs)]
    finally:
        shutil.rmtree(work, ignore_errors=True)
    heard = sorted(t for t in times if t is not None)
    if not heard:
        print("first sound: none heard within 30 s")
        sys.exit(1)
    print("first sound after play, fresh wisdom cache: median %.3f s, worst %.3f s (%d of %d runs; aim < 0.5 s)"
          % (heard[len(heard) // 2], heard[-1], len(heard), runs))

if __name__ == "__main__":
    main()
