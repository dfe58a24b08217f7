#!/usr/bin/env python3
"""What the desktop player costs while it runs: start-up time to the main window mapped,
CPU of the whole process tree (the player and its children, the embedded browser's
processes among them) while idle, while playing through JACK and after playback, and its
resident memory. It runs the player on a private Xvfb screen against a private
`jackd -d dummy`, both started and stopped here by PID.

CPU is utime + stime from /proc over a window of WINDOW seconds (default 20), as a share
of one core; memory is the sum of VmRSS over the tree, and the sum of Pss from
smaps_rollup as a second figure. The busiest threads of each phase are listed, so the
figures say where the time goes.

Usage: footprint_bench.py BIN_DIR [--window S] [--startup-runs N] [--cache DIR]"""
import argparse, os, shutil, signal, struct, subprocess, sys, tempfile, time, wave

TICK = os.sysconf("SC_CLK_TCK")
TITLE = "Marlix Audio"
LIMITS = {"idle": 0.3, "off": 3.0, "eq": 5.0, "stopped": 0.3}


def make_wav(path, seconds, rate=48000):
    """A quiet two-tone signal: something for the analyser to show."""
    import math
    frames = bytearray()
    for i in range(int(seconds * rate)):
        v = int(6000 * math.sin(2 * math.pi * 440 * i / rate) + 3000 * math.sin(2 * math.pi * 5000 * i / rate))
        frames += struct.pack("<hh", v, -v)
    with wave.open(path, "wb") as w:
        w.setnchannels(2); w.setsampwidth(2); w.setframerate(rate)
        w.writeframes(bytes(frames))


def read(path):
    try:
        with open(path) as f:
            return f.read()
    except OSError:
        return ""


def stat_fields(text):
    """The fields of /proc/.../stat after the command name: (comm, fields)."""
    l, r = text.find("("), text.rfind(")")
    return text[l + 1:r], text[r + 2:].split()


def tree(root):
    """The root's PID and those of all its descendants."""
    children = {}
    for d in os.listdir("/proc"):
        if d.isdigit():
            t = read("/proc/%s/stat" % d)
            if t:
                children.setdefault(int(stat_fields(t)[1][1]), []).append(int(d))
    out, todo = [], [root]
    while todo:
        p = todo.pop()
        out.append(p)
        todo += children.get(p, [])
    return out


def thread_ticks(pids):
    """CPU ticks per thread: {(pid, tid): (process name, thread name, ticks)}."""
    out = {}
    for p in pids:
        pname = stat_fields(read("/proc/%d/stat" % p))[0] if read("/proc/%d/stat" % p) else "?"
        try:
            tids = os.listdir("/proc/%d/task" % p)
        except OSError:
            continue
        for t in tids:
            text = read("/proc/%d/task/%s/stat" % (p, t))
            if text:
                name, f = stat_fields(text)
                name = "main" if int(t) == p else name
                out[(p, int(t))] = (pname, name, int(f[11]) + int(f[12]))
    return out


def cpu_window(root, seconds):
    """Share of one core used by the tree over `seconds`, and the busiest threads."""
    before = thread_ticks(tree(root))
    t0 = time.monotonic()
    time.sleep(seconds)
    after = thread_ticks(tree(root))
    elapsed = time.monotonic() - t0
    by_name = {}
    total = 0
    for key, (pname, tname, ticks) in after.items():
        used = ticks - (before[key][2] if key in before else 0)
        total += used
        by_name[(pname, tname)] = by_name.get((pname, tname), 0) + used
    share = lambda ticks: 100.0 * ticks / TICK / elapsed
    top = sorted(by_name.items(), key=lambda kv: -kv[1])[:6]
    return share(total), [("%s/%s" % k, share(v)) for k, v in top if v > 0]


def memory(root):
    """Sum of resident and of proportional set sizes over the tree, MB, and the process count."""
    rss = pss = 0
    pids = tree(root)
    for p in pids:
        for line in read("/proc/%d/status" % p).splitlines():
            if line.startswith("VmRSS:"):
                rss += int(line.split()[1])
        for line in read("/proc/%d/smaps_rollup" % p).splitlines():
            if line.startswith("Pss:"):
                pss += int(line.split()[1])
    return rss / 1024.0, pss / 1024.0, len(pids)


