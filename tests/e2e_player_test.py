"""The real player end to end: the music page and its sound, the start-up
chime, the five hotkeys, a second copy, a burst of presses, and ending
during a chime. Judged from the loopback site's request log, the X server
and a recording of the PulseAudio sink (tests/harness/desktop.py).

Run by ctest as: /usr/bin/python3 tests/e2e_player_test.py BUILD_DIR
"""

import os
import re
import subprocess
import sys
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "harness"))

import desktop as harness  # noqa: E402
from desktop import (HOME_URL, RANDOM_PLAY_URL, RATE, TONE_HZ, Desktop, Site,  # noqa: E402
                     load_template, wait_until)
from x11 import MapWatcher  # noqa: E402

BUILD = os.path.abspath(sys.argv.pop(1) if len(sys.argv) > 1 else os.path.join(HERE, "..", "build"))
TITLE = "ZORVA听歌软件"
STANDIN = os.path.join(HERE, "harness", "standin_window.py")
PLACE = (440, 362)          # centred on the 1280x1024 screen
EXIT_POINT = (260, 260)     # inside "退出软件" and clear of "操作说明"
CHIME_SECONDS = len(load_template()) / RATE  # about 1.65
SILENT_PAGE = harness.site.HOME_PAGE


# --- reading the recording -------------------------------------------------------

def chime_groups(rec, t0=None, t1=None, gap=1.0):
    """Chimes heard in `rec` starting between t0 and t1, as
    [(start, strongest copy)].

    Each copy of the clip found by chime_onsets reads about 1.0. On a busy
    machine a playback stream can run dry (0.7 s seen under heavy load);
    the rest of its clip then plays that much later and reads as further,
    weaker copies after the first. Copies closer than `gap` are therefore
    one chime: use this only where chimes lie well over `gap` apart. Two
    chimes started together read as one copy of about 2.0.
    """
    groups = []
    for o in rec.chime_onsets():
        if (t0 is not None and o.time < t0) or (t1 is not None and o.time > t1):
            continue
        if groups and o.time - groups[-1][2] < gap:
            groups[-1][1] = max(groups[-1][1], o.strength)
            groups[-1][2] = o.time
        else:
            groups.append([o.time, o.strength, o.time])
    return [(start, strongest) for start, strongest, _ in groups]


def task_names(pid):
    """Names of the threads of `pid` (from /proc/PID/task)."""
    names = []
    try:
        tasks = os.listdir("/proc/%d/task" % pid)
    except OSError:
        return names
    for tid in tasks:
        try:
            with open("/proc/%d/task/%s/comm" % (pid, tid)) as f:
                names.append(f.read().strip())
        except OSError:
            pass
    return names


def thread_running(tid):
    """False once thread `tid` has ended (a zombie, or gone)."""
    return harness.proc_state(tid) not in (None, "Z", "X")


class StreamLog:
    """Polls the sound server's playback streams (`pactl list sink-inputs`)
    on a thread; keeps, for each stream of process `pid`, when it was first
    and last seen."""

    def __init__(self, env, pid, interval=0.05):
        self.env, self.pid, self.interval = dict(env), pid, interval
        self.seen = {}
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _poll(self):
        out = subprocess.run(["pactl", "list", "sink-inputs"], env=self.env, capture_output=True,
                             text=True, timeout=10).stdout
        now = time.monotonic()
        for block in re.split(r"\n(?=Sink Input #)", out):
            index = re.match(r"Sink Input #(\d+)", block)
            owner = re.search(r'application\.process\.id = "(\d+)"', block)
            if index and owner and int(owner.group(1)) == self.pid:
                first, _ = self.seen.get(int(index.group(1)), (now, now))
                self.seen[int(index.group(1))] = (first, now)

    def _run(self):
        while not self._stop.is_set():
            self._poll()
            self._stop.wait(self.interval)

    def stop(self):
        if not self._stop.is_set():
            self._stop.set()
            self._thread.join(15)
            self._poll()
        return self.seen


# --- the tests ---------------------------------------------------------------------

