"""A private headless desktop for end-to-end tests of Zorva.

    import sys; sys.path.insert(0, "tests/harness")
    from desktop import Desktop, TONE_HZ, RANDOM_PLAY_URL

    with Desktop() as d:
        t0 = d.mark()
        p = d.start(["build/zorva"])
        w = d.wait_for_window(title="ZORVA听歌软件")   # WindowInfo or raises
        assert w.geometry == (440, 362, 400, 300)
        d.site.wait_for_request("playrandom.html", timeout=10)
        n = len(d.site.requests())
        d.key("F9")
        d.site.wait_for_request("playrandom.html", after_index=n)
        rec = d.recording(since=t0)            # times relative to t0
        assert rec.tone_present(TONE_HZ, 1.0, 2.0)
        print(rec.chime_onsets())              # [Onset(time, strength)]
        d.key("Escape")
        assert p.wait(5) == 0

Each Desktop runs in a fresh temporary directory and starts: Xvfb on a
free display (1280x1024x24, chosen with -displayfd), a private dbus-daemon
(no activatable services), PulseAudio with a float null sink as default
(own HOME and XDG_RUNTIME_DIR), the loopback site (site.py) that serves as
http_proxy, openbox, and a parec recorder of the sink's monitor, waited on
until data flows (about 2 s in all). __exit__ stops everything by pid
(SIGTERM, then SIGKILL), also on exceptions, along with every process that
carries this desktop's marker (ZORVA_TEST_DESKTOP=dir) in its environment,
such as engine children left behind by a program under test. On an
exception the tails of all logs go to stderr; ZORVA_KEEP_DESKTOP=1 keeps
the directory.

Programs started inside see: DISPLAY, DBUS_SESSION_BUS_ADDRESS, NO_AT_BRIDGE=1,
PULSE_SERVER, XDG_RUNTIME_DIR, a fresh XDG_CACHE_HOME (a copy of
`cache_seed` if given), XDG_CONFIG_HOME/XDG_DATA_HOME, HOME, GDK_BACKEND=x11,
GSETTINGS_BACKEND=memory, http_proxy=http://127.0.0.1:PORT; no
XDG_CURRENT_DESKTOP, WAYLAND_DISPLAY, other proxies or no_proxy.
start(cmd, env={"DISPLAY": None}) runs a program without a display.

API (times are time.monotonic() values unless said otherwise):
  Desktop(window_manager=True, record=True, cache_seed=None, screen=...)
  .display, .env, .dir, .site (site.Site), .proxy_url, .sink
  .start(cmd, env=None, name=None, cwd=None, stdout=None, stderr=None) -> Popen
        (.log_out / .log_err paths unless stdout/stderr given)
  .stop(proc, timeout=5) -> exit code; also stops its leftover children
  .output(proc) -> (stdout text, stderr text)
  .run(cmd, timeout=10) -> CompletedProcess (text, captured) in the env
  .new_cache_dir(seed=None) -> a fresh XDG_CACHE_HOME for one program
  .all_pids() -> every pid started here (for leftover checks)
  Windows: .client_list() -> [id]   (root _NET_CLIENT_LIST)
        .windows() -> [WindowInfo(id, title, pid, geometry, viewable)]
        .find_window(title=None, pid=None) -> WindowInfo | None
        .wait_for_window(title=None, pid=None, timeout=10, viewable=True, stable=0)
        .wait_for_no_window(title=None, pid=None, timeout=10, stable=0) -> bool
        .window_geometry(title or id) -> Geometry(x, y, width, height) | None
        .wait_for_geometry(title or id, (x, y, w, h), timeout=5) -> last seen
        .is_viewable(title or id) -> bool
        .screenshot(path=None, region=None) -> PIL image (PNG saved to path)
        .cursor_name() -> "left_ptr", "pointer", ... (XFixes)
        .pointer() -> (x, y)
  Input (xdotool, XTEST): .key(*names), .key_down(name), .key_up(name),
        .move(x, y), .click(x, y, button=1), .drag(x0, y0, x1, y1, steps=10)
  Sound: .mark() -> now;  .recording(since=None, until=None) -> Recording
        .wait_for_sound(after, timeout=5) -> seconds after `after` | None
        .wait_for_tone(hz, after, timeout=5) -> seconds after `after` | None
        .play(path) -> Popen of paplay
  Recording (audio.py; mono float32 at 48 kHz, times in s from its origin):
        .samples, .rate, .start/.end/.duration,
        .part(t0, t1), .peak, .rms, .has_sound(t0, t1), .first_sound(after),
        .sound_intervals(), .tone_level(hz, t0, t1), .tone_present(hz, t0, t1),
        .tone_track(hz), .tone_intervals(hz),
        .chime_onsets(template=None) (default assets/chime.wav; overlapping
        copies are told apart; strength 1.0 = a copy at the file's level),
        .energy_onsets(), .save_wav(path)
  Module: tone_level(samples, hz, rate), chime_onsets(samples, template, rate),
        decode(path, rate), load_template(path), wait_until(pred, timeout)
  Site (site.py): .requests() -> [Request(time, method, url, headers)],
        .wait_for_request(url_substring, after_index=0, timeout=10)
        -> (index, Request) | None, .set_route(url, body, content_type, status)

Use one Desktop from one thread. Run with /usr/bin/python3 (numpy, PIL).
"""

