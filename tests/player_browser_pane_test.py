"""The browser pane on WebKitGTK, end to end under Xvfb, openbox and a
PulseAudio null sink, with the loopback site as http_proxy
(tests/harness/desktop.py).

PlayerPane runs the real player. PaneDriver runs player_pane_driver
(tests/player_pane_driver.cpp): one pane placed as the player places it,
whose properties and commands the test writes through the toolkit.

Run by ctest as: /usr/bin/python3 tests/player_browser_pane_test.py BUILD_DIR
"""

import http.server
import os
import select
import signal
import socket
import subprocess
import sys
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "harness"))

import numpy as np  # noqa: E402
from PIL import Image  # noqa: E402

from desktop import (HOME_URL, MARKER, RANDOM_PLAY_URL, TONE_HZ, Desktop,  # noqa: E402
                     descendants, marked_pids, wait_until)

BUILD = os.path.abspath(sys.argv.pop(1) if len(sys.argv) > 1 else os.path.join(HERE, "..", "build"))
ASSETS = os.path.join(HERE, "..", "assets")
TITLE = "ZORVA听歌软件"
INSTRUCTIONS_BUTTON_CENTRE = (175, 260)  # inside the window

# Properties and commands of the pane, by number.
FONT_SIZE, OFFLINE, SILENT = 8, 9, 10
GO_FORWARD, GO_BACK, GO_HOME, GO_SEARCH, REFRESH, STOP = 0, 1, 2, 3, 4, 5
SAVE_AS, PRINT, PRINT_PREVIEW, PAGE_SETUP = 6, 7, 8, 9

STILL_URL = "http://music.example/still.html"
STILL_PAGE = b"<html><head><title>Still</title></head><body><p>still</p></body></html>"


def engine_pids(pid, name="WebKitWebProcess"):
    """Live processes under `pid` running the engine's `name` program."""
    found = []
    for child in descendants(pid):
        try:
            with open("/proc/%d/cmdline" % child, "rb") as f:
                argv0 = f.read().split(b"\0")[0]
        except OSError:
            continue
        if os.path.basename(argv0) == name.encode():
            found.append(child)
    return found


def parent_program(pid):
    with open("/proc/%d/stat" % pid, "rb") as f:
        data = f.read()
    ppid = int(data[data.rindex(b")") + 2:].split()[1])
    with open("/proc/%d/cmdline" % ppid, "rb") as f:
        return os.path.basename(f.read().split(b"\0")[0]).decode()


def engine_processes(desktop):
    """The desktop's live processes that run one of the engine's programs."""
    found = []
    for pid in marked_pids(desktop.dir):
        try:
            with open("/proc/%d/cmdline" % pid, "rb") as f:
                if b"webkit2gtk" in f.read().split(b"\0")[0]:
                    found.append(pid)
        except OSError:
            pass
    return found


def closed_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