class PlayerTest(unittest.TestCase):
    """A fresh desktop per test, with one player started on it."""

    def setUp(self):
        self.desktop = Desktop()
        self.desktop.__enter__()
        self.addCleanup(self.desktop.__exit__, None, None, None)

    def start_player(self, env=None):
        d = self.desktop
        proc = d.start([os.path.join(BUILD, "zorva")], env=env)
        window = d.wait_for_window(title=TITLE, pid=proc.pid, timeout=20)
        return proc, window

    def start_and_settle(self, env=None):
        """Starts the player; returns once its page is requested and its
        start-up chime has played out."""
        d = self.desktop
        t0 = d.mark()
        proc, window = self.start_player(env)
        self.assertIsNotNone(d.site.wait_for_request("playrandom.html", timeout=20),
                             "the random-play page was never requested")
        groups = wait_until(lambda: chime_groups(d.recording(since=t0)), 10, 0.2)
        self.assertTrue(groups, "no start-up chime")
        self.sleep_until(t0 + groups[0][0] + CHIME_SECONDS + 0.5)
        return proc, window

    @staticmethod
    def sleep_until(t):
        time.sleep(max(0.0, t - time.monotonic()))

    def press(self, key):
        """Presses `key`; returns the log index before it and the time of the press."""
        n = len(self.desktop.site.requests())
        t = self.desktop.mark()
        self.desktop.key(key)
        return n, t

    def loads(self, after_index, url, site=None):
        """Requests for the page `url` from log index `after_index` on (the
        engine also fetches the tone and icons)."""
        return [r for r in (site or self.desktop.site).requests()[after_index:] if r.url == url]

    def assert_one_chime(self, since, what, latest=None):
        """Exactly one chime starts between `since` and `latest` (default:
        two seconds later)."""
        latest = since + 2.0 if latest is None else latest
        self.sleep_until(latest + 1.0)
        rec = self.desktop.recording(since=since)
        groups = chime_groups(rec, -0.05, latest - since)
        self.assertEqual(len(groups), 1, f"{what}: chimes {groups}")
        self.assertLess(groups[0][1], 1.6, f"{what}: two chimes at once {groups}")
        return groups[0][0]

    def tone_share(self, since, t0, t1):
        """Share of the 50 ms frames from t0 to t1 (seconds after `since`)
        in which the tone sounds. Frames, not one long measure: a stream
        that runs dry for a moment resumes out of phase."""
        times, levels = self.desktop.recording(since=since).tone_track(TONE_HZ, 0.05)
        inside = (times >= t0) & (times + 0.05 <= t1)
        return float((levels[inside] >= 0.05).mean()) if inside.any() else 0.0

    def tone_on(self, since, t0, t1):
        return self.tone_share(since, t0, t1) >= 0.5

    def wait_for_tone_playing(self, timeout=10.0):
        """True once the tone sounds (it may have begun long before)."""
        d = self.desktop

        def playing():
            now = d.mark()
            return self.tone_on(now - 0.5, 0.0, 0.5)

        return bool(wait_until(playing, timeout, 0.05))

    def wait_for_tone_to_stop(self, since, timeout=10.0):
        """Seconds after `since` from which the tone is gone for good (1.3 s
        without it), or None."""
        d = self.desktop

        def quiet_from():
            now = d.mark() - since
            return now - 0.3 if self.tone_share(since, now - 0.3, now) == 0 else None

        start = wait_until(quiet_from, timeout, 0.05)
        if start is None:
            return None
        self.sleep_until(since + start + 1.3)
        return None if self.tone_share(since, start, start + 1.3) > 0 else start


