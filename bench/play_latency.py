#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Stop and change latencies of live sound, measured on the recorded monitor of the sink.

Records the sink's monitor with parecord (raw, 5 ms latency) and stamps every piece of it with the
time it arrived, so each recorded frame has a time on the same clock as the requests:

  stop    `brinesong --play` is sent SIGTERM; the latency runs from the signal to the first frame
          of the fade-out (10 ms before the last sounding frame on the monitor).
  change  the window plays (started through its media player interface), and its volume is set to
          0 through the same interface; the latency runs from the request to the first frame of the
          glide down (the volume glides to 0 over 40 ms and then renders exact digital silence:
          the glide began GLIDE frames before the first silent frame).

Each is repeated and printed as median and worst, in milliseconds. The times of arrival include
the monitor's own latency, so the figures err on the long side.
Usage: play_latency.py BRINESONG SINK REPEATS   (PULSE_SERVER and a session bus set; DISPLAY or
QT_QPA_PLATFORM for the window)
"""
import array
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

RATE = 44100
FADE = 441
GLIDE = 1763  # frames from the first of a glide to the first at its new level


class Monitor:
    """The sink's monitor, frame by frame, with the time each frame was recorded."""

    def __init__(self, sink):
        self.proc = subprocess.Popen(
            ["parecord", "-d", sink + ".monitor", "--latency-msec=5", "--raw", "--rate=44100",
             "--channels=2", "--format=s16le"], stdout=subprocess.PIPE, bufsize=0)
        self.lock = threading.Lock()
        self.pieces = []  # (arrival time, first frame, frame count)
        self.data = bytearray()
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        pending = b""
        while True:
            chunk = self.proc.stdout.read(4096)
            if not chunk:
                return
            now = time.monotonic()
            pending += chunk
            whole = len(pending) - len(pending) % 4
            if whole == 0:
                continue
            with self.lock:
                first = len(self.data) // 4
                self.data += pending[:whole]
                self.pieces.append((now, first, whole // 4))
            pending = pending[whole:]

    def frames(self):
        with self.lock:
            return len(self.data) // 4

    def wait_frames(self, count, limit=30.0):
        goal = self.frames() + count
        end = time.monotonic() + limit
        while self.frames() < goal and time.monotonic() < end:
            time.sleep(0.005)

    def sample(self, frame):
        with self.lock:
            left = int.from_bytes(self.data[4 * frame:4 * frame + 2], "little", signed=True)
            right = int.from_bytes(self.data[4 * frame + 2:4 * frame + 4], "little", signed=True)
        return left, right

    def time_of(self, frame):
        """When `frame` was recorded: its piece's arrival less the frames after it in the piece."""
        with self.lock:
            for arrived, first, count in self.pieces:
                if first <= frame < first + count:
                    return arrived - (first + count - 1 - frame) / RATE
        return None

    def sounding(self, begin, end):
        """Last frame in [begin, end) that is not silent, or None."""
        with self.lock:
            samples = array.array("h", bytes(self.data[4 * begin:4 * end]))
        for i in range(len(samples) - 1, -1, -1):
            if samples[i] != 0:
                return begin + i // 2
        return None

    def first_sound(self, begin):
        with self.lock:
            samples = array.array("h", bytes(self.data[4 * begin:]))
        for i, v in enumerate(samples):
            if v != 0:
                return begin + i // 2
        return None

    def close(self):
        self.proc.terminate()
        self.proc.wait()


def measure_stop(monitor, brinesong, env):
    start = monitor.frames()
    player = subprocess.Popen([brinesong, "--play", "--seed", "7"], env=env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    while monitor.first_sound(start) is None and player.poll() is None:
        time.sleep(0.01)
    monitor.wait_frames(RATE)  # a second of sound, so the queue is full
    mark = monitor.frames()
    asked = time.monotonic()
    player.send_signal(signal.SIGTERM)
    player.wait()
    monitor.wait_frames(RATE // 2)
    last = monitor.sounding(mark, monitor.frames())
    if last is None:
        return None
    return (monitor.time_of(last + 1 - FADE) - asked) * 1000


def playerctl(env, *arguments):
    subprocess.run(["playerctl", "--player=brinesong", *arguments], env=env, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def measure_change(monitor, env):
    playerctl(env, "volume", "0.5")
    start = monitor.frames()
    playerctl(env, "play")
    while monitor.first_sound(start) is None:
        time.sleep(0.01)
    monitor.wait_frames(RATE)
    mark = monitor.frames()
    asked = time.monotonic()
    playerctl(env, "volume", "0")
    monitor.wait_frames(RATE // 2)
    last = monitor.sounding(mark, monitor.frames())
    playerctl(env, "stop")
    monitor.wait_frames(RATE // 4)
    if last is None:
        return None
    return (monitor.time_of(last + 1 - GLIDE) - asked) * 1000


def summary(name, values):
    values = [v for v in values if v is not None]
    if not values:
        return "%-7s latency: not measured" % name
    return "%-7s latency: median %5.1f ms, worst %5.1f ms over %d (from the request to the " \
        "monitor)" % (name, statistics.median(values), max(values), len(values))


def main():
    brinesong, sink, repeats = sys.argv[1], sys.argv[2], int(sys.argv[3])
    config = tempfile.mkdtemp(prefix="brinesong-latency.")
    env = dict(os.environ, XDG_CONFIG_HOME=config)
    monitor = Monitor(sink)
    monitor.wait_frames(RATE // 2)
    stops = [measure_stop(monitor, brinesong, env) for _ in range(repeats)]

    window = subprocess.Popen([brinesong], env=env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    changes = []
    try:
        end = time.monotonic() + 15
        while time.monotonic() < end:
            if subprocess.run(["playerctl", "--player=brinesong", "status"], env=env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0:
                break
            time.sleep(0.1)
        time.sleep(1.0)  # the unit's stream ready
        changes = [measure_change(monitor, env) for _ in range(repeats)]
    finally:
        window.terminate()
        window.wait()
        monitor.close()
    print(summary("stop", stops))
    print(summary("change", changes))


if __name__ == "__main__":
    main()
