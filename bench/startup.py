"""Start-up figures: exec to window mapped, for the player and two baselines.

  /usr/bin/python3 bench/startup.py [--runs 7] [--build-dir build] [--zorva PATH]
                                    [--nice -10]

Programs (each skipped with a note when not built):
  zorva    build/zorva
  gtk      build/bench/zorva_baseline_gtk      bare GTK3, 400x300 borderless
  webview  build/bench/zorva_baseline_webview  GTK3 + unloaded off-screen web view

All run in one private headless desktop (tests/harness/desktop.py: Xvfb,
openbox, D-Bus, PulseAudio, loopback site as proxy), in interleaved order,
each run with a fresh XDG_CACHE_HOME copied from one cache warmed by an
untimed run of every program (so the GStreamer registry is warm alike).

"Mapped" is the MapNotify of the program's top-level (the frame openbox maps
around it) on the root window, received by an X client of this script that
selects SubstructureNotify before the exec; times run from just before the
fork. For the player, the first request its page load makes to the site is
shown too. Prints medians (min-max) in milliseconds; asserts nothing.
"""

import argparse
import os
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tests", "harness"))

from desktop import Desktop  # noqa: E402
from x11 import MapWatcher  # noqa: E402


def measure(d, watcher, name, cmd, cache, want_request):
    n = len(d.site.requests())
    watcher.drain()
    t0 = time.monotonic()
    p = d.start(cmd, env={"XDG_CACHE_HOME": cache}, name=name)
    got = watcher.wait(pid=p.pid, timeout=30, alive=lambda: p.poll() is None)
    mapped = None if got is None else got[0] - t0
    request = None
    if want_request and got is not None:
        r = d.site.wait_for_request("", after_index=n, timeout=5)
        request = None if r is None else r[1].time - t0
    if got is None:
        out, err = d.output(p)
        sys.stderr.write("%s: no window (exit %r)\n%s%s\n" % (name, p.poll(), out, err[-2000:]))
    d.stop(p)
    return mapped, request


def fmt(values):
    values = [v for v in values if v is not None]
    if not values:
        return "-"
    ms = [v * 1000 for v in values]
    return "%6.1f  (%5.1f-%5.1f)" % (statistics.median(ms), min(ms), max(ms))


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--runs", type=int, default=7)
    ap.add_argument("--build-dir", default=os.path.join(ROOT, "build"))
    ap.add_argument("--zorva", help="the player executable (default BUILD/zorva)")
    ap.add_argument("--settle", type=float, default=0.3,
                    help="pause between runs, seconds")
    ap.add_argument("--nice", type=int, default=0,
                    help="run the desktop and programs at this nice value "
                         "(negative needs root; shields the figures from a busy machine)")
    args = ap.parse_args()
    if args.nice:
        os.nice(args.nice - os.nice(0))

    programs = [
        ("zorva", [args.zorva or os.path.join(args.build_dir, "zorva")], True),
        ("gtk", [os.path.join(args.build_dir, "bench", "zorva_baseline_gtk")], False),
        ("webview", [os.path.join(args.build_dir, "bench", "zorva_baseline_webview")], False),
    ]
    present = []
    for name, cmd, req in programs:
        if os.access(cmd[0], os.X_OK):
            present.append((name, cmd, req))
        else:
            print("skipping %s: %s not built" % (name, cmd[0]))
    if not present:
        return 1

    load_before = os.getloadavg()[0]
    mapped = {name: [] for name, _, _ in present}
    requests = {name: [] for name, _, _ in present}
    with Desktop(record=False) as d:
        watcher = MapWatcher(d.display)
        try:
            warm = d.new_cache_dir()
            for name, cmd, req in present:
                p = d.start(cmd, env={"XDG_CACHE_HOME": warm}, name=name + "-warmup")
                watcher.wait(pid=p.pid, timeout=30, alive=lambda: p.poll() is None)
                time.sleep(2.0)  # let a page load build the media registry
                d.stop(p)
            for r in range(args.runs):
                order = present[r % len(present):] + present[:r % len(present)]
                for name, cmd, req in order:
                    time.sleep(args.settle)
                    m, q = measure(d, watcher, name, cmd, d.new_cache_dir(warm), req)
                    mapped[name].append(m)
                    requests[name].append(q)
        finally:
            watcher.close()

    load_after = os.getloadavg()[0]
    print("exec to window mapped, ms: median (min-max) of %d interleaved runs" % args.runs)
    print("  load average %.2f before, %.2f after on %d cores, nice %d%s"
          % (load_before, load_after, os.cpu_count(), os.nice(0),
             "  (busy machine: figures inflated)" if load_before > 0.5 else ""))
    for name, cmd, req in present:
        line = "  %-8s %s" % (name, fmt(mapped[name]))
        if req:
            line += "   first request %s" % fmt(requests[name])
        print(line)
    med = {n: statistics.median(v) for n, v in mapped.items() if v and None not in v}
    if "zorva" in med:
        for base in ("gtk", "webview"):
            if base in med:
                print("  zorva - %-7s %+6.1f ms" % (base, (med["zorva"] - med[base]) * 1000))
    print("  raw: " + "; ".join("%s %s" % (n, " ".join("%.1f" % (v * 1000) if v else "-"
                                                        for v in mapped[n]))
                                for n in mapped))
    return 0


if __name__ == "__main__":
    sys.exit(main())