class StartUp(PlayerTest):
    def test_page_tone_and_chime_before_the_window_maps(self):
        d = self.desktop
        watcher = MapWatcher(d.display)
        self.addCleanup(watcher.close)
        t0 = d.mark()
        proc = d.start([os.path.join(BUILD, "zorva")])
        mapped = watcher.wait(pid=proc.pid, timeout=20)
        self.assertIsNotNone(mapped, "the window never mapped")
        map_time = mapped[0] - t0

        self.assertIsNotNone(d.site.wait_for_request("playrandom.html", timeout=20))
        self.assertEqual(d.site.requests()[0].url, RANDOM_PLAY_URL)
        self.assertIsNotNone(d.wait_for_tone(TONE_HZ, t0, timeout=20), "the page's tone is never heard")

        self.sleep_until(t0 + max(map_time, 0) + 2.5)
        groups = chime_groups(d.recording(since=t0))
        self.assertEqual(len(groups), 1, f"start-up chimes: {groups}")
        onset = groups[0][0]
        # The chime is requested on the UI thread before the window is
        # shown; its sound reaches the sink about 15 ms after the request,
        # and the MapNotify is stamped when this test reads it. Two events
        # in two servers cannot be ordered from outside more finely than the
        # sink's start latency, so this shows the chime no later than the
        # map plus that latency (generously 0.1 s): a chime left for after
        # the page or the first paint would come later.
        self.assertLessEqual(onset, map_time + 0.1,
                             f"chime heard at {onset:.3f} s, window mapped at {map_time:.3f} s")
        self.assertEqual(tuple(d.window_geometry(mapped[1]))[:2], PLACE)


class Hotkeys(PlayerTest):
    def test_f9_reloads_f10_goes_home_f8_brings_the_music_back(self):
        d = self.desktop
        self.start_and_settle()
        self.assertTrue(self.wait_for_tone_playing(), "the page's tone is not heard")

        # F9: the page again, its tone again, and a chime.
        n, t = self.press("F9")
        self.assertIsNotNone(d.site.wait_for_request("playrandom.html", after_index=n))
        self.assert_one_chime(t, "F9")
        self.assertTrue(self.tone_on(t, 2.0, 3.0), "no tone after F9")

        # F10: the home page; the music stops for good.
        n, t = self.press("F10")
        self.assertIsNotNone(d.site.wait_for_request("zorva.example", after_index=n),
                             "F10 did not request the home page")
        self.assertEqual(len(self.loads(n, HOME_URL)), 1)
        self.assert_one_chime(t, "F10")
        self.assertIsNotNone(self.wait_for_tone_to_stop(t), "the tone goes on after F10")
        self.assertEqual(self.loads(n, RANDOM_PLAY_URL), [])

        # F8: the random-play page and its tone come back.
        n, t = self.press("F8")
        self.assertIsNotNone(d.site.wait_for_request("playrandom.html", after_index=n),
                             "F8 did not request the random-play page")
        self.assertEqual(len(self.loads(n, RANDOM_PLAY_URL)), 1)
        self.assertIsNotNone(d.wait_for_tone(TONE_HZ, t, timeout=10), "no tone after F8")
        self.assert_one_chime(t, "F8")
        self.assertEqual(self.loads(n, HOME_URL), [])

    def test_f11_hides_f12_shows_at_the_same_place(self):
        d = self.desktop
        proc, window = self.start_and_settle()
        # Moved first, so that "the same place" is not just the centre.
        x, y = PLACE[0] + 60, PLACE[1] + 150
        d.drag(x, y, x + 90, y + 45, steps=20, step_delay=0.05)
        moved = (PLACE[0] + 90, PLACE[1] + 45, 400, 300)
        self.assertEqual(d.wait_for_geometry(window.id, moved), moved)
        self.assertTrue(self.wait_for_tone_playing(), "the page's tone is not heard")

        _, t = self.press("F11")
        self.assertTrue(d.wait_for_no_window(title=TITLE), "F11 did not hide the window")
        self.assertFalse(d.x.viewable(window.id))
        self.assertTrue(wait_until(lambda: window.id not in d.client_list(), 5),
                        "the hidden window stays in _NET_CLIENT_LIST")
        self.assert_one_chime(t, "F11")
        self.assertTrue(self.tone_on(t, 0.5, 3.0), "the tone stopped with the window")
        self.assertNotIn(window.id, d.client_list())

        _, t = self.press("F12")
        shown = d.wait_for_window(title=TITLE, pid=proc.pid, timeout=10)
        self.assertEqual(shown.id, window.id)
        self.assertEqual(d.wait_for_geometry(window.id, moved), moved)
        self.assertIn(window.id, d.client_list())
        self.assert_one_chime(t, "F12")
        self.assertTrue(self.tone_on(t, 0.5, 3.0), "no tone after F12")

    def test_keys_work_while_another_window_has_the_focus(self):
        d = self.desktop
        proc, _ = self.start_and_settle()
        other = d.start([sys.executable, STANDIN, "--title", "Stand-in", "--size", "300x200"])
        standin = d.wait_for_window(title="Stand-in", timeout=20)
        d.xdotool("windowactivate", "--sync", standin.id)
        self.assertEqual(int(d.xdotool("getactivewindow")), standin.id)
        # The stand-in really has the keyboard: a plain key reaches it.
        d.key("a")
        self.assertTrue(wait_until(lambda: "key a" in d.output(other)[0], 5),
                        "the stand-in does not get the keyboard")

        n, t = self.press("F9")
        self.assertIsNotNone(d.site.wait_for_request("playrandom.html", after_index=n),
                             "F9 did nothing while another window had the focus")
        self.assert_one_chime(t, "F9")
        self.assertNotIn("F9", d.output(other)[0], "F9 reached the focused window")
        self.assertEqual(int(d.xdotool("getactivewindow")), standin.id)
        self.assertIsNone(proc.poll())