class PaneTest(unittest.TestCase):
    """One desktop per class; each test starts its own program in it."""

    @classmethod
    def setUpClass(cls):
        cls.desktop = Desktop()
        cls.desktop.__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.desktop.__exit__(None, None, None)

    def mark_requests(self):
        return len(self.desktop.site.requests())

    def requests_since(self, index):
        return [r.url for r in self.desktop.site.requests()[index:]]

    def assert_requested(self, url, index, timeout=10, why=""):
        found = self.desktop.site.wait_for_request(url, after_index=index, timeout=timeout)
        self.assertIsNotNone(found, "%s was not requested %s; requests: %r"
                             % (url, why, self.requests_since(index)))
        return found[1].time

    def assert_tone_from(self, start, timeout=10, why=""):
        """Seconds from `start` (monotonic) to the first 50 ms in which the
        tone plays, whether it started before `start` or not."""
        def playing():
            times, levels = self.desktop.recording(since=start).tone_track(TONE_HZ, 0.05)
            on = np.flatnonzero(levels >= 0.05)
            return (max(0.0, times[on[0]]),) if len(on) else None
        at = wait_until(playing, timeout, 0.05)
        self.assertIsNotNone(at, "no tone at the sink %s" % why)
        return at[0]

    def assert_tone_throughout(self, t0, t1, why=""):
        """The tone plays from t0 to t1 (monotonic) and still at the end. A
        loaded machine may starve the sink for a moment, and the looping
        file restarts every 5 s, so 80% of 50 ms frames count as throughout."""
        _, levels = self.desktop.recording(since=t0, until=t1).tone_track(TONE_HZ, 0.05)
        on = levels > 0.25
        self.assertTrue(len(on) and on.mean() >= 0.8 and on[-10:].any(),
                        "the tone stops %s: %s" % (why, "".join("#" if x else "." for x in on)))

    def assert_settles(self, after, playing, why="", span=1.0, timeout=10):
        """Within `timeout`, the tone plays (or is silent) for `span` seconds
        without a break, from `after` (monotonic) on."""
        def longest_run():
            _, levels = self.desktop.recording(since=after).tone_track(TONE_HZ, 0.05)
            run = best = 0
            for level in levels:
                run = run + 1 if (level > 0.25 if playing else level < 0.02) else 0
                best = max(best, run)
            return best * 0.05 >= span
        self.assertTrue(wait_until(longest_run, timeout, 0.1),
                        "%s %s" % ("no steady tone" if playing else "the tone does not stop", why))

    def audio_requested(self, page_url, index, why=""):
        """When the page requested after `index` asked for its sound."""
        self.assert_requested(page_url, index, 10, why)
        page_index = self.desktop.site.wait_for_request(page_url, after_index=index)[0]
        return self.assert_requested("tone660.wav", page_index + 1, 10, "by the page " + why)

    def assert_silent(self, t0, t1, why=""):
        level = self.desktop.recording(since=t0, until=t1).tone_level(TONE_HZ)
        self.assertLess(level, 0.02, "the tone still plays %s" % why)


