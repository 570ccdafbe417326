"""Recording of the null sink's monitor, and sound analysis (numpy).

Samples are mono float32 in [-1, 1] at RATE (48 kHz); the null sink mixes in
float, so overlapping sounds add without clipping. An idle null sink yields
exact zeros, so "sound" means any sample above a small threshold.

Times: every recorded sample has a time.monotonic() stamp (see Recorder);
a Recording presents them in seconds relative to its origin (a marker).
"""

import os
import shutil
import subprocess
import threading
import time
from collections import namedtuple
from functools import lru_cache

import numpy as np

RATE = 48000
SILENCE = 1e-3  # -60 dBFS: above the null sink's digital silence
HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_CHIME = os.path.normpath(os.path.join(HERE, "..", "..", "assets", "chime.wav"))

Onset = namedtuple("Onset", "time strength")


# --- analysis --------------------------------------------------------------

def tone_level(samples, hz, rate=RATE):
    """Amplitude (0..1 of full scale) of a steady sine at `hz` in `samples`.

    A Hann-windowed single-bin DFT, scaled so a full-scale sine reads 1.0.
    Needs a few tens of milliseconds of signal to separate nearby tones.
    """
    x = np.asarray(samples, dtype=np.float64)
    if len(x) < 16:
        return 0.0
    w = np.hanning(len(x))
    n = np.arange(len(x))
    z = np.sum(x * w * np.exp(-2j * np.pi * hz * n / rate))
    return float(2 * abs(z) / np.sum(w))


def decode(path, rate=RATE):
    """Any file sox reads (MS ADPCM WAV included), as mono float32 at `rate`."""
    sox = shutil.which("sox") or "/usr/bin/sox"
    out = subprocess.run(
        [sox, "-V1", path, "-t", "raw", "-e", "floating-point", "-b", "32",
         "-L", "-c", "1", "-r", str(rate), "-"],
        check=True, stdout=subprocess.PIPE).stdout
    return np.frombuffer(out, dtype="<f4").astype(np.float32)


@lru_cache(maxsize=8)
def _decoded(path, rate, mtime):
    return decode(path, rate)


def load_template(path=DEFAULT_CHIME, rate=RATE):
    """The decoded clip used by chime_onsets (cached per file version)."""
    return _decoded(path, rate, os.stat(path).st_mtime_ns)


def _band_mask(nbins, nfft, rate, exclude_hz, width_hz):
    freqs = np.arange(nbins) * rate / nfft
    keep = np.ones(nbins, dtype=bool)
    for f in exclude_hz:
        keep &= np.abs(freqs - f) > width_hz
    return keep


