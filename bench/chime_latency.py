#!/usr/bin/python3
"""Time from sound::PlaySound to first sound at the sink, against paplay.

Starts a private PulseAudio server with a null sink, records its monitor
with parec, and plays the same clip alternately through zorva_bench_chime
(which calls sound::PlaySound) and through paplay. Prints medians:
  PlaySound call -> first sound, driver exec -> first sound,
  paplay exec -> first sound, their ratios, and how long PlaySound blocks.
"First sound" is when the monitor recording delivers the first loud
sample to this script: parec's delivery delay (a few ms, requested 5 ms) is
in every figure alike.

Usage: bench/chime_latency.py --driver BUILD/sound/zorva_bench_chime
                              [--clip FILE.wav] [--runs 9]
Without --clip: assets/chime.wav if present, else a 300 ms MS ADPCM tone
made with sox.
"""

import argparse
import array
import os
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

RATE = 48000
LOUD = 1000  # a sample above this (of 32767) is sound
REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


class Recorder:
    """Reads parec's raw mono s16le output; remembers when each read came."""

    def __init__(self, stream):
        self.stream = stream
        self.samples = array.array("h")
        self.reads = []  # (monotonic_ns at arrival, samples so far)
        self.lock = threading.Lock()
        self.pending = b""
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        fd = self.stream.fileno()
        while True:
            data = os.read(fd, 65536)
            now = time.monotonic_ns()
            if not data:
                return
            data = self.pending + data
            whole = len(data) - len(data) % 2
            self.pending = data[whole:]
            chunk = array.array("h")
            chunk.frombytes(data[:whole])
            with self.lock:
                self.samples.extend(chunk)
                self.reads.append((now, len(self.samples)))

    def mark(self):
        with self.lock:
            return len(self.samples)

    def first_sound(self, mark, timeout_s=3.0):
        """Monotonic ns of the first loud sample after mark, or None."""
        deadline = time.monotonic() + timeout_s
        scanned = mark
        while time.monotonic() < deadline:
            with self.lock:
                end = len(self.samples)
                for i in range(scanned, end):
                    if abs(self.samples[i]) > LOUD:
                        return self.time_of(i)
            scanned = end
            time.sleep(0.005)
        return None

    def time_of(self, index):
        # When the read holding the sample arrived. Finer estimates do not
        # hold: the sink renders ahead in blocks and, when a stream starts,
        # rewinds and renders part of its timeline again, so sample counts
        # do not map steadily onto time.
        for arrived, count in self.reads:
            if count > index:
                return arrived
        return None

    def wait_quiet(self, quiet_s=0.3, timeout_s=6.0):
        deadline = time.monotonic() + timeout_s
        while time.monotonic() < deadline:
            with self.lock:
                tail = self.samples[-int(quiet_s * RATE):]
            if len(tail) >= int(quiet_s * RATE) and max(map(abs, tail)) <= LOUD:
                return
            time.sleep(0.05)


def wait_for_socket(path, timeout_s=10.0):
    deadline = time.monotonic() + timeout_s
    while time.monotonic() < deadline:
        try:
            with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
                s.connect(path)
                return True
        except OSError:
            time.sleep(0.01)
    return False


def make_clip(directory):
    chime = os.path.join(REPO, "assets", "chime.wav")
    if os.path.exists(chime):
        return chime
    path = os.path.join(directory, "tone.wav")
    subprocess.run(["sox", "-n", "-r", "22050", "-c", "1", "-e", "ms-adpcm", path,
                    "synth", "0.3", "sine", "880", "vol", "0.5"], check=True)
    return path