class PlayerPane(PaneTest):
    """The real player: the pane inside the hidden legend panel, off-screen."""

    def start_player(self, env=None):
        d = self.desktop
        env = dict(env or {}, XDG_CACHE_HOME=d.new_cache_dir())
        self.cache = env["XDG_CACHE_HOME"]
        self.started = d.mark()
        self.requests_at_start = self.mark_requests()
        self.proc = d.start([os.path.join(BUILD, "zorva")], env=env)
        self.addCleanup(d.stop, self.proc)
        self.window = d.wait_for_window(title=TITLE, pid=self.proc.pid, timeout=20)
        self.mapped = d.mark() - self.started
        return self.proc

    def start_playing(self):
        self.start_player()
        self.assert_requested(RANDOM_PLAY_URL, self.requests_at_start)
        self.assert_tone_from(self.started)

    def press(self, key):
        """Presses a hotkey; returns when."""
        pressed = self.desktop.mark()
        self.desktop.key(key)
        return pressed

    def hotkey_hint(self, pressed_at):
        """For a failure message: whether the player chimed for the press."""
        time.sleep(0.5)
        try:
            chimes = self.desktop.recording(since=pressed_at).chime_onsets()
        except OSError:
            return ""
        return "" if chimes else "(no chime either: the hotkey was not delivered)"

    def shows(self, name):
        """The share of the window's pixels equal to the picture `name`."""
        d = self.desktop
        g = d.window_geometry(self.window.id)
        shot = np.asarray(d.screenshot(region=(g.x, g.y, g.width, g.height)).convert("RGB"), np.int16)
        picture = np.asarray(Image.open(os.path.join(ASSETS, name)).convert("RGB"), np.int16)
        return np.all(shot == picture, axis=2).mean() if shot.shape == picture.shape else 0.0

    def test_start_requests_the_page_and_plays_with_the_legend_hidden(self):
        self.start_player()
        d = self.desktop
        requested = self.assert_requested(RANDOM_PLAY_URL, self.requests_at_start)
        first_tone = self.assert_tone_from(self.started)
        self.assertTrue(d.is_viewable(self.window.id))
        # The window shows the background picture, not the legend.
        self.assertTrue(wait_until(lambda: self.shows("background.png") > 0.9, 10))
        self.assertLess(self.shows("legend.png"), 0.9)
        print("\n  player: window mapped %.3f s, first request %.3f s, first tone %.3f s after start"
              % (self.mapped, requested - self.started, first_tone), file=sys.stderr)
        # The engine runs sandboxed and keeps its cache under XDG_CACHE_HOME.
        web = wait_until(lambda: engine_pids(self.proc.pid), 10)
        self.assertTrue(web, "no web process")
        self.assertEqual(parent_program(web[0]), "bwrap")
        self.assertTrue(os.path.isdir(os.path.join(self.cache, "zorva", "WebKitCache")))

    def test_keeps_playing_hidden_and_with_the_legend_shown(self):
        self.start_playing()
        d = self.desktop
        pressed = self.press("F11")
        if not d.wait_for_no_window(title=TITLE, timeout=2):
            print("\n  F11 did not hide the window %s; unmapping it with xdotool instead"
                  % self.hotkey_hint(pressed), file=sys.stderr)
            d.xdotool("windowunmap", self.window.id)
            self.assertTrue(d.wait_for_no_window(title=TITLE, timeout=2))
        hidden = d.mark()
        time.sleep(2.5)
        self.assert_tone_throughout(hidden, d.mark(), "while the window is hidden")

        self.press("F12")
        if not wait_until(lambda: d.is_viewable(self.window.id), 2):
            d.xdotool("windowmap", self.window.id)
        self.assertTrue(wait_until(lambda: d.is_viewable(self.window.id), 3))
        g = d.window_geometry(self.window.id)
        d.click(g.x + INSTRUCTIONS_BUTTON_CENTRE[0], g.y + INSTRUCTIONS_BUTTON_CENTRE[1])
        self.assertTrue(wait_until(lambda: self.shows("legend.png") > 0.9, 10), "the legend is not shown")
        shown = d.mark()
        time.sleep(2)
        self.assert_tone_throughout(shown, d.mark(), "with the legend shown")

    def test_hotkeys_load_pages(self):
        self.start_playing()
        d = self.desktop
        # (key, address requested, the tone plays afterwards)
        for key, url, plays in (("F9", RANDOM_PLAY_URL, True),
                                ("F8", RANDOM_PLAY_URL, True),
                                ("F10", HOME_URL, False)):
            with self.subTest(key=key):
                index = self.mark_requests()
                pressed = self.press(key)
                found = d.site.wait_for_request(url, after_index=index, timeout=5)
                if found is None:
                    self.fail("%s: %s not requested %s" % (key, url, self.hotkey_hint(pressed)))
                if plays:
                    self.assert_settles(self.audio_requested(url, index, "after " + key), True,
                                        "after " + key)
                else:
                    self.assert_settles(found[1].time, False, "after " + key)

    def test_a_dead_web_process_is_replaced_and_the_music_comes_back(self):
        self.start_playing()
        d = self.desktop
        web = engine_pids(self.proc.pid)
        self.assertTrue(web)
        index = self.mark_requests()
        for pid in web:
            os.kill(pid, signal.SIGKILL)
        asked = self.audio_requested(RANDOM_PLAY_URL, index, "after the web process died")
        self.assert_settles(asked, True, "after the web process died")
        self.assertIsNone(self.proc.poll())
        self.assertEqual(d.output(self.proc)[1].count("the web engine crashed"), 1)

    def test_an_unreachable_site_leaves_the_pane_silent_and_the_player_healthy(self):
        self.start_player(env={"http_proxy": "http://127.0.0.1:%d" % closed_port()})
        d = self.desktop
        time.sleep(3)
        self.assert_silent(self.started, d.mark(), "with the site unreachable")
        self.assertEqual(self.requests_since(self.requests_at_start), [])
        self.assertIsNone(self.proc.poll())
        self.assertEqual([w.title for w in d.windows() if w.pid == self.proc.pid and w.viewable],
                         [TITLE], "another window (an error box?) appeared")
        # Esc still ends the player, and the engine's processes go with it.
        d.xdotool("windowactivate", "--sync", self.window.id)
        d.key("Escape")
        self.assertEqual(self.proc.wait(10), 0)
        self.assertTrue(wait_until(lambda: not engine_processes(d), 10), "the engine outlives the player")


