#!/usr/bin/env python3
"""Writes a recording the test PCMs play: 14 s of raw 16-bit little-endian samples at 48 kHz,
stereo or (with the argument 1) mono, a square pulse train at full scale, high for 31.25 ms of
every 0.3125 s (80 and 8 points at 256 Hz). The first rise comes at 78.125 ms, point 20 of the
first frame.

    make-train.py OUTPUT [CHANNELS]"""
import sys

RATE = 48000
PERIOD = 15000  # frames, 0.3125 s
HIGH = 1500  # frames, 31.25 ms
FIRST_RISE = 3750  # frames, 20 points at 256 Hz
SECONDS = 14

CHANNELS = int(sys.argv[2]) if len(sys.argv) > 2 else 2
FRAME = 2 * CHANNELS  # bytes

high = (32767).to_bytes(2, "little", signed=True) * CHANNELS
low = (-32768).to_bytes(2, "little", signed=True) * CHANNELS
period = high * HIGH + low * (PERIOD - HIGH)
frames = RATE * SECONDS
start = (PERIOD - FIRST_RISE) * FRAME
data = (period * (frames // PERIOD + 2))[start:start + frames * FRAME]
with open(sys.argv[1], "wb") as out:
    out.write(data)
