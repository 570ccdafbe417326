"""Checks the end-to-end harness itself against real parts.

Run: /usr/bin/python3 tests/harness/harness_selftest.py [--build-dir build]
Exit code 0 when every check passes; the last line reads "N passed, M failed".
With --build-dir holding bench/zorva_baseline_webview, a real web view also
plays the loopback site's random-play page through the proxy.
"""

import argparse
import os
import subprocess
import sys
import tempfile
import threading
import time
import traceback
import urllib.error
import urllib.request
import wave

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from desktop import (HOME_URL, RANDOM_PLAY_URL, TONE_HZ, TONE_URL,  # noqa: E402
                     Desktop, alive, decode, describe, marked_pids)

TITLE = "ZORVA听歌软件"
CHIME = os.path.join(HERE, "..", "..", "assets", "chime.wav")
STANDIN = [sys.executable, os.path.join(HERE, "standin_window.py")]

results = []


def check(name):
    """Runs one check, records its outcome; a failed check's programs are
    stopped so the next check starts clean."""
    def wrap(fn):
        def run(*args):
            t = time.monotonic()
            d = next((a for a in args if isinstance(a, Desktop)), None)
            started = len(d._programs) if d else 0
            try:
                fn(*args)
            except Exception:
                results.append((name, False))
                print("FAIL %s (%.2f s)" % (name, time.monotonic() - t))
                traceback.print_exc(file=sys.stdout)
                sys.stdout.flush()
                for p in (d._programs[started:] if d else []):
                    if p.poll() is None:
                        d.stop(p)
                return False
            results.append((name, True))
            print("ok   %s (%.2f s)" % (name, time.monotonic() - t))
            sys.stdout.flush()
            return True
        return run
    return wrap


# --- fixtures ------------------------------------------------------------------

def write_wav(path, samples, rate):
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes((np.clip(samples, -1, 1) * 32767).astype("<i2").tobytes())


def make_bell(path, rate=22050, seconds=1.65):
    """A bell-like clip like the player's chime (used when assets/chime.wav
    is absent): inharmonic decaying partials, 2 ms attack, MS ADPCM at
    22,050 Hz."""
    t = np.arange(int(rate * seconds)) / rate
    x = np.zeros_like(t)
    for ratio, amp, decay in ((1, 1, 0.6), (2.0, 0.5, 0.35), (2.76, 0.35, 0.25),
                              (5.4, 0.2, 0.12), (8.93, 0.1, 0.06)):
        x += amp * np.sin(2 * np.pi * 880.0 * ratio * t) * np.exp(-t / decay)
    x *= np.minimum(1, t / 0.002) * 0.3 / np.abs(x).max()
    pcm = path + ".pcm.wav"
    write_wav(pcm, x, rate)
    subprocess.run(["sox", pcm, "-e", "ms-adpcm", path], check=True)
    os.unlink(pcm)


def make_beep(path, hz=1000.0, seconds=0.3, amp=0.4, rate=44100):
    t = np.arange(int(rate * seconds)) / rate
    write_wav(path, amp * np.sin(2 * np.pi * hz * t), rate)


# --- checks --------------------------------------------------------------------

@check("environment of programs inside")
def env_check(d):
    e = d.env
    for k in ("DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "PULSE_SERVER", "XDG_RUNTIME_DIR",
              "XDG_CACHE_HOME", "HOME", "http_proxy"):
        assert e.get(k), k
    assert e["NO_AT_BRIDGE"] == "1" and e["GDK_BACKEND"] == "x11"
    assert "XDG_CURRENT_DESKTOP" not in e and "no_proxy" not in e
    assert e["http_proxy"] == d.proxy_url
    assert e["XDG_CACHE_HOME"].startswith(d.dir)
    r = d.run(["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
               "/org/freedesktop/DBus", "org.freedesktop.DBus.ListActivatableNames"])
    assert r.returncode == 0, r.stderr
    # Only the bus itself is activatable: nothing can be auto-started.
    names = [ln.split('"')[1] for ln in r.stdout.splitlines() if 'string "' in ln]
    assert names == ["org.freedesktop.DBus"], names
    r = d.run(["pactl", "get-default-sink"])
    assert r.stdout.strip() == d.sink, r.stdout


@check("paplay is recorded, timed and its tone measured")
def sound_check(d, tmp):
    beep = os.path.join(tmp, "beep.wav")
    make_beep(beep)
    t0 = d.mark()
    assert not d.recording(since=t0 - 0.5).has_sound(), "sink not silent at rest"
    p = d.play(beep)
    delay = d.wait_for_sound(t0, timeout=3)
    assert delay is not None, "nothing recorded"
    assert p.wait(5) == 0
    time.sleep(0.1)
    rec = d.recording(since=t0)
    first = rec.first_sound()
    spans = rec.sound_intervals()
    a, b = spans[0][0], spans[-1][1]
    level = rec.tone_level(1000, a + 0.05, b - 0.05)
    other = rec.tone_level(TONE_HZ, a + 0.05, b - 0.05)
    print("     first sound %.1f ms after exec, lasts %.3f s, 1 kHz level %.3f, 660 Hz %.4f"
          % (first * 1000, b - a, level, other))
    assert 0.0 < first < 0.5, first
    assert len(spans) == 1 and abs((b - a) - 0.3) < 0.01, spans
    assert abs(level - 0.4) < 0.02, level
    assert other < 0.01, other
    assert not rec.has_sound(b + 0.01, None)