class Driver:
    """player_pane_driver with its command pipe."""

    def __init__(self, desktop, settings, env=None):
        self.desktop = desktop
        # Engine data of its own (unless given), as a lone player has.
        env = {**desktop.env, "XDG_CACHE_HOME": desktop.new_cache_dir(), **(env or {})}
        env["XDG_DATA_HOME"] = env["XDG_CACHE_HOME"] + "-data"
        env[MARKER] = desktop.dir
        self.log = os.path.join(desktop.dir, "logs", "pane-driver-%d.err" % time.monotonic_ns())
        with open(self.log, "wb") as err:
            self.proc = subprocess.Popen(
                [os.path.join(BUILD, "player_pane_driver")] + ["%s=%s" % kv for kv in settings.items()],
                env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=err)
        self.pending = b""
        if self.read_line(20) != "ready":
            raise RuntimeError("the driver did not start")

    def close(self):
        self.desktop.stop(self.proc)
        self.proc.stdin.close()
        self.proc.stdout.close()

    def read_line(self, timeout=10):
        deadline = time.monotonic() + timeout
        while b"\n" not in self.pending:
            ready, _, _ = select.select([self.proc.stdout], [], [], max(0, deadline - time.monotonic()))
            if not ready:
                raise AssertionError("the driver does not answer (hung?)")
            chunk = os.read(self.proc.stdout.fileno(), 4096)
            if not chunk:
                raise AssertionError("the driver ended (exit %r)" % self.proc.wait(5))
            self.pending += chunk
        line, _, self.pending = self.pending.partition(b"\n")
        return line.decode("utf-8", "replace")

    def post(self, command):
        """Sends a command without waiting for its answer."""
        data = command if isinstance(command, bytes) else command.encode("utf-8")
        self.proc.stdin.write(data + b"\n")
        self.proc.stdin.flush()

    def send(self, command, timeout=10):
        """Sends a command; returns the lines before its "done"."""
        self.post(command)
        return self.answer(timeout)

    def answer(self, timeout=10):
        lines = []
        while True:
            line = self.read_line(timeout)
            if line.startswith("done"):
                return lines
            lines.append(line)

    def state(self):
        """(loading, uri)"""
        line = self.send("state")[0]
        loading, _, uri = line[len("state "):].partition(" ")
        return loading == "loading=1", uri[len("uri="):]

    def title(self):
        return self.send("state")[1][len("title "):]

    def stderr(self):
        with open(self.log, "rb") as f:
            return f.read().decode("utf-8", "replace")


