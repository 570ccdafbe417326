"""Player figures against baselines: page sound, chime, memory, hidden CPU.

  /usr/bin/python3 bench/player.py BUILD_DIR [--runs 5]

Everything runs in one private headless desktop (tests/harness/desktop.py:
Xvfb, openbox, D-Bus, PulseAudio null sink recorded, loopback site as
http_proxy). One XDG cache is warmed by an untimed run of every program on
the music page; each timed run gets a fresh copy of it. Programs alternate
run by run. Prints medians (min-max) and ratios; asserts nothing.

  1. exec -> first 10 ms frame holding the page's tone at the sink:
     zorva vs BUILD/bench/zorva_baseline_webview URL (one web view,
     autoplay allowed, default settings).                    target <= 0.9
  2. F12 KeyPress -> first sound of the chime at the sink, zorva running
     on a silent page with its window shown, vs paplay assets/chime.wav
     exec -> first sound.                                    target <= 1.0
  3. PSS (sum of smaps_rollup over the program and its engine children)
     5 s after exec on the music page: zorva vs surf URL.    target <= 0.7
  4. CPU of zorva and its children over 10 s, hidden (F11) on a silent
     page, as percent of one core.                           target <= 0.1%

The key press is sent with XTEST (as xdotool does) from this script's own
X connection, timed around XSync, so no process start sits in the figure.
"""

import argparse
import ctypes
import ctypes.util
import os
import shutil
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tests", "harness"))

from desktop import (Desktop, RANDOM_PLAY_URL, TONE_HZ, descendants,  # noqa: E402
                     wait_until)
import zorva_test_site as site  # noqa: E402  (loaded by desktop)

CHIME = os.path.join(ROOT, "assets", "chime.wav")
SILENT_PAGE = (b"<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Quiet"
               b"</title></head>\n<body><p>Quiet</p></body></html>\n")
TITLE = "ZORVA\u542c\u6b4c\u8f6f\u4ef6"


# --- helpers ---------------------------------------------------------------------

class KeyPresser:
    """XTEST key events on the desktop's display; press() returns the
    monotonic times just before and just after the server took the event."""

    def __init__(self, display):
        self.x = ctypes.CDLL(ctypes.util.find_library("X11"))
        self.xtst = ctypes.CDLL(ctypes.util.find_library("Xtst"))
        self.x.XOpenDisplay.restype = ctypes.c_void_p
        self.x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.x.XKeysymToKeycode.restype = ctypes.c_ubyte
        self.x.XStringToKeysym.argtypes = [ctypes.c_char_p]
        self.x.XStringToKeysym.restype = ctypes.c_ulong
        self.x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint,
                                                ctypes.c_int, ctypes.c_ulong]
        self.dpy = self.x.XOpenDisplay(display.encode())
        if not self.dpy:
            raise RuntimeError("cannot open display %s" % display)

    def press(self, name):
        code = self.x.XKeysymToKeycode(self.dpy, self.x.XStringToKeysym(name.encode()))
        t0 = time.monotonic()
        self.xtst.XTestFakeKeyEvent(self.dpy, code, 1, 0)
        self.x.XSync(self.dpy, 0)
        t1 = time.monotonic()
        self.xtst.XTestFakeKeyEvent(self.dpy, code, 0, 0)
        self.x.XSync(self.dpy, 0)
        return t0, t1

    def close(self):
        self.x.XCloseDisplay(self.dpy)


def family(pid):
    """The program and every live process below it (engine children,
    their sandbox helpers)."""
    return [pid] + descendants(pid)


def smaps(pid):
    """(Pss, Rss) in KiB from /proc/PID/smaps_rollup, or None."""
    try:
        with open("/proc/%d/smaps_rollup" % pid) as f:
            fields = dict(line.split()[:2] for line in f if line.endswith("kB\n"))
        return int(fields["Pss:"]), int(fields["Rss:"])
    except (OSError, KeyError, ValueError):
        return None


def comm(pid):
    try:
        with open("/proc/%d/comm" % pid) as f:
            return f.read().strip()
    except OSError:
        return "?"


def cpu_ticks(pid):
    try:
        with open("/proc/%d/stat" % pid, "rb") as f:
            data = f.read()
        fields = data[data.rindex(b")") + 2:].split()
        return int(fields[11]) + int(fields[12])  # utime + stime
    except (OSError, ValueError, IndexError):
        return None


def cpu_ns(pid):
    """Nanoseconds on a CPU summed over the process's threads (schedstat:
    finer than stat's 10 ms ticks), or None."""
    total = 0
    try:
        for tid in os.listdir("/proc/%d/task" % pid):
            try:
                with open("/proc/%d/task/%s/schedstat" % (pid, tid)) as f:
                    total += int(f.read().split()[0])
            except (OSError, ValueError, IndexError):
                pass
    except OSError:
        return None
    return total


def wait_quiet(d, quiet=0.3, timeout=8.0):
    """Waits until the sink has played nothing for `quiet` seconds."""
    def check():
        now = time.monotonic()
        rec = d.recording(since=now - quiet)
        return rec.duration >= quiet * 0.9 and not rec.has_sound()
    wait_until(check, timeout, 0.05)