import importlib.util
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
if HERE not in sys.path:
    sys.path.insert(0, HERE)

import audio  # noqa: E402
import x11  # noqa: E402
from audio import (RATE, Onset, Recording, chime_onsets, decode,  # noqa: E402
                   load_template, tone_level, energy_onsets)
from x11 import Geometry, WindowInfo  # noqa: E402


def _load_site():
    # site.py shares its name with Python's own module: load it by path.
    module_spec = importlib.util.spec_from_file_location("zorva_test_site",
                                                  os.path.join(HERE, "site.py"))
    mod = importlib.util.module_from_spec(module_spec)
    sys.modules["zorva_test_site"] = mod
    module_spec.loader.exec_module(mod)
    return mod


site = _load_site()
Site = site.Site
RANDOM_PLAY_URL = site.RANDOM_PLAY_URL
HOME_URL = site.HOME_URL
TONE_URL = site.TONE_URL
TONE_HZ = site.TONE_HZ
TONE_AMPLITUDE = site.TONE_AMPLITUDE

__all__ = [
    "Desktop", "DesktopError", "Site", "Recording", "Onset", "Geometry", "WindowInfo",
    "RATE", "RANDOM_PLAY_URL", "HOME_URL", "TONE_URL", "TONE_HZ", "TONE_AMPLITUDE",
    "tone_level", "chime_onsets", "energy_onsets", "decode", "load_template",
    "wait_until", "alive", "descendants", "marked_pids", "terminate", "describe",
]

MARKER = "ZORVA_TEST_DESKTOP"
SINK = "zorva_null"

_DROPPED_ENV = (
    "DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY", "XDG_CURRENT_DESKTOP",
    "XDG_SESSION_TYPE", "XDG_SESSION_DESKTOP", "DESKTOP_SESSION",
    "SESSION_MANAGER", "DBUS_SESSION_BUS_ADDRESS", "PULSE_SERVER", "PULSE_SINK",
    "PULSE_SOURCE", "PULSE_COOKIE", "http_proxy", "HTTP_PROXY", "https_proxy",
    "HTTPS_PROXY", "ftp_proxy", "FTP_PROXY", "all_proxy", "ALL_PROXY",
    "no_proxy", "NO_PROXY", "GTK_MODULES", "GDK_SCALE", "GDK_DPI_SCALE",
    "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME",
    "XDG_RUNTIME_DIR", "HOME",
)

_DBUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path={socket}</listen>
  <auth>EXTERNAL</auth>
  <servicedir>{services}</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""

_PULSE_SCRIPT = """load-module module-null-sink sink_name={sink} rate=48000 channels=2 format=float32le sink_properties=device.description=ZorvaTestSink
set-default-sink {sink}
load-module module-native-protocol-unix auth-anonymous=1 socket={socket}
"""