class SecondCopy(PlayerTest):
    def second_copy_loads(self, site, after_index):
        return [r.url for r in site.requests()[after_index:] if r.url in (RANDOM_PLAY_URL, HOME_URL)]

    def test_second_copy_gets_no_key_but_still_chimes(self):
        d = self.desktop
        first, first_window = self.start_and_settle()
        # The second copy uses its own proxy, so each request names its copy.
        other_site = Site().start()
        self.addCleanup(other_site.stop)
        other_site.set_route(RANDOM_PLAY_URL, SILENT_PAGE)

        t = d.mark()
        second = d.start([os.path.join(BUILD, "zorva")], env={
            "http_proxy": other_site.proxy_url, "XDG_CACHE_HOME": d.new_cache_dir()})
        second_window = d.wait_for_window(title=TITLE, pid=second.pid, timeout=20)
        shown = d.mark()
        self.assertIsNotNone(other_site.wait_for_request("playrandom.html", timeout=20))
        # Its chime is asked for before its window shows.
        self.assert_one_chime(t, "start-up of the second copy", latest=shown + 0.5)
        self.assertIsNone(second.poll(), "a refused key ended the second copy")

        # F9 reaches the first copy only: one request and one chime.
        n, t = self.press("F9")
        m = len(other_site.requests())
        self.assertIsNotNone(d.site.wait_for_request("playrandom.html", after_index=n),
                             "the first copy no longer answers F9")
        self.assert_one_chime(t, "F9 with two copies")
        self.assertEqual(len(self.loads(n, RANDOM_PLAY_URL)), 1)
        self.assertEqual(self.second_copy_loads(other_site, m), [])

        # Nor do the other four keys reach it.
        self.press("F11")
        self.assertTrue(wait_until(lambda: not d.x.viewable(first_window.id), 10))
        self.assertTrue(d.x.viewable(second_window.id), "F11 hid the second copy")
        self.press("F12")
        self.assertTrue(wait_until(lambda: d.x.viewable(first_window.id), 10))
        n, _ = self.press("F10")
        self.assertIsNotNone(d.site.wait_for_request("zorva.example", after_index=n))
        n, _ = self.press("F8")
        self.assertIsNotNone(d.site.wait_for_request("playrandom.html", after_index=n))
        time.sleep(0.5)
        self.assertEqual(self.second_copy_loads(other_site, m), [])
        self.assertTrue(d.x.viewable(second_window.id))

        out, err = d.output(second)
        self.assertEqual(out, "")
        for word in ("X Error", "BadAccess", "hotkey", "F9"):
            self.assertNotIn(word, err)
        self.assertIsNone(first.poll())
        self.assertIsNone(second.poll())


