#!/usr/bin/env python3
"""Writes the recording the test PCM plays: 14 s of raw 16-bit little-endian stereo at 48 kHz,
a square pulse train at full scale, high for 31.25 ms of every 0.3125 s (80 and 8 points at
256 Hz). The first rise comes at 78.125 ms, point 20 of the first frame."""
import sys

RATE = 48000
PERIOD = 15000  # frames, 0.3125 s
HIGH = 1500  # frames, 31.25 ms
FIRST_RISE = 3750  # frames, 20 points at 256 Hz
SECONDS = 14

high = (32767).to_bytes(2, "little", signed=True) * 2
low = (-32768).to_bytes(2, "little", signed=True) * 2
period = high * HIGH + low * (PERIOD - HIGH)
frames = RATE * SECONDS
start = (PERIOD - FIRST_RISE) * 4
data = (period * (frames // PERIOD + 2))[start:start + frames * 4]
with open(sys.argv[1], "wb") as out:
    out.write(data)