def wait_until(predicate, timeout=10.0, interval=0.01):
    """Polls predicate() until it returns something truthy; returns that, or
    None after `timeout` seconds."""
    deadline = time.monotonic() + timeout
    while True:
        v = predicate()
        if v:
            return v
        if time.monotonic() >= deadline:
            return None
        time.sleep(interval)


# --- processes -----------------------------------------------------------------

def proc_state(pid):
    """Single-letter state from /proc/PID/stat, or None when gone."""
    try:
        with open("/proc/%d/stat" % pid, "rb") as f:
            data = f.read()
    except OSError:
        return None
    return data[data.rindex(b")") + 2:][:1].decode()


def alive(pid):
    s = proc_state(pid)
    return s is not None and s != "Z"


def _reap(pid):
    try:
        os.waitpid(pid, os.WNOHANG)
    except ChildProcessError:
        pass
    except OSError:
        pass


def _all_pids():
    return [int(n) for n in os.listdir("/proc") if n.isdigit()]


def _parent_map():
    kids = {}
    for pid in _all_pids():
        try:
            with open("/proc/%d/stat" % pid, "rb") as f:
                data = f.read()
        except OSError:
            continue
        ppid = int(data[data.rindex(b")") + 2:].split()[1])
        kids.setdefault(ppid, []).append(pid)
    return kids


def descendants(pid):
    """Live descendants of `pid` (by /proc parent links)."""
    kids = _parent_map()
    out, todo = [], [pid]
    while todo:
        for k in kids.get(todo.pop(), []):
            out.append(k)
            todo.append(k)
    return [p for p in out if alive(p)]


def describe(pid):
    """"PID (PPID) command line" of a process, for messages."""
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            cmd = f.read().replace(b"\0", b" ").decode("utf-8", "replace").strip()
        with open("/proc/%d/stat" % pid, "rb") as f:
            data = f.read()
        ppid = int(data[data.rindex(b")") + 2:].split()[1])
    except (OSError, ValueError):
        return "%d (gone)" % pid
    return "%d (%d) %s" % (pid, ppid, cmd)


def marked_pids(tag):
    """Live processes whose environment carries MARKER=tag."""
    needle = ("%s=%s" % (MARKER, tag)).encode()
    me = os.getpid()
    found = []
    for pid in _all_pids():
        if pid == me:
            continue
        try:
            with open("/proc/%d/environ" % pid, "rb") as f:
                env = f.read()
        except OSError:
            continue
        if needle in env.split(b"\0") and alive(pid):
            found.append(pid)
    return found


def terminate(pids, timeout=5.0, popens=()):
    """SIGTERM each pid, wait up to `timeout` for all to end, then SIGKILL
    the rest. Reaps those that are our children."""
    pids = [p for p in dict.fromkeys(pids) if alive(p)]
    by_pid = {p.pid: p for p in popens}
    for pid in pids:
        try:
            os.kill(pid, signal.SIGTERM)
        except ProcessLookupError:
            pass

    def poll():
        for pid in pids:
            if pid in by_pid:
                by_pid[pid].poll()
            else:
                _reap(pid)
        return not any(alive(p) for p in pids)

    if not wait_until(poll, timeout, 0.01):
        for pid in pids:
            if alive(pid):
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
        wait_until(poll, 2.0, 0.01)
    poll()  # reap those that ended between the last poll and the check


class DesktopError(RuntimeError):
    pass