class Burst(PlayerTest):
    def test_twenty_presses_in_two_seconds(self):
        d = self.desktop
        proc, _ = self.start_and_settle()
        baseline = task_names(proc.pid)

        streams = StreamLog(d.env, proc.pid)
        self.addCleanup(streams.stop)
        n, t = len(d.site.requests()), d.mark()
        d.xdotool("key", "--delay", "100", *["F9"] * 20)
        last_press = d.mark() - t
        self.sleep_until(t + last_press + CHIME_SECONDS + 1.5)
        seen = streams.stop()

        # 20 chimes: the program opened 20 playback streams, and each lived
        # about as long as its clip, not cut off by the next press (a stream
        # is seen by polling, so its span reads up to two polls short).
        chimes = {i: (a - t, b - t) for i, (a, b) in seen.items() if a >= t}
        self.assertEqual(len(chimes), 20, f"playback streams (first, last seen): {chimes}")
        short = {i: round(b - a, 2) for i, (a, b) in chimes.items() if b - a < 1.0}
        self.assertEqual(short, {}, "streams that ended early (seconds seen)")
        # And they were heard. Copies overlap 16 deep, and on a busy machine
        # a stream that runs dry for a moment splits its clip in two, so the
        # recording bounds the count from below rather than fixing it.
        onsets = [round(o.time, 3) for o in d.recording(since=t).chime_onsets()]
        self.assertGreaterEqual(len(onsets), 20, f"chime onsets: {onsets}")
        self.assertFalse([o for o in onsets if o < -0.05], f"a chime before the first press: {onsets}")

        # 20 reloads: the page is asked for again, never the home page, and
        # the last press's reload is served. (The engine drops a reload that
        # a newer one overtakes before its request is sent, so fewer than 20
        # requests arrive when it lags: the count is an upper bound.)
        reloads = self.loads(n, RANDOM_PLAY_URL)
        self.assertTrue(reloads, "no reload during the burst")
        self.assertLessEqual(len(reloads), 20)
        self.assertEqual(self.loads(n, HOME_URL), [])
        # xdotool waits its delay after the last key too.
        self.assertGreater(reloads[-1].time - t, last_press - 0.15, "the last press did not reload")

        # Healthy afterwards: no playback thread outlives its clip ...
        def settled():
            return len(task_names(proc.pid)) <= len(baseline)
        self.assertTrue(wait_until(settled, 30, 0.1),
                        f"threads before: {sorted(baseline)}; now: {sorted(task_names(proc.pid))}")
        # ... and a press still works.
        n, t = self.press("F9")
        self.assertIsNotNone(d.site.wait_for_request("playrandom.html", after_index=n))
        self.assert_one_chime(t, "F9 after the burst")
        self.assertIsNone(proc.poll())


class Ending(PlayerTest):
    def test_exit_during_a_chime_ends_at_once_with_zero_and_silence(self):
        d = self.desktop
        # A silent page: any sound left after the exit can only be the chime.
        d.site.set_route(RANDOM_PLAY_URL, SILENT_PAGE)
        proc, window = self.start_and_settle()
        self.assertTrue(wait_until(lambda: not d.recording(since=d.mark() - 0.5).has_sound(), 10),
                        "sound goes on before the press")

        t = d.mark()
        d.key("F12")  # the window stays as it is; only the chime sounds
        start = d.wait_for_sound(t, timeout=10)
        self.assertIsNotNone(start, "F12 gave no chime")
        self.sleep_until(t + start + 0.3)
        g = d.window_geometry(window.id)
        clicked = d.mark() - t
        d.click(g.x + EXIT_POINT[0], g.y + EXIT_POINT[1])
        # The program's end is its main thread's: the kernel may take
        # seconds more to tear down the engine's large address space
        # before the parent sees the status.
        self.assertTrue(wait_until(lambda: not thread_running(proc.pid), 20, 0.005),
                        "the press did not end the program")
        ended = d.mark() - t
        self.assertEqual(proc.wait(60), 0)

        chime_end = start + CHIME_SECONDS
        self.assertLess(ended + 0.15, chime_end - 0.5,
                        f"the press came too late to tell (chime {start:.2f}..{chime_end:.2f} s, "
                        f"program ended at {ended:.2f} s)")
        self.sleep_until(t + chime_end + 0.3)
        rec = d.recording(since=t)
        self.assertTrue(rec.has_sound(clicked - 0.1, clicked), "no chime sounded at the press")
        self.assertFalse(rec.has_sound(ended + 0.15, chime_end + 0.3),
                         f"sound after the end at {ended:.2f} s: {rec.sound_intervals()}")


if __name__ == "__main__":
    unittest.main(verbosity=2)