def median_ms(values):
    return statistics.median(values) / 1e6


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--driver", default=os.path.join(REPO, "build", "sound",
                                                         "zorva_bench_chime"))
    parser.add_argument("--clip")
    parser.add_argument("--runs", type=int, default=9)
    args = parser.parse_args()
    if not os.access(args.driver, os.X_OK):
        sys.exit(f"no driver at {args.driver}; build target zorva_bench_chime")

    work = tempfile.mkdtemp(prefix="zorva-chime-bench-")
    pulse = parec = None
    try:
        run_dir = os.path.join(work, "run")
        os.makedirs(run_dir)
        sock = os.path.join(work, "native")
        with open(os.path.join(work, "server.pa"), "w") as f:
            f.write(f"load-module module-null-sink sink_name=bench rate={RATE} channels=1\n"
                    f"load-module module-native-protocol-unix socket={sock} auth-anonymous=1\n"
                    "set-default-sink bench\n")
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": work,
               "XDG_RUNTIME_DIR": run_dir, "XDG_CONFIG_HOME": os.path.join(work, "config"),
               "DBUS_SESSION_BUS_ADDRESS": f"unix:path={work}/no-bus",
               "PULSE_SERVER": f"unix:{sock}"}
        log = open(os.path.join(work, "pulseaudio.log"), "w")
        pulse = subprocess.Popen(["pulseaudio", "-n", "-F", os.path.join(work, "server.pa"),
                                  "--daemonize=no", "--exit-idle-time=-1",
                                  "--use-pid-file=no"], env=env, stdout=log, stderr=log)
        if not wait_for_socket(sock):
            sys.exit("pulseaudio did not start")
        parec = subprocess.Popen(["parec", "-d", "bench.monitor", "--latency-msec=5",
                                  "--format=s16le", f"--rate={RATE}", "--channels=1", "--raw"],
                                 env=env, stdout=subprocess.PIPE)
        recorder = Recorder(parec.stdout)
        while recorder.mark() == 0:
            time.sleep(0.01)
        time.sleep(0.3)

        clip = args.clip or make_clip(work)
        print(f"clip: {clip}")
        call, call_length, driver_exec, driver_start, paplay_exec = [], [], [], [], []
        for run in range(args.runs):
            # PlaySound through the driver.
            recorder.wait_quiet()
            mark = recorder.mark()
            started = time.monotonic_ns()
            # Only the onset matters: the driver stops its sound after 200 ms.
            driver = subprocess.Popen([args.driver, clip, "200"], env=env,
                                      stdout=subprocess.PIPE, text=True)
            heard = recorder.first_sound(mark)
            out, _ = driver.communicate()
            fields = dict(line.split() for line in out.splitlines() if line.strip())
            if heard is None or fields.get("played") != "1":
                sys.exit(f"run {run}: driver played nothing ({out.strip()})")
            call.append(heard - int(fields["call_ns"]))
            driver_exec.append(heard - started)
            driver_start.append(int(fields["call_ns"]) - started)
            call_length.append(int(fields["return_ns"]) - int(fields["call_ns"]))

            # paplay.
            recorder.wait_quiet()
            mark = recorder.mark()
            started = time.monotonic_ns()
            player = subprocess.Popen(["paplay", clip], env=env)
            heard = recorder.first_sound(mark)
            player.terminate()
            player.wait()
            if heard is None:
                sys.exit(f"run {run}: paplay played nothing")
            paplay_exec.append(heard - started)

        n = args.runs
        c, d, p = median_ms(call), median_ms(driver_exec), median_ms(paplay_exec)
        print(f"medians of {n} runs (ms to first sound at the sink):")
        print(f"  PlaySound call      {c:7.1f}   (runs: "
              + " ".join(f"{v / 1e6:.1f}" for v in call) + ")")
        print(f"  driver exec         {d:7.1f}   (runs: "
              + " ".join(f"{v / 1e6:.1f}" for v in driver_exec) + ")")
        print(f"  (PlaySound returns after {median_ms(call_length):.2f}; "
              f"driver exec -> PlaySound call: {median_ms(driver_start):.1f})")
        print(f"  paplay exec         {p:7.1f}   (runs: "
              + " ".join(f"{v / 1e6:.1f}" for v in paplay_exec) + ")")
        print(f"  ratio PlaySound call / paplay exec: {c / p:.2f}")
        print(f"  ratio driver exec / paplay exec:    {d / p:.2f}")
    finally:
        for proc in (parec, pulse):
            if proc is not None and proc.poll() is None:
                proc.send_signal(signal.SIGTERM)
                try:
                    proc.wait(timeout=3)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