def window_mapped(env):
    """The player's main window (class "marlixaudio") is mapped and viewable."""
    r = subprocess.run(["xwininfo", "-root", "-tree"], env=env, capture_output=True, text=True)
    for line in r.stdout.splitlines():
        if '("marlixaudio" "%s")' % TITLE in line:
            w = subprocess.run(["xwininfo", "-id", line.split()[0]], env=env, capture_output=True, text=True)
            if "IsViewable" in w.stdout:
                return True
    return False


def wait_for(predicate, timeout, step=0.01):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(step)
    return False


def stop(proc, timeout=20):
    if proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(timeout)
        except subprocess.TimeoutExpired:
            proc.kill(); proc.wait()


class Bench:
    def __init__(self, bin_dir, window, cache):
        self.bin_dir, self.window, self.cache = bin_dir, window, cache
        self.work = tempfile.mkdtemp(prefix="marlix-footprint-")
        self.xvfb = self.jackd = None

    def start_servers(self):
        # A display of its own, away from the low numbers other sessions take.
        display = 200 + os.getpid() % 300
        while os.path.exists("/tmp/.X%d-lock" % display):
            display += 1
        log = open(os.path.join(self.work, "xvfb.log"), "w")
        self.xvfb = subprocess.Popen(["Xvfb", ":%d" % display, "-screen", "0", "1920x1080x24", "-nolisten", "tcp"],
                                     stdout=subprocess.DEVNULL, stderr=log)
        if not wait_for(lambda: os.path.exists("/tmp/.X11-unix/X%d" % display) or self.xvfb.poll() is not None, 20):
            sys.exit("footprint: Xvfb did not start")
        if self.xvfb.poll() is not None:
            sys.exit("footprint: Xvfb ended: " + read(log.name))
        display = str(display)
        self.jack_name = "marlix-footprint-%d" % os.getpid()
        jenv = dict(os.environ, JACK_NO_AUDIO_RESERVATION="1")
        self.jackd = subprocess.Popen(["jackd", "-n", self.jack_name, "-d", "dummy", "-r", "48000", "-p", "1024"],
                                      env=jenv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        ok = subprocess.run(["jack_wait", "-s", self.jack_name, "-w", "-t", "10"], env=jenv,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0
        if not ok:
            sys.exit("footprint: jackd did not start")
        self.env = dict(os.environ, DISPLAY=":" + display, QT_QPA_PLATFORM="xcb", JACK_DEFAULT_SERVER=self.jack_name,
                        JACK_NO_START_SERVER="1", JACK_NO_AUDIO_RESERVATION="1", DBUS_SESSION_BUS_ADDRESS="",
                        XDG_CACHE_HOME=self.cache,
                        XDG_CONFIG_HOME=os.path.join(self.work, "config"))
        self.env.pop("MARLIX_FFT_PLANNER", None)

    def stop_servers(self):
        for p in (self.jackd, self.xvfb):
            if p:
                stop(p)
        shutil.rmtree(self.work, ignore_errors=True)

    def program_folder(self, name, status):
        """A fresh program folder (links to the modules and shipped files) on the JACK output."""
        home = os.path.join(self.work, name)
        os.makedirs(home)
        for item in os.listdir(self.bin_dir):
            if not item.startswith("marlixaudio"):
                os.symlink(os.path.join(self.bin_dir, item), os.path.join(home, item))
        with open(os.path.join(home, "setting.ini"), "w") as f:
            f.write("[Output]\nnDriverType=1\n[ASIO]\nDriverName=JACK\nDevice0=0\nChAssign0=0\n"
                    "[Operation]\nbCheckNew=0\n[Status]\n" + status)
        return home

    def start(self, home, args=()):
        env = dict(self.env, MARLIX_AUDIO_HOME=home)
        t0 = time.monotonic()
        proc = subprocess.Popen([os.path.join(self.bin_dir, "marlixaudio")] + list(args), env=env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        mapped = wait_for(lambda: window_mapped(env) or self.xvfb.poll() is not None, 60) and self.xvfb.poll() is None
        if self.xvfb.poll() is not None:
            sys.exit("footprint: Xvfb ended: " + read(os.path.join(self.work, "xvfb.log")))
        return proc, (time.monotonic() - t0) if mapped else None

    def jack_client_up(self):
        r = subprocess.run(["jack_lsp"], env=self.env, capture_output=True, text=True)
        return "Marlix Audio:" in r.stdout

    def measure_plans(self):
        """The common transform sizes, measured once as the install does (kept in the cache
        folder for later runs), so that no plan helper runs while the player is measured."""
        if os.path.exists(os.path.join(self.cache, "marlixaudio", "fftw-wisdom")):
            return
        env = dict(self.env, MARLIX_FFT_CALM_SHARE="0")
        subprocess.run([os.path.join(self.bin_dir, "marlixaudio-cli"), "plan", "--common"], env=env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def report(label, share, top, limit=None):
    aim = " (aim <= %.1f %%)" % limit if limit is not None else ""
    print("footprint: %-44s %6.2f %% of one core%s" % (label, share, aim))
    print("           busiest threads: " + ", ".join("%s %.2f %%" % t for t in top))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("bin_dir")
    ap.add_argument("--window", type=float, default=20.0)
    ap.add_argument("--startup-runs", type=int, default=5)
    ap.add_argument("--cache", help="folder for the transform plans (default: beside BIN_DIR)")
    a = ap.parse_args()
    cache = os.path.abspath(a.cache or os.path.join(a.bin_dir, os.pardir, "footprint-cache"))
    for tool in ("Xvfb", "jackd", "jack_wait", "jack_lsp", "xwininfo"):
        if not shutil.which(tool):
            sys.exit("footprint: %s is not installed (scripts/install-deps.sh)" % tool)
    b = Bench(os.path.abspath(a.bin_dir), a.window, cache)
    try:
        b.start_servers()
        print("footprint: load average before: %s" % read("/proc/loadavg").split()[0:3])
        b.measure_plans()
        music = os.path.join(b.work, "tones.wav")
        track_s = a.window + 12
        make_wav(music, track_s)

        # Start-up with a warm disk cache: the first run warms it and is not counted.
        home = b.program_folder("startup", "")
        times = []
        for i in range(a.startup_runs + 1):
            proc, t = b.start(home)
            stop(proc)
            if i > 0 and t is not None:
                times.append(t)
        times.sort()
        if times:
            print("footprint: start-up to main window mapped: median %.3f s, worst %.3f s (%d runs; aim < 1 s)"
                  % (times[len(times) // 2], times[-1], len(times)))

        # Idle: a fresh start, nothing played, every player window shown (layout 1).
        home = b.program_folder("idle", "AVC=0\n")
        proc, _ = b.start(home)
        time.sleep(5)
        rss, pss, n = memory(proc.pid)
        print("footprint: memory after start: %.0f MB resident, %.0f MB proportional, %d processes (aim <= 150 MB)"
              % (rss, pss, n))
        report("idle, fresh start:", *cpu_window(proc.pid, a.window), LIMITS["idle"])
        stop(proc)

        # One-track play ("Play1"): the output stops when the track ends.
        for name, status, label in (("off", "EFX=0\nConvolver=0\nMatrix=0\nEQ=0\nHSC=0\nAVC=0\nPlay1=1\n",
                                     "every DSP stage off"),
                                    ("eq", "EQ=1\n", "default chain (EQ on)")):
            home = b.program_folder(name, status)
            proc, _ = b.start(home, [music])
            if not wait_for(b.jack_client_up, 30, 0.1):
                print("footprint: playing, %s: the player did not reach JACK" % label)
                stop(proc)
                continue
            started = time.monotonic()
            time.sleep(4)
            report("playing through JACK, %s:" % label, *cpu_window(proc.pid, a.window), LIMITS[name])
            rss, pss, _ = memory(proc.pid)
            print("           memory while playing: %.0f MB resident, %.0f MB proportional" % (rss, pss))
            if name == "off":
                # The track ends, the output stops and the client leaves JACK.
                if not wait_for(lambda: not b.jack_client_up(), track_s + 30 - (time.monotonic() - started), 0.2):
                    print("           (the output did not stop: measured with it running)")
                time.sleep(10)
                report("stopped, 10 s after playback:", *cpu_window(proc.pid, a.window), LIMITS["stopped"])
                # The held peaks fall for up to about 20 s after the music: then nothing moves.
                report("stopped, display settled:", *cpu_window(proc.pid, a.window), LIMITS["stopped"])
            stop(proc)
        print("footprint: load average after: %s" % read("/proc/loadavg").split()[0:3])
    finally:
        b.stop_servers()


if __name__ == "__main__":
    main()