@check("chime onsets found among overlapping copies over a steady tone")
def chime_check(d, tmp):
    bell = CHIME
    if not os.path.exists(bell):
        bell = os.path.join(tmp, "bell.wav")
        make_bell(bell)
    tone = os.path.join(tmp, "tone.wav")
    with open(tone, "wb") as f:
        f.write(urllib.request.build_opener(
            urllib.request.ProxyHandler({"http": d.proxy_url})).open(TONE_URL).read())
    t0 = d.mark()
    bg = d.play(tone)
    time.sleep(0.5)
    # One lone chime, then a burst of eight 80 ms apart (a held key).
    starts = []
    procs = []
    plan = [0.0] + [0.8 + 0.08 * i for i in range(8)]
    base = time.monotonic()
    for offset in plan:
        now = time.monotonic() - base
        if offset > now:
            time.sleep(offset - now)
        starts.append(time.monotonic() - t0)
        procs.append(d.play(bell))
    for p in procs:
        assert p.wait(10) == 0
    time.sleep(0.1)
    rec = d.recording(since=t0)
    onsets = rec.chime_onsets(template=decode(bell), exclude_hz=(TONE_HZ,))
    print("     launched at  " + " ".join("%.3f" % s for s in starts))
    print("     onsets found " + " ".join("%.3f" % o.time for o in onsets))
    print("     strengths    " + " ".join("%.2f" % o.strength for o in onsets))
    assert len(onsets) == len(starts), (len(onsets), len(starts))
    lags = [o.time - s for o, s in zip(onsets, starts)]
    assert all(0 <= lag < 0.25 for lag in lags), lags
    # Each copy reads about 1.0; two that start a few ms apart (paplay
    # launches jitter on a busy machine) share their strength less evenly.
    assert all(0.5 < o.strength < 1.5 for o in onsets), onsets
    assert rec.tone_present(TONE_HZ, 0.6, 3.0)
    d.stop(bg)


@check("a GTK window maps centred, borderless, and X sees it")
def window_check(d):
    p = d.start(STANDIN + ["--title", TITLE, "--undecorated", "--center",
                           "--cursor", "pointer"])
    w = d.wait_for_window(title=TITLE, timeout=10)
    assert w.pid == p.pid, (w, p.pid)
    centred = (440, 362, 400, 300)
    x0, y0 = centred[:2]
    assert d.wait_for_geometry(TITLE, centred) == centred, d.windows()
    by_title, by_id = d.window_geometry(TITLE), d.window_geometry(w.id)
    assert by_title == centred == by_id, (by_title, w.geometry, by_id, d.windows())
    assert w.id in d.client_list()
    xprop = d.run(["xprop", "-root", "_NET_CLIENT_LIST"]).stdout
    assert hex(w.id) in xprop, xprop
    # GTK paints its light background soon after mapping; the root stays black.
    assert wait(lambda: sum(d.screenshot().getpixel((x0 + 200, y0 + 150))) > 600)
    img = d.screenshot(os.path.join(d.dir, "shot.png"))
    inside, outside = img.getpixel((x0 + 200, y0 + 150)), img.getpixel((20, 20))
    assert sum(inside) > 600 and sum(outside) < 30, (inside, outside)
    region = d.screenshot(region=(440, 362, 400, 300))
    assert region.size == (400, 300)

    d.move(x0 + 50, y0 + 50)
    assert wait(lambda: d.cursor_name() == "pointer"), d.cursor_name()
    d.move(10, 10)
    assert wait(lambda: d.cursor_name() == "left_ptr"), d.cursor_name()
    assert d.pointer() == (10, 10)

    d.click(x0 + 20, y0 + 30)
    d.key("F9")
    d.drag(x0 + 100, y0 + 100, x0 + 150, y0 + 120)
    d.key("Escape")
    assert p.wait(5) == 0
    out, _ = d.output(p)
    lines = out.splitlines()
    assert lines[:3] == ["mapped", "button 1 20 30", "key F9"], lines
    assert "button 1 100 100" in lines and lines[-1] == "key Escape", lines
    assert d.wait_for_no_window(title=TITLE, timeout=5)


@check("hidden and shown windows are told apart")
def hide_check(d):
    p = d.start(STANDIN + ["--title", "hider", "--hide-after", "1.5", "--show-after", "2.5"])
    d.wait_for_window(title="hider", stable=0.2)
    assert d.wait_for_no_window(title="hider", timeout=5, stable=0.2)
    assert not d.is_viewable("hider")
    d.wait_for_window(title="hider", timeout=5, stable=0.2)
    assert d.is_viewable("hider")
    assert d.stop(p) != 0  # SIGTERM