def chime_onsets(samples, template, rate=RATE, exclude_hz=(660.0,),
                 exclude_width_hz=30.0, threshold=0.4, regularisation=1e-4,
                 min_separation=0.003, max_onsets=1000):
    """Start times (seconds from samples[0]) of each copy of `template`.

    Wiener deconvolution of the recording by the template turns every copy
    into a spike whose height is its gain (1.0 for a copy at the template's
    level). The spike's ringing is known (the template's own response), so
    copies are taken strongest first and each one's whole response is
    subtracted before the next: copies that overlap heavily (one every
    80 ms) are still told apart. Frequencies near `exclude_hz` (a background
    tone) are left out. Copies starting less than `min_separation` apart
    count as one; the strengths of close copies are solved jointly. A copy
    cut off by the end of the recording reads weaker.
    Returns a list of Onset(time, strength), sorted by time.
    """
    x = np.asarray(samples, dtype=np.float64)
    t = np.asarray(template, dtype=np.float64)
    if len(x) == 0 or len(t) == 0 or not np.any(t):
        return []
    nfft = 1 << int(np.ceil(np.log2(len(x) + len(t))))
    X = np.fft.rfft(x, nfft)
    T = np.fft.rfft(t, nfft)
    P = np.abs(T) ** 2
    W = P / (P + regularisation * P.max())
    W *= _band_mask(len(W), nfft, rate, exclude_hz, exclude_width_hz)
    h = np.fft.irfft(W, nfft)
    gain = h[0]  # height of the spike for a copy at unit gain
    if gain <= 0:
        return []
    h /= gain
    with np.errstate(divide="ignore", invalid="ignore"):
        D = np.where(P > 0, X * np.conj(T) * W / P, 0)
    d = np.fft.irfft(D, nfft)[:len(x)] / gain
    # The response to one copy: h around lag 0, cut where it has died out.
    mag = np.abs(h[:nfft // 2])
    reach = int(np.max(np.nonzero(mag > 0.01)[0], initial=0)) + 1
    kernel = np.concatenate([h[nfft - reach:], h[:reach]])  # lags -reach..reach-1
    original = d.copy()
    sep = max(1, int(min_separation * rate))
    picks = []
    for _ in range(20 * max_onsets):
        if len(picks) >= max_onsets:
            break
        i = int(np.argmax(d))
        a = d[i]
        if a < threshold:
            break
        if any(abs(i - j) < sep for j in picks):
            d[i] = 0.0  # the remains of a copy already taken
            continue
        picks.append(i)
        lo, hi = max(0, i - reach), min(len(d), i + reach)
        d[lo:hi] -= a * kernel[lo - (i - reach):hi - (i - reach)]
    # Strengths solved jointly: at each onset the output is the sum of every
    # copy's response there. Picks that come out weak are dropped, and the
    # rest solved again.
    at = np.array(sorted(picks), dtype=np.int64)
    while len(at):
        gram = h[(at[:, None] - at[None, :]) % nfft]
        strengths = np.linalg.lstsq(gram, original[at], rcond=None)[0]
        weak = strengths < threshold
        if not weak.any():
            return [Onset(i / rate, float(a)) for i, a in zip(at, strengths)]
        at = at[~weak]
    return []


def band_energy(samples, rate=RATE, exclude_hz=(660.0,), exclude_width_hz=120.0,
                frame=0.01):
    """(times, energy): mean-square level outside the bands around
    `exclude_hz`, in consecutive frames (Blackman window of two frames)."""
    x = np.asarray(samples, dtype=np.float64)
    hop = int(frame * rate)
    n = len(x) // hop
    win = 4 * hop
    nfft = 1 << int(np.ceil(np.log2(win)))
    keep = _band_mask(nfft // 2 + 1, nfft, rate, exclude_hz, exclude_width_hz)
    keep[0] = False
    w = np.blackman(win)
    padded = np.concatenate([np.zeros(win - hop), x, np.zeros(hop)])
    if n == 0:
        return np.zeros(0), np.zeros(0)
    frames = np.lib.stride_tricks.sliding_window_view(padded, win)[::hop][:n]
    power = np.abs(np.fft.rfft(frames * w, nfft, axis=1)) ** 2
    energy = 2 * power[:, keep].sum(axis=1) / (np.sum(w ** 2) * nfft)
    return np.arange(n) * frame + frame, energy


def energy_onsets(samples, rate=RATE, exclude_hz=(660.0,), exclude_width_hz=120.0,
                  frame=0.01, rise=1.5, min_jump=1e-5, min_separation=0.04):
    """Onsets of energy outside the bands around `exclude_hz`: frames whose
    energy jumps by `min_jump` and to `rise` times the frames before. A
    template-free fallback: copies of one clip overlapping closely may merge
    or cancel. Times are the end of the frame where the jump shows."""
    times, energy = band_energy(samples, rate, exclude_hz, exclude_width_hz, frame)
    onsets = []
    last = -1e9
    for k in range(1, len(energy)):
        before = energy[max(0, k - 3):k].max()
        if (energy[k] - before > min_jump and energy[k] > rise * before
                and times[k] - last >= min_separation):
            onsets.append(Onset(float(times[k]), float(energy[k])))
            last = times[k]
    return onsets


# --- a stretch of recorded sound -------------------------------------------

class Recording:
    """Recorded samples with times in seconds relative to `origin`.

    origin is a time.monotonic() value (a marker); `start` is the relative
    time of samples[0] (<= 0 when the recording began before the marker).
    Every method taking t0/t1 reads the part of the recording between them
    (None: from the start / to the end).
    """

    def __init__(self, samples, rate, first_sample_time, origin):
        self.samples = samples
        self.rate = rate
        self.origin = origin
        self.start = first_sample_time - origin

    @property
    def end(self):
        return self.start + len(self.samples) / self.rate

    @property
    def duration(self):
        return len(self.samples) / self.rate

    def index(self, t):
        i = int(round((t - self.start) * self.rate))
        return min(max(i, 0), len(self.samples))

    def time_of(self, i):
        return self.start + i / self.rate

    def part(self, t0=None, t1=None):
        a = 0 if t0 is None else self.index(t0)
        b = len(self.samples) if t1 is None else self.index(t1)
        return self.samples[a:max(a, b)]

    def peak(self, t0=None, t1=None):
        x = self.part(t0, t1)
        return float(np.abs(x).max()) if len(x) else 0.0

    def rms(self, t0=None, t1=None):
        x = self.part(t0, t1).astype(np.float64)
        return float(np.sqrt(np.mean(x * x))) if len(x) else 0.0

    def has_sound(self, t0=None, t1=None, threshold=SILENCE):
        return self.peak(t0, t1) > threshold

    def first_sound(self, after=None, threshold=SILENCE):
        """Time of the first sample above threshold at or after `after`, or None."""
        a = 0 if after is None else self.index(after)
        hits = np.nonzero(np.abs(self.samples[a:]) > threshold)[0]
        return self.time_of(a + int(hits[0])) if len(hits) else None

    def sound_intervals(self, threshold=SILENCE, min_gap=0.05):
        """[(t0, t1)] of sound, merging gaps shorter than min_gap."""
        loud = np.abs(self.samples) > threshold
        if not loud.any():
            return []
        edges = np.flatnonzero(np.diff(np.concatenate([[0], loud.view(np.int8), [0]])))
        runs = list(zip(edges[::2], edges[1::2]))
        merged = [list(runs[0])]
        gap = int(min_gap * self.rate)
        for a, b in runs[1:]:
            if a - merged[-1][1] < gap:
                merged[-1][1] = b
            else:
                merged.append([a, b])
        return [(self.time_of(a), self.time_of(b)) for a, b in merged]

    def tone_level(self, hz, t0=None, t1=None):
        return tone_level(self.part(t0, t1), hz, self.rate)

    def tone_present(self, hz=660.0, t0=None, t1=None, min_level=0.05):
        return self.tone_level(hz, t0, t1) >= min_level

    def tone_track(self, hz=660.0, frame=0.02):
        """(times, levels): the tone's level in consecutive frames."""
        n = int(frame * self.rate)
        count = len(self.samples) // n
        times = np.array([self.time_of(k * n) for k in range(count)])
        levels = np.array([tone_level(self.samples[k * n:(k + 1) * n], hz, self.rate)
                           for k in range(count)])
        return times, levels

    def tone_intervals(self, hz=660.0, min_level=0.05, frame=0.02, min_gap=0.1):
        """[(t0, t1)] during which the tone plays, gaps under min_gap merged."""
        times, levels = self.tone_track(hz, frame)
        out = []
        for t, on in zip(times, levels >= min_level):
            if not on:
                continue
            if out and t - out[-1][1] <= min_gap:
                out[-1][1] = t + frame
            else:
                out.append([t, t + frame])
        return [tuple(x) for x in out]

    def chime_onsets(self, template=None, **kw):
        """Onsets of the chime (default: the decoded assets/chime.wav);
        times relative to the origin. Keyword args go to chime_onsets()."""
        if template is None:
            template = load_template(DEFAULT_CHIME, self.rate)
        elif isinstance(template, str):
            template = load_template(template, self.rate)
        return [Onset(self.start + o.time, o.strength)
                for o in chime_onsets(self.samples, template, self.rate, **kw)]

    def energy_onsets(self, **kw):
        return [Onset(self.start + o.time, o.strength)
                for o in energy_onsets(self.samples, self.rate, **kw)]

    def save_wav(self, path):
        """Writes the recording as a 16-bit WAV (for listening when a test fails)."""
        import wave
        x = np.clip(self.samples, -1, 1)
        with wave.open(path, "wb") as w:
            w.setnchannels(1)
            w.setsampwidth(2)
            w.setframerate(self.rate)
            w.writeframes((x * 32767).astype("<i2").tobytes())


# --- the recorder ------------------------------------------------------------

class Recorder:
    """parec of `source` at RATE with 5 ms latency, read on a thread.

    Sample times: each read is stamped on arrival, and sample n is placed at
    t0 + n / RATE, t0 being the lowest (arrival - samples so far / RATE) seen:
    the least delayed read. Stamps lag the sink by the recorder's latency
    (a few ms).
    """

    def __init__(self, source, env, log):
        self.rate = RATE
        self._buf = bytearray()
        self._lock = threading.Lock()
        self._cond = threading.Condition(self._lock)
        self._t0 = None
        self._frames = 0
        self.proc = subprocess.Popen(
            ["parec", "--device=" + source, "--latency-msec=5", "--rate=%d" % RATE,
             "--channels=1", "--format=float32le", "--raw"],
            stdout=subprocess.PIPE, stderr=log, stdin=subprocess.DEVNULL, env=env)
        self._thread = threading.Thread(target=self._read, name="parec-reader",
                                        daemon=True)
        self._thread.start()

    def _read(self):
        fd = self.proc.stdout.fileno()
        while True:
            try:
                b = os.read(fd, 1 << 16)
            except OSError:
                break
            if not b:
                break
            now = time.monotonic()
            with self._cond:
                self._buf.extend(b)
                self._frames = len(self._buf) // 4
                t0 = now - self._frames / self.rate
                if self._t0 is None or t0 < self._t0:
                    self._t0 = t0
                self._cond.notify_all()

    def close(self):
        """After the recorder process has ended: joins the reader, closes the pipe."""
        self._thread.join(2.0)
        self.proc.stdout.close()

    def wait_flowing(self, timeout=10.0):
        """Waits until the recorder delivers data; False on timeout."""
        deadline = time.monotonic() + timeout
        with self._cond:
            while self._frames < self.rate // 50:
                left = deadline - time.monotonic()
                if left <= 0 or self.proc.poll() is not None:
                    return False
                self._cond.wait(min(left, 0.1))
        return True

    def covered_until(self):
        """monotonic time of the end of the recorded samples (None before data)."""
        with self._lock:
            if self._t0 is None:
                return None
            return self._t0 + self._frames / self.rate

    def recording(self, since=None, until=None, wait=1.0):
        """Samples from `since` to `until` (monotonic times; None: start / now),
        after waiting up to `wait` s for the recorder to reach `until`."""
        if until is None:
            until = time.monotonic()
        deadline = time.monotonic() + wait
        with self._cond:
            while self._t0 is None or self._t0 + self._frames / self.rate < until:
                left = deadline - time.monotonic()
                if left <= 0:
                    break
                self._cond.wait(min(left, 0.02))
            if self._t0 is None:
                return Recording(np.zeros(0, np.float32), self.rate,
                                 since or time.monotonic(), since or time.monotonic())
            t0 = self._t0
            a = 0 if since is None else max(0, int((since - t0) * self.rate))
            b = min(self._frames, max(a, int(np.ceil((until - t0) * self.rate))))
            raw = bytes(self._buf[a * 4:b * 4])
        samples = np.frombuffer(raw, dtype="<f4").astype(np.float32)
        origin = t0 if since is None else since
        return Recording(samples, self.rate, t0 + a / self.rate, origin)
