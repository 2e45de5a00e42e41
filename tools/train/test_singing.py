#!/usr/bin/python3
"""Checks tools/train/singing.py on a synthetic utterance whose pitch, formants and consonant are
known: two vowels (pulse trains gliding 110 -> 140 Hz and 130 -> 100 Hz through two formant
resonators at 700 and 1200 Hz) around a noise burst. The sung phrase must hold each vowel on its
note (within 10 cents before the vibrato sets in), add a vibrato of 20 to 60 cents at 5 to 6.5 Hz,
keep the vowel's spectral envelope (centroid within 15 %) and carry the consonant unchanged.

    /usr/bin/python3 tools/train/test_singing.py
"""
import os
import sys

import numpy as np
from scipy import signal

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from singing import pitch_track, sing_phrase  # noqa: E402

RATE = 48000


def vowel(f_start, f_end, seconds):
    n = int(seconds * RATE)
    f = np.linspace(f_start, f_end, n)
    phase = np.cumsum(f) / RATE
    pulses = np.zeros(n)
    pulses[np.nonzero(np.diff(np.floor(phase)) > 0)[0] + 1] = 1.0
    y = pulses
    for centre, bandwidth in ((700.0, 90.0), (1200.0, 110.0)):
        r = np.exp(-np.pi * bandwidth / RATE)
        w = 2.0 * np.pi * centre / RATE
        y = signal.lfilter([1.0 - r], [1.0, -2.0 * r * np.cos(w), r * r], y)
    return 0.3 * y / np.max(np.abs(y))


def centroid(x):
    spectrum = np.abs(np.fft.rfft(x * np.hanning(len(x)))) ** 2
    hz = np.fft.rfftfreq(len(x), 1.0 / RATE)
    band = (hz > 200.0) & (hz < 4000.0)
    return np.sum(hz[band] * spectrum[band]) / np.sum(spectrum[band])


def cents(f, ref):
    return 1200.0 * np.log2(f / ref)


def main():
    rng = np.random.default_rng(5)
    a = vowel(110.0, 140.0, 0.4)
    burst = 0.05 * rng.standard_normal(int(0.1 * RATE))
    b = vowel(130.0, 100.0, 0.3)
    x = np.concatenate([np.zeros(2400), a, burst, b, np.zeros(2400)])
    y, notes = sing_phrase(x, RATE, np.random.default_rng(11))
    failures = []

    def check(ok, what):
        print(("ok   " if ok else "FAIL ") + what)
        if not ok:
            failures.append(what)

    check(len(notes) == 2, "one note per vowel (%d notes)" % len(notes))
    f0, hop = pitch_track(y, RATE)
    for start, length, hz in notes:
        check(length >= 1.5 * 0.28 * RATE, "note of %.0f Hz held %.2f s" % (hz, length / RATE))
        steady = f0[(start + int(0.15 * RATE)) // hop:(start + int(0.24 * RATE)) // hop]
        steady = steady[steady > 0.0]
        error = np.max(np.abs(cents(steady, hz))) if steady.size else np.inf
        check(error < 10.0, "on pitch before the vibrato: %.1f cents off %.0f Hz" % (error, hz))
        late = f0[(start + int(0.6 * RATE)) // hop:(start + length - int(0.1 * RATE)) // hop]
        late = late[late > 0.0]
        if late.size > 40:
            c = cents(late, hz)
            depth = 0.5 * (np.percentile(c, 97) - np.percentile(c, 3))
            crossings = np.count_nonzero(np.diff(np.sign(c - np.median(c))) != 0)
            vibrato_hz = crossings / 2.0 / (late.size * hop / RATE)
            check(15.0 < depth < 70.0, "vibrato depth %.0f cents" % depth)
            check(4.5 < vibrato_hz < 7.5, "vibrato rate %.1f Hz" % vibrato_hz)
        held = y[start + int(0.1 * RATE):start + length - int(0.05 * RATE)]
        source = a if notes.index((start, length, hz)) == 0 else b
        ratio = centroid(held) / centroid(source)
        check(abs(ratio - 1.0) < 0.15, "spectral centroid kept (ratio %.2f)" % ratio)
    # The consonant sits between the notes, sample for sample (its middle: the unvoiced stretch
    # starts and ends where the pitch track's voiced runs do, within a few 5 ms frames).
    middle = burst[1000:3000]
    between = y[notes[0][0] + notes[0][1] - 1000:notes[1][0] + 1000]
    windows = np.lib.stride_tricks.sliding_window_view(between, len(middle))
    carried = bool(np.any(np.all(np.abs(windows - middle) < 1e-12, axis=1)))
    check(carried, "consonant carried unchanged")
    check(np.all(np.isfinite(y)) and np.max(np.abs(y)) < 1.0, "finite and bounded")
    print("FAILED" if failures else "ok")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
