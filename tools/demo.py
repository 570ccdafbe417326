"""Runs the player on a private headless desktop and records it.

    /usr/bin/python3 tools/demo.py BUILD_DIR

The loopback site stands in for the music site through http_proxy, so the
player runs unmodified. Writes BUILD_DIR/demo/window.png, legend.png and
heard.wav, and prints a timeline of what happened.
"""

import os
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "harness"))

from desktop import TONE_HZ, Desktop  # noqa: E402


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build"))
    out = os.path.join(build, "demo")
    os.makedirs(out, exist_ok=True)
    with Desktop() as d:
        t0 = d.mark()
        log = []

        def note(what):
            log.append((d.mark() - t0, what))
            print(f"{log[-1][0]:6.2f} s  {what}", flush=True)

        player = d.start([os.path.join(build, "zorva")])
        window = d.wait_for_window(title="ZORVA听歌软件", timeout=20)
        note(f"window mapped at {tuple(d.window_geometry(window.id))}")
        if d.site.wait_for_request("playrandom.html", timeout=10):
            note("random-play page requested")
        time.sleep(2.5)
        d.screenshot(os.path.join(out, "window.png"), region=(440, 362, 400, 300))
        for key, pause in (("F9", 2.5), ("F10", 2.5), ("F8", 3.0)):
            d.key(key)
            note(f"pressed {key}")
            time.sleep(pause)
        d.click(440 + 150, 362 + 260)
        note("clicked 操作说明")
        time.sleep(0.5)
        d.screenshot(os.path.join(out, "legend.png"), region=(440, 362, 400, 300))
        recording = d.recording(since=t0)
        recording.save_wav(os.path.join(out, "heard.wav"))
        d.key("Escape")
        code = player.wait(10)
        note(f"Esc: the player exited with {code}")

        print("\nRequests the site saw:")
        for request in d.site.requests():
            print(f"  {request.time - t0:6.2f} s  {request.method} {request.url}")
        print("\nChimes heard at:", ", ".join(f"{o.time:.2f} s" for o in recording.chime_onsets()))
        print("Page music (the site's tone) heard during:",
              ", ".join(f"{a:.2f}-{b:.2f} s" for a, b in recording.tone_intervals(TONE_HZ)))
    print(f"\nScreenshots: {out}/window.png, {out}/legend.png")
    print(f"Recording:   {out}/heard.wav")


if __name__ == "__main__":
    main()
