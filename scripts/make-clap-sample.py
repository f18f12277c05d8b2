#!/usr/bin/env python3
"""Writes examples/clap.wav: a short hand clap made from filtered noise, the same every
run (fixed seed). Usage: scripts/make-clap-sample.py [OUTPUT]"""
import math
import random
import struct
import sys
import wave

RATE = 22050
LENGTH = 0.14  # seconds


def bandpass(samples, centre, q):
    # A two-pole resonator (RBJ band-pass, constant peak gain).
    w = 2 * math.pi * centre / RATE
    alpha = math.sin(w) / (2 * q)
    b0, b2 = alpha, -alpha
    a0, a1, a2 = 1 + alpha, -2 * math.cos(w), 1 - alpha
    x1 = x2 = y1 = y2 = 0.0
    out = []
    for x in samples:
        y = (b0 * x + b2 * x2 - a1 * y1 - a2 * y2) / a0
        x2, x1, y2, y1 = x1, x, y1, y
        out.append(y)
    return out


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else "examples/clap.wav"
    rng = random.Random(1234)
    count = int(RATE * LENGTH)
    noise = [rng.uniform(-1, 1) for _ in range(count)]
    envelope = []
    for i in range(count):
        t = i / RATE
        # Three quick slaps 10 ms apart, then the room's tail.
        slaps = sum(math.exp(-(t - start) / 0.003) for start in (0.0, 0.010, 0.020) if t >= start)
        tail = math.exp(-(t - 0.025) / 0.030) if t >= 0.025 else 0.0
        envelope.append(min(1.0, slaps) * 0.9 + tail * 0.6)
    shaped = bandpass([n * e for n, e in zip(noise, envelope)], 1200, 1.2)
    peak = max(abs(s) for s in shaped) or 1.0
    fade = int(RATE * 0.01)
    frames = bytearray()
    for i, s in enumerate(shaped):
        if i >= count - fade:
            s *= (count - i) / fade
        frames += struct.pack("<h", int(round(s / peak * 0.8 * 32767)))
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(bytes(frames))


if __name__ == "__main__":
    main()
