#!/usr/bin/env python3
"""Writes samples/sample-raw.txt: six frames of a shaft sensor's pulse train.

The first channel carries the square wave of a slotted-disc sensor, high for half of each
period and low for the other half. The period drifts slowly from 102.2 to 102.6 sample points
(about 0.4 s at 256 pairs per second, ten periods a frame), with a little noise on the high and
low levels and a one-point slope on some edges. The second channel is a quiet hum
around the mid level. The file has the raw-data layout: the last frame index on line 1, then
one sample byte per line, every number with a blank before and after it, CRLF line ends.
"""
import math
import random
import sys

POINTS = 1024
FRAMES = 6

def main(path):
    rng = random.Random(20261208)
    total = POINTS * FRAMES
    first = []
    period_start = -30.0  # the input is high when the recording starts and falls at point 20
    for n in range(total):
        period = 102.2 + 0.4 * n / total
        if n >= period_start + period:
            period_start += period
        into_period = n - period_start
        high = into_period < period / 2
        at_edge = math.floor(into_period) in (0, math.floor(period / 2))
        if at_edge and rng.random() < 0.3:
            value = 128  # a sloped edge now and then
        elif high:
            value = 255 - rng.randint(0, 3)
        else:
            value = rng.randint(0, 3)
        first.append(value)
    lines = [f" {FRAMES - 1} "]
    for n in range(total):
        hum = 128 + round(6 * math.sin(2 * math.pi * n / 5.12)) + rng.randint(-1, 1)
        lines.append(f" {first[n]} ")
        lines.append(f" {hum} ")
    with open(path, "w", newline="") as out:
        out.write("\r\n".join(lines) + "\r\n")

if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "samples/sample-raw.txt")
