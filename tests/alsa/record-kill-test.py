#!/usr/bin/env python3
"""`record --raw` killed with SIGKILL at chosen frames of a run through the test ALSA PCM, which
is not paced in real time: each killed run's file must read with `analyze`, exit 0, and hold at
least the frames finished before the frame line the kill followed, as the uncut run has them.
All runs write the same path, so each starts over an earlier run's file.

    record-kill-test.py CLI WORK_DIR"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile

FRAMES = 120  # line 1 changes its width at frames 10 and 100
KILL_AFTER_LINES = [1, 2, 9, 10, 11, 37, 99, 100, 101, 118]

cli = sys.argv[1]
work = tempfile.mkdtemp(dir=sys.argv[2])  # on the build tree's disk, where fdatasync is real
raw = os.path.join(work, "Raw.txt")
record = [cli, "record", "--audio", "alsa", "--frames", str(FRAMES), "--raw", raw]
failures = []


def analyze(path):
    done = subprocess.run([cli, "analyze", path], capture_output=True, text=True)
    return done.returncode, done.stdout.splitlines(), done.stderr


def body(data):
    return data[data.index(b"\n") + 1:]


subprocess.run(record, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
full = open(raw, "rb").read()
status, full_lines, err = analyze(raw)
if status != 0 or len(full_lines) != FRAMES + 1 or not full.startswith(b" %d \r\n" % FRAMES):
    sys.exit("the uncut run's file does not read as frames 0 to %d: exit %d, %d lines, %s"
             % (FRAMES, status, len(full_lines), err))

for lines_seen in KILL_AFTER_LINES:
    child = subprocess.Popen(record, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    for _ in range(lines_seen):
        child.stdout.readline()
    child.send_signal(signal.SIGKILL)
    child.wait()
    child.stdout.close()
    # A run near its end may finish before the signal lands; its file is checked all the same.
    cut = open(raw, "rb").read()
    status, lines, err = analyze(raw)
    # The frame line of frame n comes out after the file was brought up to frame n - 1.
    if status != 0 or len(lines) < lines_seen - 1:
        failures.append("killed after %d lines: exit %d, %d frames read: %s"
                        % (lines_seen, status, len(lines), err.strip()))
    elif lines != full_lines[:len(lines)] or not body(full).startswith(body(cut)):
        failures.append("killed after %d lines: the %d frames read differ from the uncut run's"
                        % (lines_seen, len(lines)))

shutil.rmtree(work)
if failures:
    sys.exit("\n".join(failures))
print("%d killed runs each read their complete frames" % len(KILL_AFTER_LINES))