def stop(d, p):
    d.stop(p)
    # The engine's children outlive the UI process by about a second.
    wait_until(lambda: not descendants(p.pid), 5.0, 0.05)


def fmt(values, scale=1000.0, unit="ms", digits=1):
    v = [x * scale for x in values if x is not None]
    if not v:
        return "-"
    missing = len(values) - len(v)
    f = "%%.%df" % digits
    return ("%8s %s (" + f + "-" + f + ")%s") % (f % statistics.median(v), unit, min(v), max(v),
                                       "  [%d failed]" % missing if missing else "")


def med(values):
    v = [x for x in values if x is not None]
    return statistics.median(v) if v else None


def ratio(a, b):
    a, b = med(a), med(b)
    return "-" if a is None or not b else "%.2f" % (a / b)


def interleaved(programs, runs):
    for r in range(runs):
        k = r % len(programs)
        for prog in programs[k:] + programs[:k]:
            yield r, prog


# --- the four measurements -----------------------------------------------------------

def page_sound(d, progs, warm, runs):
    out = {name: [] for name, _ in progs}
    for _, (name, cmd) in interleaved(progs, runs):
        wait_quiet(d)
        cache = d.new_cache_dir(warm)
        t0 = d.mark()
        p = d.start(cmd, env={"XDG_CACHE_HOME": cache}, name=name)
        # The tone itself, in 10 ms frames: the player's start-up chime rings
        # over the page's first sound, so the first loud sample is not it.
        t = d.wait_for_tone(TONE_HZ, t0, timeout=10, frame=0.01)
        if t is None:
            sys.stderr.write("%s: no tone within 10 s\n" % name)
        out[name].append(t)
        stop(d, p)
    return out


def chime(d, keys, warm, runs):
    n = len(d.site.requests())
    p = d.start([ZORVA], env={"XDG_CACHE_HOME": d.new_cache_dir(warm)}, name="zorva-keys")
    d.wait_for_window(title=TITLE, pid=p.pid, timeout=15)
    d.site.wait_for_request("playrandom.html", after_index=n, timeout=10)
    time.sleep(1.5)
    key_lo, key_hi, paplay = [], [], []
    try:
        for r in range(runs):
            order = ["key", "paplay"] if r % 2 == 0 else ["paplay", "key"]
            for what in order:
                wait_quiet(d)
                if what == "key":
                    t0, t1 = keys.press("F12")
                    t = d.wait_for_sound(t0, timeout=3)
                    key_hi.append(t)
                    key_lo.append(None if t is None else t - (t1 - t0))
                else:
                    t0 = d.mark()
                    pp = d.start(["paplay", CHIME], name="paplay")
                    paplay.append(d.wait_for_sound(t0, timeout=3))
                    pp.wait(5)
        if p.poll() is not None:
            sys.stderr.write("zorva exited during the key runs (%r)\n" % p.returncode)
    finally:
        stop(d, p)
    return key_lo, key_hi, paplay


def memory(d, progs, warm, runs, settle=5.0):
    pss = {name: [] for name, _ in progs}
    rss = {name: [] for name, _ in progs}  # {name: [{comm: [KiB]}]}
    for _, (name, cmd) in interleaved(progs, runs):
        time.sleep(0.3)
        p = d.start(cmd, env={"XDG_CACHE_HOME": d.new_cache_dir(warm)}, name=name)
        time.sleep(settle)
        total, per = 0, {}
        for pid in family(p.pid):
            m = smaps(pid)
            if m is None:
                continue
            total += m[0]
            per.setdefault(comm(pid), []).append(m[1])
        pss[name].append(total if p.poll() is None else None)
        rss[name].append(per)
        stop(d, p)
    return pss, rss


def hidden_cpu(d, keys, warm, runs, window=10.0):
    tck = os.sysconf("SC_CLK_TCK")
    out, fine = [], []
    for _ in range(runs):
        n = len(d.site.requests())
        p = d.start([ZORVA], env={"XDG_CACHE_HOME": d.new_cache_dir(warm)},
                    name="zorva-hidden")
        try:
            d.wait_for_window(title=TITLE, pid=p.pid, timeout=15)
            d.site.wait_for_request("playrandom.html", after_index=n, timeout=10)
            time.sleep(1.0)
            keys.press("F11")
            if not d.wait_for_no_window(title=TITLE, timeout=3):
                sys.stderr.write("zorva: window still shown after F11\n")
            time.sleep(3.0)
            pids = family(p.pid)
            before = {pid: (cpu_ticks(pid), cpu_ns(pid)) for pid in pids}
            t0 = time.monotonic()
            time.sleep(window)
            pids = family(p.pid)
            after = {pid: (cpu_ticks(pid), cpu_ns(pid)) for pid in pids}
            spent = time.monotonic() - t0
            ticks = ns = 0
            for pid, (a_t, a_ns) in after.items():
                b_t, b_ns = before.get(pid, (0, 0))  # new since: count all
                if a_t is not None and b_t is not None:
                    ticks += a_t - b_t
                if a_ns is not None and b_ns is not None:
                    ns += a_ns - b_ns
            out.append(ticks / tck / spent)
            fine.append(ns / 1e9 / spent)
        finally:
            stop(d, p)
    return out, fine