@check("the site answers through the proxy, logs and waits")
def site_check(d):
    opener = urllib.request.build_opener(urllib.request.ProxyHandler({"http": d.proxy_url}))
    n = len(d.site.requests())
    r = opener.open(RANDOM_PLAY_URL)
    page = r.read().decode()
    assert r.status == 200 and r.headers["Cache-Control"] == "no-store"
    assert "<audio autoplay loop" in page, page
    i, req = d.site.wait_for_request("playrandom.html", after_index=n, timeout=1)
    assert i == n and req.url == RANDOM_PLAY_URL and req.method == "GET", req
    home = opener.open("http://zorva.example").read().decode()
    assert "<audio" not in home
    assert d.site.requests()[-1].url.startswith("http://zorva.example")
    req = urllib.request.Request(TONE_URL, headers={"Range": "bytes=0-43"})
    r = opener.open(req)
    assert r.status == 206 and r.read()[:4] == b"RIFF"
    assert r.headers["Content-Range"].startswith("bytes 0-43/")
    try:
        opener.open("http://music.example/nothing-here")
        raise AssertionError("expected 404")
    except urllib.error.HTTPError as e:
        assert e.code == 404 and e.headers["Cache-Control"] == "no-store"
    # wait_for_request times out, and sees a request made while it waits.
    assert d.site.wait_for_request("never", timeout=0.1) is None
    n = len(d.site.requests())
    threading.Timer(0.2, lambda: opener.open(HOME_URL).read()).start()
    got = d.site.wait_for_request("zorva.example", after_index=n, timeout=3)
    assert got is not None and got[0] == n


@check("a real web view plays the random-play page through the proxy")
def webview_check(d, webview):
    t0 = d.mark()
    n = len(d.site.requests())
    p = d.start([webview, RANDOM_PLAY_URL])
    d.wait_for_window(pid=p.pid, timeout=15)
    i, req = d.site.wait_for_request("playrandom.html", after_index=n, timeout=15)
    assert req.url == RANDOM_PLAY_URL
    start = d.wait_for_tone(TONE_HZ, t0, timeout=20)
    assert start is not None, "no tone"
    time.sleep(1.0)
    rec = d.recording(since=t0)
    # The page's tone at the level it was served (a busy machine may add
    # dropouts, so the best 100 ms stretch is taken).
    _, levels = rec.tone_track(TONE_HZ, frame=0.1)
    level = float(levels.max())
    print("     request %.3f s, tone %.3f s after exec, level %.3f"
          % (req.time - t0, start, level))
    assert abs(level - 0.5) < 0.05, level
    kids = [k for k in marked_pids(d.dir) if k not in {s.pid for _, s in d._services}]
    assert len(kids) >= 2, kids  # the engine's own processes
    d.stop(p)
    assert not any(alive(k) for k in kids), [describe(k) for k in kids if alive(k)]


def wait(pred, timeout=3.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if pred():
            return True
        time.sleep(0.02)
    return pred()


@check("teardown after an exception stops everything")
def failure_teardown_check():
    pids, where = set(), None
    try:
        with Desktop(record=False) as d:
            where = d.dir
            d.start(STANDIN + ["--title", "orphan"])
            d.wait_for_window(title="orphan")
            pids = d.all_pids()
            raise KeyError("deliberate")
    except KeyError:
        pass
    live = [p for p in pids if alive(p)]
    assert len(pids) >= 4 and not live, [describe(p) for p in live]
    assert where and not os.path.exists(where)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build-dir", default=os.path.join(HERE, "..", "..", "build"))
    args = ap.parse_args()
    webview = os.path.join(args.build_dir, "bench", "zorva_baseline_webview")

    t = time.monotonic()
    with tempfile.TemporaryDirectory(prefix="harness-selftest-") as tmp:
        with Desktop() as d:
            print("desktop %s up in %.2f s (%s)" % (d.display, time.monotonic() - t, d.dir))
            env_check(d)
            sound_check(d, tmp)
            chime_check(d, tmp)
            window_check(d)
            hide_check(d)
            site_check(d)
            if os.access(webview, os.X_OK):
                webview_check(d, webview)
            else:
                print("skip web view check: %s not built" % webview)
            pids, where, display = d.all_pids(), d.dir, d.display
        live = [describe(p) for p in pids if alive(p)]
        ok = not live and not os.path.exists(where) and not marked_pids(where) \
            and not os.path.exists("/tmp/.X11-unix/X" + display[1:])
        results.append(("everything stopped after the desktop", ok))
        print("%s everything stopped after the desktop (%d pids, live: %s)"
              % ("ok  " if ok else "FAIL", len(pids), live))
    failure_teardown_check()

    failed = [n for n, ok in results if not ok]
    print("%d passed, %d failed" % (len(results) - len(failed), len(failed)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