class Desktop:
    """See the module docstring."""

    def __init__(self, window_manager=True, record=True, cache_seed=None,
                 screen="1280x1024x24", start_timeout=60.0):
        self.window_manager = window_manager
        self.record = record
        self.cache_seed = cache_seed
        self.screen = screen
        self.start_timeout = start_timeout
        self.dir = None
        self.display = None
        self.env = None
        self.site = None
        self.sink = SINK
        self.recorder = None
        self.x = None
        self._services = []   # (name, Popen), in start order
        self._programs = []   # Popen objects from start()
        self._logs = []
        self._all_pids = set()
        self._caches = 0

    # --- setup -------------------------------------------------------------
    def __enter__(self):
        try:
            self._setup()
        except BaseException:
            self._teardown(failed=True)
            raise
        return self

    def __exit__(self, exc_type, exc, tb):
        self._teardown(failed=exc_type is not None)
        return False

    def _path(self, *parts):
        return os.path.join(self.dir, *parts)

    def _log(self, name):
        path = self._path("logs", name)
        self._logs.append(path)
        return open(path, "ab")

    def _service(self, name, cmd, env, **kw):
        log = self._log(name + ".log")
        kw.setdefault("stdout", log)
        p = subprocess.Popen(cmd, env=env, stdin=subprocess.DEVNULL,
                             stderr=log, **kw)
        log.close()
        self._services.append((name, p))
        self._all_pids.add(p.pid)
        return p

    def _setup(self):
        self.dir = tempfile.mkdtemp(prefix="zorva-desktop-")
        for d in ("logs", "home", "runtime", "config", "data", "state",
                  "dbus-services", "pulse/home", "pulse/runtime", "caches"):
            os.makedirs(self._path(d), exist_ok=True)
        os.chmod(self._path("runtime"), 0o700)
        os.chmod(self._path("pulse/runtime"), 0o700)
        deadline = time.monotonic() + self.start_timeout

        base = {k: v for k, v in os.environ.items() if k not in _DROPPED_ENV}
        base[MARKER] = self.dir
        base.setdefault("LANG", "C.UTF-8")

        # X server: -displayfd picks a free display and reports it when ready.
        rfd, wfd = os.pipe()
        xvfb = self._service("xvfb", ["Xvfb", "-displayfd", str(wfd), "-screen", "0",
                                      self.screen, "-nolisten", "tcp", "-noreset"],
                             dict(base), pass_fds=(wfd,))
        os.close(wfd)

        # Session bus with no activatable services.
        bus_socket = self._path("runtime", "bus")
        conf = self._path("dbus.conf")
        with open(conf, "w") as f:
            f.write(_DBUS_CONFIG.format(socket=bus_socket,
                                        services=self._path("dbus-services")))
        brfd, bwfd = os.pipe()
        self._service("dbus", ["dbus-daemon", "--nofork", "--config-file=" + conf,
                               "--print-address=%d" % bwfd],
                      dict(base, HOME=self._path("home")), pass_fds=(bwfd,))
        os.close(bwfd)

        # Sound server with a float null sink (mixes without clipping).
        pulse_socket = self._path("pulse", "runtime", "native")
        script = self._path("pulse", "zorva.pa")
        with open(script, "w") as f:
            f.write(_PULSE_SCRIPT.format(sink=SINK, socket=pulse_socket))
        pulse_env = dict(base, HOME=self._path("pulse", "home"),
                         XDG_RUNTIME_DIR=self._path("pulse", "runtime"),
                         XDG_CONFIG_HOME=self._path("pulse", "home", ".config"),
                         DBUS_SESSION_BUS_ADDRESS="unix:path=" + bus_socket)
        self._service("pulseaudio", [
            "pulseaudio", "-n", "-F", script, "--daemonize=no", "--exit-idle-time=-1",
            "--use-pid-file=no", "--realtime=no", "--high-priority=no",
            "--log-target=stderr"], pulse_env)

        self.display = ":" + self._read_line(rfd, xvfb, deadline, "Xvfb display number")
        self.bus_address = self._read_line(brfd, self._services[1][1], deadline,
                                           "dbus-daemon address")
        self.pulse_server = "unix:" + pulse_socket

        self.site = Site().start()
        self.proxy_url = self.site.proxy_url

        env = dict(base)
        env.update({
            "DISPLAY": self.display,
            "DBUS_SESSION_BUS_ADDRESS": self.bus_address,
            "NO_AT_BRIDGE": "1",
            "PULSE_SERVER": self.pulse_server,
            "XDG_RUNTIME_DIR": self._path("runtime"),
            "XDG_CACHE_HOME": self._path("caches", "default"),
            "XDG_CONFIG_HOME": self._path("config"),
            "XDG_DATA_HOME": self._path("data"),
            "XDG_STATE_HOME": self._path("state"),
            "HOME": self._path("home"),
            "GDK_BACKEND": "x11",
            "GSETTINGS_BACKEND": "memory",
            "http_proxy": self.proxy_url,
        })
        self.env = env
        self._seed(env["XDG_CACHE_HOME"], self.cache_seed)

        self.x = x11.Connection(self.display)

        if self.window_manager:
            self._service("openbox", ["openbox", "--sm-disable"], dict(env))

        if not wait_until(self._pulse_ready, deadline - time.monotonic(), 0.02):
            raise DesktopError("PulseAudio did not come up; see %s" % self._path("logs"))
        if self.record:
            log = self._log("parec.log")
            self.recorder = audio.Recorder(SINK + ".monitor", dict(env), log)
            log.close()
            self._services.append(("parec", self.recorder.proc))
            self._all_pids.add(self.recorder.proc.pid)
            if not self.recorder.wait_flowing(deadline - time.monotonic()):
                raise DesktopError("the recorder delivered no data")
        if self.window_manager:
            if not wait_until(lambda: self.x.get_property(self.x.root,
                                                          "_NET_SUPPORTING_WM_CHECK"),
                              deadline - time.monotonic(), 0.01):
                raise DesktopError("openbox did not start")

    def _read_line(self, fd, proc, deadline, what):
        data = b""
        try:
            while not data.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or proc.poll() is not None:
                    raise DesktopError("no %s (see %s)" % (what, self._path("logs")))
                import select
                r, _, _ = select.select([fd], [], [], min(left, 0.1))
                if r:
                    chunk = os.read(fd, 256)
                    if not chunk:
                        raise DesktopError("no %s" % what)
                    data += chunk
        finally:
            os.close(fd)
        return data.decode().strip()

    def _pulse_ready(self):
        r = subprocess.run(["pactl", "--server=" + self.pulse_server, "info"],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           env=dict(self.env))
        return r.returncode == 0

    @staticmethod
    def _seed(path, seed):
        if seed and os.path.isdir(seed):
            shutil.copytree(seed, path, symlinks=True, dirs_exist_ok=True)
        else:
            os.makedirs(path, exist_ok=True)

    def new_cache_dir(self, seed=None):
        """A fresh directory for XDG_CACHE_HOME (a copy of `seed`, or of the
        desktop's cache_seed when seed is None)."""
        self._caches += 1
        path = self._path("caches", "c%d" % self._caches)
        self._seed(path, seed if seed is not None else self.cache_seed)
        return path

    # --- teardown ----------------------------------------------------------
    def _teardown(self, failed):
        if failed and self.dir:
            self._dump_logs()
        progs = [p for p in self._programs]
        if progs:
            self._stop_group(progs, timeout=5.0)
        if self.site is not None:
            self.site.stop()
        if self.x is not None:
            self.x.close()
            self.x = None
        # Services in reverse start order; the X server last.
        for name, p in reversed(self._services):
            terminate([p.pid], 5.0, popens=[p])
        if self.recorder is not None:
            self.recorder.close()
        if self.dir:
            left = marked_pids(self.dir)
            if left:
                terminate(left, 2.0)
            for pid in self._all_pids:
                _reap(pid)
            if os.environ.get("ZORVA_KEEP_DESKTOP") == "1":
                sys.stderr.write("desktop kept in %s\n" % self.dir)
            else:
                shutil.rmtree(self.dir, ignore_errors=True)

    def _stop_group(self, popens, timeout):
        kids = set()
        for p in popens:
            if p.poll() is None:
                kids.update(descendants(p.pid))
        terminate([p.pid for p in popens], timeout, popens=popens)
        # What the programs leave behind: their children, and any process of
        # this desktop that is neither a service nor part of a program that
        # still runs (an orphan reparented away from its program).
        keep = {p.pid for _, p in self._services}
        for q in self._programs:
            if q not in popens and q.poll() is None:
                keep.add(q.pid)
                keep.update(descendants(q.pid))
        rest = {k for k in kids if alive(k)} | (set(marked_pids(self.dir)) - keep)
        if rest:
            # Engine children end by themselves about a second after their parent.
            def ended():
                for k in rest:
                    _reap(k)
                return not any(alive(k) for k in rest)
            if not wait_until(ended, 3.0, 0.02):
                terminate(rest, 2.0)
        self._all_pids.update(kids | rest)

    def _dump_logs(self, lines=30):
        for path in self._logs:
            try:
                with open(path, "rb") as f:
                    tail = f.read().decode("utf-8", "replace").splitlines()[-lines:]
            except OSError:
                continue
            if tail:
                sys.stderr.write("---- %s (last %d lines)\n" % (os.path.basename(path), len(tail)))
                sys.stderr.write("\n".join(tail) + "\n")

    def all_pids(self):
        """Every pid this desktop started or saw as a child of a program."""
        return set(self._all_pids) | {p.pid for p in self._programs}

    # --- programs ------------------------------------------------------------
    def start(self, cmd, env=None, name=None, cwd=None, stdout=None, stderr=None):
        """Starts `cmd` inside the desktop. env: overrides (None deletes a
        variable). Output goes to log files (proc.log_out / proc.log_err,
        read with output()) unless stdout/stderr are given."""
        e = dict(self.env)
        for k, v in (env or {}).items():
            if v is None:
                e.pop(k, None)
            else:
                e[k] = v
        e[MARKER] = self.dir
        name = name or os.path.basename(cmd[0])
        n = len(self._programs)
        out_path = self._path("logs", "%s-%d.out" % (name, n))
        err_path = self._path("logs", "%s-%d.err" % (name, n))
        out = open(out_path, "wb") if stdout is None else stdout
        err = open(err_path, "wb") if stderr is None else stderr
        try:
            p = subprocess.Popen(cmd, env=e, cwd=cwd, stdin=subprocess.DEVNULL,
                                 stdout=out, stderr=err)
        finally:
            if stdout is None:
                out.close()
            if stderr is None:
                err.close()
        p.log_out = out_path if stdout is None else None
        p.log_err = err_path if stderr is None else None
        for path in (p.log_out, p.log_err):
            if path:
                self._logs.append(path)
        self._programs.append(p)
        self._all_pids.add(p.pid)
        return p

    def stop(self, proc, timeout=5.0):
        """Ends `proc` (SIGTERM, SIGKILL after `timeout`) and the children it
        leaves behind; returns its exit code."""
        self._stop_group([proc], timeout)
        return proc.returncode

    def output(self, proc):
        """(stdout, stderr) written so far by a program from start()."""
        def read(path):
            if not path:
                return ""
            with open(path, "rb") as f:
                return f.read().decode("utf-8", "replace")
        return read(proc.log_out), read(proc.log_err)

    def run(self, cmd, timeout=10.0, check=False):
        """Runs a short command in the desktop's environment, output captured."""
        return subprocess.run(cmd, env=dict(self.env), stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              text=True, timeout=timeout, check=check)

    # --- windows -------------------------------------------------------------
    def client_list(self):
        return self.x.client_list()

    def windows(self):
        return self.x.windows()

    def find_window(self, title=None, pid=None):
        for w in self.x.windows():
            if (title is None or w.title == title) and (pid is None or w.pid == pid):
                return w
        return None

    def wait_for_window(self, title=None, pid=None, timeout=10.0, viewable=True,
                        stable=0.0):
        """The first window matching title/pid (viewable unless told), once it
        has stayed so for `stable` seconds; raises DesktopError on timeout.
        (While openbox takes a new window on, it may list it unviewable or
        drop it from its list for a few ms.)"""
        def check():
            w = self.find_window(title, pid)
            if w is not None and (w.viewable or not viewable):
                return w
            return None
        w = self._wait_stable(check, timeout, stable)
        if w is None:
            raise DesktopError("no window title=%r pid=%r within %.1f s; windows: %r"
                               % (title, pid, timeout, self.windows()))
        return w

    def wait_for_no_window(self, title=None, pid=None, timeout=10.0, stable=0.0):
        """True once no viewable window has matched title/pid for `stable` s."""
        def gone():
            w = self.find_window(title, pid)
            return w is None or not w.viewable
        return bool(self._wait_stable(gone, timeout, stable))

    @staticmethod
    def _wait_stable(check, timeout, stable):
        deadline = time.monotonic() + timeout
        since = None
        while True:
            v = check()
            now = time.monotonic()
            if v:
                since = now if since is None else since
                if now - since >= stable:
                    return v
            else:
                since = None
            if now >= deadline:
                return None
            time.sleep(0.01)

    def _window_id(self, title_or_id):
        if isinstance(title_or_id, int):
            return title_or_id
        w = self.find_window(title=title_or_id)
        return w.id if w else None

    def window_geometry(self, title_or_id):
        wid = self._window_id(title_or_id)
        return self.x.geometry(wid) if wid else None

    def wait_for_geometry(self, title_or_id, geometry, timeout=5.0):
        """Waits until the window's geometry equals `geometry` (x, y, w, h);
        a window manager may still move a window just after mapping it.
        Returns the last geometry seen."""
        want = tuple(geometry)
        got = wait_until(lambda: self.window_geometry(title_or_id) == want, timeout, 0.01)
        return want if got else self.window_geometry(title_or_id)

    def is_viewable(self, title_or_id):
        wid = self._window_id(title_or_id)
        return bool(wid) and self.x.viewable(wid)

    def screenshot(self, path=None, region=None):
        """The screen (or region=(x, y, w, h)) as a PIL RGB image; saved as
        PNG when `path` is given."""
        if region:
            img = self.x.capture(*region)
        else:
            img = self.x.capture()
        if path:
            img.save(path)
        return img

    def cursor_name(self):
        return self.x.cursor_name()

    def pointer(self):
        return self.x.pointer()

    # --- input -----------------------------------------------------------------
    def xdotool(self, *args):
        r = self.run(["xdotool"] + [str(a) for a in args])
        if r.returncode != 0:
            raise DesktopError("xdotool %s: %s" % (" ".join(map(str, args)), r.stderr))
        return r.stdout

    def key(self, *names):
        """Presses and releases each key in turn (X keysym names: F9, Escape)."""
        self.xdotool("key", *names)

    def key_down(self, name):
        self.xdotool("keydown", name)

    def key_up(self, name):
        self.xdotool("keyup", name)

    def move(self, x, y):
        self.xdotool("mousemove", x, y)

    def click(self, x, y, button=1):
        self.xdotool("mousemove", x, y, "sleep", "0.05", "click", button)

    def drag(self, x0, y0, x1, y1, steps=10, button=1, step_delay=0.02):
        """Button down at (x0, y0), moves in `steps` to (x1, y1), button up."""
        args = ["mousemove", x0, y0, "sleep", "0.05", "mousedown", button]
        for i in range(1, steps + 1):
            args += ["sleep", step_delay, "mousemove",
                     round(x0 + (x1 - x0) * i / steps), round(y0 + (y1 - y0) * i / steps)]
        args += ["sleep", step_delay, "mouseup", button]
        self.xdotool(*args)

    # --- sound -----------------------------------------------------------------
    @staticmethod
    def mark():
        return time.monotonic()

    def recording(self, since=None, until=None):
        """What the sink played from `since` to `until` (None: recorder start /
        now), times relative to `since`."""
        if self.recorder is None:
            raise DesktopError("this Desktop records nothing (record=False)")
        return self.recorder.recording(since, until)

    def wait_for_sound(self, after, timeout=5.0, threshold=audio.SILENCE):
        """Seconds from `after` to the first sound after it, or None."""
        def check():
            t = self.recording(since=after).first_sound(0.0, threshold)
            return None if t is None else (t,)
        found = wait_until(check, timeout, 0.02)
        return found[0] if found else None

    def wait_for_tone(self, hz, after, timeout=5.0, min_level=0.05, frame=0.05):
        """Seconds from `after` to the first `frame` in which the tone plays, or None."""
        def check():
            rec = self.recording(since=after)
            for t0, _ in rec.tone_intervals(hz, min_level, frame):
                if t0 >= 0:
                    return (t0,)
            return None
        found = wait_until(check, timeout, 0.05)
        return found[0] if found else None

    def play(self, path):
        """Plays a sound file through the desktop's sink (paplay)."""
        return self.start(["paplay", path], name="paplay")