class PaneDriver(PaneTest):

    def start_driver(self, env=None, **settings):
        driver = Driver(self.desktop, settings, env)
        self.addCleanup(driver.close)
        self.desktop.wait_for_window(title="pane driver", pid=driver.proc.pid)
        return driver

    def new_windows(self, before):
        """Viewable windows not in `before`, other than the driver's own."""
        return [w for w in self.desktop.windows()
                if w.id not in before and w.viewable and w.title != "pane driver"]

    def test_an_empty_address_at_creation_loads_nothing(self):
        index = self.mark_requests()
        driver = self.start_driver(Silent="true")
        time.sleep(1.5)
        self.assertEqual(self.requests_since(index), [])
        self.assertEqual(driver.state(), (False, ""))

    def test_every_write_loads_and_odd_addresses_leave_the_pane_working(self):
        driver = self.start_driver(Silent="true")
        gbk_page = "http://music.example/音乐.html"
        self.desktop.site.set_route("http://music.example/%E9%9F%B3%E4%B9%90.html", STILL_PAGE)
        # (written bytes, what the view shows afterwards; None: not checked)
        cases = [
            (b"", "about:blank"),
            (b"\xff\xfe\x81", "about:blank"),            # not GBK: an empty address
            (gbk_page.encode("gbk"), "http://music.example/%E9%9F%B3%E4%B9%90.html"),
            (b"not an address", None),
            (b"music.example/lb/playrandom.html", None),
            (b"http://", None),
            (b"http://[::1", None),
            (b"about:nothing", None),
            (b"javascript:alert(1)", None),
            (b"  JavaScript:void(0)", None),
            (b"data:text/html,<b>x</b>", "data:text/html,<b>x</b>"),
            (b"http://music.example/" + b"a" * 100000, None),
        ]
        for written, shown in cases:
            with self.subTest(address=written[:40]):
                driver.send(b"url-hex " + written.hex().encode())
                time.sleep(0.4)
                if shown is not None:
                    self.assertTrue(wait_until(lambda: driver.state()[1] == shown, 10), driver.state())
                # The next write loads as ever.
                index = self.mark_requests()
                driver.send("url " + RANDOM_PLAY_URL)
                self.assert_requested(RANDOM_PLAY_URL, index, 10, "after " + repr(written[:40]))
        # The same address twice is two loads.
        index = self.mark_requests()
        driver.send("url " + STILL_URL)
        self.assert_requested(STILL_URL, index)
        driver.send("url " + STILL_URL)
        self.assert_requested(STILL_URL, index + 1)

    def test_a_javascript_address_runs_in_the_page_shown(self):
        self.desktop.site.set_route(STILL_URL, STILL_PAGE)
        driver = self.start_driver(Silent="true", url=STILL_URL)
        self.assertTrue(wait_until(lambda: driver.state() == (False, STILL_URL), 10))
        index = self.mark_requests()
        driver.send("url javascript:new Image().src='http://music.example/report%3Fjs'")
        self.assert_requested("report?js", index, 10)
        self.assertEqual(driver.state(), (False, STILL_URL))

    DIALOGS_URL = "http://music.example/dialogs.html"
    DIALOGS_PAGE = b"""<!DOCTYPE html><html><body><script>
function report(what) { new Image().src = "http://music.example/report?" + what; }
report("start");
alert("alert"); report("alert-returned");
report("confirm=" + confirm("confirm?"));
report("prompt=" + prompt("prompt?", "default"));
report("open=" + window.open("http://music.example/popup.html"));
print(); report("print-returned");
Notification.requestPermission().then(function (p) { report("notification=" + p); });
</script></body></html>"""
    ANSWERED = ["start", "alert-returned", "confirm=false", "prompt=null", "open=null",
                "print-returned", "notification=denied"]

    def test_silent_answers_for_the_user_and_opens_nothing(self):
        d = self.desktop
        d.site.set_route(self.DIALOGS_URL, self.DIALOGS_PAGE)
        # (Silent at creation, Silent written afterwards or None, silent in the end)
        for created, written, silent in (("true", None, True), ("false", None, False),
                                         ("false", 1, True), ("true", 0, False)):
            with self.subTest(created=created, written=written):
                driver = self.start_driver(Silent=created)
                if written is not None:
                    driver.send("set %d %d" % (SILENT, written))
                before = {w.id for w in d.windows()}
                index = self.mark_requests()
                driver.send("url " + self.DIALOGS_URL)
                self.assert_requested("report?start", index)
                time.sleep(1.5)
                reports = [u.split("?", 1)[1] for u in self.requests_since(index) if "report?" in u]
                if silent:
                    self.assertEqual(sorted(reports), sorted(self.ANSWERED))
                else:
                    # The engine's own alert waits for the user.
                    self.assertEqual(reports, ["start"])
                self.assertNotIn("http://music.example/popup.html", self.requests_since(index))
                self.assertEqual(self.new_windows(before), [])
                driver.close()

    def test_silent_cancels_a_login(self):
        url = "http://music.example/private.html"
        self.desktop.site.set_route(url, b"<html><body>refused</body></html>", status=401,
                                    headers={"WWW-Authenticate": 'Basic realm="music"'})
        for silent in ("true", "false"):
            with self.subTest(silent=silent):
                driver = self.start_driver(Silent=silent)
                index = self.mark_requests()
                driver.send("url " + url)
                self.assert_requested(url, index)
                if silent == "true":
                    # Cancelled: the load ends, no page is committed.
                    self.assertTrue(wait_until(lambda: driver.state() == (False, ""), 10), driver.state())
                else:
                    # The engine's own login form waits for the user.
                    time.sleep(2)
                    self.assertEqual(driver.state(), (True, url))
                self.assertEqual(self.requests_since(index), [url])
                driver.close()

    def test_font_size_zooms_the_text_only(self):
        url = "http://music.example/measure.html"
        self.desktop.site.set_route(url, b"""<html><body>
<span id="t" style="font-size:40px">Mg</span><div id="b" style="width:100px;height:50px"></div>
<script>var t = document.getElementById("t").getBoundingClientRect();
var b = document.getElementById("b").getBoundingClientRect();
new Image().src = "http://music.example/report?text=" + t.height + "&box=" + b.width + "x" + b.height;
</script></body></html>""")

        def measured(index):
            found = self.desktop.site.wait_for_request("report?", after_index=index, timeout=10)
            self.assertIsNotNone(found)
            query = dict(p.split("=") for p in found[1].url.split("?", 1)[1].split("&"))
            self.assertEqual(query["box"], "100x50")
            return float(query["text"])

        at_creation = []
        for size in range(5):
            index = self.mark_requests()
            driver = self.start_driver(FontSize=size, url=url)
            at_creation.append(measured(index))
            driver.close()
        self.assertEqual(at_creation, sorted(set(at_creation)), "each size is larger than the one before")
        # Written later, out-of-range values clamped.
        driver = self.start_driver()
        for written, as_size in ((4, 4), (-3, 0), (9, 4), (1, 1)):
            with self.subTest(written=written):
                driver.send("set %d %d" % (FONT_SIZE, written))
                index = self.mark_requests()
                driver.send("url " + url)
                self.assertEqual(measured(index), at_creation[as_size])

    def test_offline_sends_no_request(self):
        d = self.desktop
        index = self.mark_requests()
        start = d.mark()
        driver = self.start_driver(Offline="true", url=RANDOM_PLAY_URL)
        time.sleep(2)
        self.assertEqual(self.requests_since(index), [])
        self.assert_silent(start, d.mark(), "offline")
        # Online again, then offline again, by writing the setting; the
        # engine takes a change asynchronously, so the load waits a moment.
        for offline, loads in ((0, True), (1, False)):
            with self.subTest(offline=offline):
                switched = d.mark()
                driver.send("set %d %d" % (OFFLINE, offline))
                time.sleep(0.5)
                index = self.mark_requests()
                written = d.mark()
                driver.send("url " + RANDOM_PLAY_URL)
                if loads:
                    self.assert_requested(RANDOM_PLAY_URL, index)
                    self.assert_tone_from(written)
                else:
                    time.sleep(2)
                    seen = [(round(r.time - switched, 3), r.url) for r in d.site.requests()[index:]]
                    self.assertEqual(seen, [], "requests (seconds after the switch)")
                    self.assert_silent(written + 1, d.mark(), "offline again")

    def test_offline_shows_what_the_cache_holds(self):
        # The loopback site forbids caching; this one allows it for an hour.
        served = []

        class Cacheable(http.server.BaseHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def do_GET(self):
                served.append(self.path)
                body = b"<html><head><title>Cached</title></head><body>cached</body></html>"
                self.send_response(200)
                self.send_header("Content-Type", "text/html")
                self.send_header("Content-Length", str(len(body)))
                self.send_header("Cache-Control", "max-age=3600")
                self.end_headers()
                self.wfile.write(body)

        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Cacheable)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        self.addCleanup(server.server_close)
        self.addCleanup(server.shutdown)
        page, other = "http://cache.example/page.html", "http://cache.example/other.html"
        env = {"http_proxy": "http://127.0.0.1:%d" % server.server_address[1],
               "XDG_CACHE_HOME": self.desktop.new_cache_dir()}
        online = self.start_driver(env=env, url=page)
        self.assertTrue(wait_until(lambda: online.title() == "Cached", 10))
        time.sleep(1)  # the engine writes its disk cache in the background
        online.close()
        self.assertEqual(served, [page])
        # A new player, offline from the start, on the same cache.
        driver = self.start_driver(env=env, Offline="true", url=page)
        self.assertTrue(wait_until(lambda: driver.state() == (False, page), 10))
        self.assertEqual(driver.title(), "Cached")
        # A reload asks the network, and so does an address never cached.
        for command in ("cmd %d" % REFRESH, "url " + other):
            with self.subTest(command=command):
                driver.send(command)
                time.sleep(1)
                self.assertTrue(wait_until(lambda: not driver.state()[0], 10))
                self.assertNotEqual(driver.title(), "Cached")
        self.assertEqual(served, [page])

    def test_commands_without_a_document_do_nothing(self):
        d = self.desktop
        for silent in ("true", "false"):
            with self.subTest(silent=silent):
                driver = self.start_driver(Silent=silent)
                before = {w.id for w in d.windows()}
                index = self.mark_requests()
                for code in list(range(10)) + [-1, 10, 2 ** 31 - 1, -2 ** 31]:
                    if code == GO_HOME:
                        continue  # loads about:blank, documented as the home page
                    driver.send("cmd %d" % code)
                time.sleep(1)
                self.assertEqual(self.requests_since(index), [])
                self.assertEqual(self.new_windows(before), [])
                self.assertEqual(driver.state(), (False, ""))
                driver.close()

    def test_navigation_commands(self):
        d = self.desktop
        started = d.mark()
        driver = self.start_driver(Silent="true", url=RANDOM_PLAY_URL)
        self.assert_tone_from(started)
        # (command, the page is requested: True, False or None for either,
        #  address shown afterwards, the tone plays). Going back may restore
        # the page from the engine's back/forward cache, music and all.
        steps = ((REFRESH, True, RANDOM_PLAY_URL, True),
                 (GO_SEARCH, False, RANDOM_PLAY_URL, True),
                 (GO_HOME, False, "about:blank", False),
                 (GO_BACK, None, RANDOM_PLAY_URL, True),
                 (GO_FORWARD, False, "about:blank", False),
                 (GO_FORWARD, False, "about:blank", False),   # nothing ahead
                 (GO_BACK, None, RANDOM_PLAY_URL, True))
        for code, requested, shown, plays in steps:
            with self.subTest(code=code, shown=shown):
                index = self.mark_requests()
                sent = d.mark()
                driver.send("cmd %d" % code)
                why = "after command %d" % code
                settled_from = self.audio_requested(RANDOM_PLAY_URL, index, why) if requested else sent
                self.assertTrue(wait_until(lambda: driver.state() == (False, shown), 10), driver.state())
                self.assert_settles(settled_from, plays, why)
                if requested is False:
                    self.assertNotIn(RANDOM_PLAY_URL, self.requests_since(index))

    def test_stop_ends_a_load(self):
        slow = "http://music.example/slow.html"
        self.desktop.site.set_route(slow, lambda request: time.sleep(4) or STILL_PAGE)
        driver = self.start_driver(Silent="true")
        index = self.mark_requests()
        driver.send("url " + slow)
        self.assert_requested(slow, index)
        self.assertEqual(driver.state(), (True, slow))
        driver.send("cmd %d" % STOP)
        self.assertTrue(wait_until(lambda: not driver.state()[0], 2), "still loading after stop")

    def test_document_commands_open_their_dialog_unless_silent(self):
        d = self.desktop
        d.site.set_route(STILL_URL, STILL_PAGE)
        for silent in ("false", "true"):
            driver = self.start_driver(Silent=silent, url=STILL_URL)
            self.assertTrue(wait_until(lambda: driver.state() == (False, STILL_URL), 10))
            for code, title in ((SAVE_AS, "Save As"), (PRINT, "Print"),
                                (PRINT_PREVIEW, "Print"), (PAGE_SETUP, "Page Setup")):
                with self.subTest(silent=silent, code=code):
                    before = {w.id for w in d.windows()}
                    driver.post("cmd %d" % code)
                    if silent == "true":
                        driver.answer()
                        time.sleep(0.5)
                        self.assertEqual(self.new_windows(before), [])
                        continue
                    dialog = wait_until(lambda: self.new_windows(before), 10)
                    self.assertTrue(dialog, "no dialog")
                    self.assertEqual(dialog[0].title, title)
                    d.xdotool("windowactivate", "--sync", dialog[0].id)
                    d.key("Escape")
                    driver.answer()
                    self.assertTrue(d.wait_for_no_window(title=title, timeout=5))
            driver.close()

    def test_save_as_writes_the_page(self):
        d = self.desktop
        d.site.set_route(STILL_URL, STILL_PAGE)
        driver = self.start_driver(Silent="false", url=STILL_URL)
        self.assertTrue(wait_until(lambda: driver.state() == (False, STILL_URL), 10))
        before = {w.id for w in d.windows()}
        driver.post("cmd %d" % SAVE_AS)
        dialog = wait_until(lambda: self.new_windows(before), 10)
        self.assertTrue(dialog)
        target = os.path.join(d.dir, "saved-%d.mht" % time.monotonic_ns())
        d.xdotool("windowactivate", "--sync", dialog[0].id)
        d.key("ctrl+a")
        d.xdotool("type", target)
        d.key("Return")
        driver.answer()
        self.assertTrue(wait_until(lambda: os.path.exists(target) and os.path.getsize(target) > 0, 10))
        with open(target, "rb") as f:
            saved = f.read()
        self.assertIn(b"Subject: Still", saved)
        self.assertIn(b"still", saved)

    def test_restarts_after_crashes_are_bounded(self):
        d = self.desktop
        index = self.mark_requests()
        driver = self.start_driver(Silent="true", url=RANDOM_PLAY_URL)
        self.assert_requested(RANDOM_PLAY_URL, index)
        reloaded = []
        for _ in range(4):
            web = wait_until(lambda: engine_pids(driver.proc.pid), 10)
            self.assertTrue(web)
            index = self.mark_requests()
            for pid in web:
                os.kill(pid, signal.SIGKILL)
            reloaded.append(d.site.wait_for_request(RANDOM_PLAY_URL, after_index=index, timeout=8)
                            is not None)
        self.assertEqual(reloaded, [True, True, True, False])
        log = driver.stderr()
        self.assertEqual(log.count("reloading the page"), 3)
        self.assertEqual(log.count("the page stays unloaded"), 1)
        # The next address written loads again, and plays.
        index = self.mark_requests()
        written = d.mark()
        driver.send("url " + RANDOM_PLAY_URL)
        self.assert_requested(RANDOM_PLAY_URL, index)
        self.assert_tone_from(written)


if __name__ == "__main__":
    unittest.main(verbosity=2)