# --- main ------------------------------------------------------------------------

def main():
    global ZORVA
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("build_dir")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--surf", default=shutil.which("surf"),
                    help="surf executable (Debian package surf)")
    args = ap.parse_args()
    ZORVA = os.path.join(args.build_dir, "zorva")
    baseline = os.path.join(args.build_dir, "bench", "zorva_baseline_webview")
    for path in (ZORVA, baseline):
        if not os.access(path, os.X_OK):
            sys.exit("not built: %s" % path)
    if not args.surf:
        print("surf not installed (apt-get install -y surf): memory comparison skipped")

    zorva = ("zorva", [ZORVA])
    webview = ("webview", [baseline, RANDOM_PLAY_URL])
    surf = ("surf", [args.surf, RANDOM_PLAY_URL]) if args.surf else None

    load0 = os.getloadavg()
    with Desktop() as d:
        keys = KeyPresser(d.display)
        try:
            # One warm cache for every program: GStreamer registry, engine caches.
            warm = d.new_cache_dir()
            for name, cmd in [zorva, webview] + ([surf] if surf else []):
                p = d.start(cmd, env={"XDG_CACHE_HOME": warm}, name=name + "-warmup")
                time.sleep(4.0)
                stop(d, p)

            sound = page_sound(d, [zorva, webview], warm, args.runs)
            pss, rss = memory(d, [zorva, webview] + ([surf] if surf else []),
                              warm, args.runs)

            d.site.set_route(RANDOM_PLAY_URL, SILENT_PAGE)
            key_lo, key_hi, paplay = chime(d, keys, warm, args.runs)
            cpu, cpu_fine = hidden_cpu(d, keys, warm, args.runs)
            d.site.set_route(RANDOM_PLAY_URL, site.autoplay_page("tone660.wav"))
        finally:
            keys.close()
    load1 = os.getloadavg()

    n = args.runs
    print("Zorva player bench: medians (min-max) of %d interleaved runs, %d cores"
          % (n, os.cpu_count()))
    print("load average at start %.2f %.2f %.2f, at end %.2f %.2f %.2f%s"
          % (load0 + load1 + ("   WARNING: busy machine, figures inflated"
             if max(load0[0], load1[0]) > 0.5 * os.cpu_count() else "",)))
    print()
    print("1. exec -> first page tone at the sink")
    print("   zorva    %s" % fmt(sound["zorva"]))
    print("   webview  %s   (minimal WebKitGTK view, autoplay allowed)" % fmt(sound["webview"]))
    print("   ratio zorva / webview  %s   (target <= 0.9)" % ratio(sound["zorva"], sound["webview"]))
    print()
    print("2. key -> chime at the sink (zorva on a silent page, window shown, F12)")
    print("   zorva key press      %s   (from XSync after the KeyPress)" % fmt(key_lo))
    print("   zorva key press      %s   (from before the KeyPress was sent)" % fmt(key_hi))
    print("   paplay exec          %s" % fmt(paplay))
    print("   ratio zorva / paplay %s (%s upper)   (target <= 1.0)"
          % (ratio(key_lo, paplay), ratio(key_hi, paplay)))
    print()
    print("3. memory 5 s after exec on the music page (PSS summed over the process tree)")
    for name in pss:
        print("   %-8s PSS %s" % (name, fmt(pss[name], 1 / 1024, "MiB")))
        names = sorted({c for per in rss[name] for c in per})
        parts = []
        for c in names:
            vals = [sum(per[c]) / 1024 for per in rss[name] if c in per]
            parts.append("%s %.0f" % (c, statistics.median(vals)))
        print("            RSS MiB per process: %s" % ", ".join(parts))
    if "surf" in pss:
        print("   ratio zorva / surf  %s   (target <= 0.7; surf blocks autoplay, so it plays nothing)"
              % ratio(pss["zorva"], pss["surf"]))
    print("   ratio zorva / webview  %s" % ratio(pss["zorva"], pss["webview"]))
    print()
    print("4. CPU hidden (F11) on a silent page, 10 s window, all zorva processes")
    print("   zorva  %s   (utime+stime from stat; one tick = %.2f%%)   (target <= 0.1%%)"
          % (fmt(cpu, 100.0, "% of one core", 2), 100.0 / os.sysconf("SC_CLK_TCK") / 10.0))
    print("   zorva  %s   (run time from schedstat, ns)" % fmt(cpu_fine, 100.0, "% of one core", 3))
    print("   raw %: stat " + " ".join("%.2f" % (c * 100) for c in cpu)
          + "; schedstat " + " ".join("%.3f" % (c * 100) for c in cpu_fine))
    return 0


if __name__ == "__main__":
    sys.exit(main())
