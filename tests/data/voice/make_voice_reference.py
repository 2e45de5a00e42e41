#!/usr/bin/python3
"""Reference data for the voice-chain tests, computed independently of the C++ code in double
precision with numpy.

- Butterworth magnitudes from the closed form of the bilinear-transformed prototype,
  |H|^2 = 1 / (1 + (t/tc)^(2N)) for the low-pass and 1 / (1 + (tc/t)^(2N)) for the high-pass,
  with t = tan(pi f / fs) and tc = tan(pi fc / fs) (frequency prewarped at the corner).
- The air shelf: two cascaded RBJ cookbook high shelves (shelf slope 1), evaluated on the unit circle.
- The saturator's makeup table: the first Fourier sine coefficient of the soft clip of a
  -22 dBFS sine (64 points, argument rounded to single precision), inverted.

Run: /usr/bin/python3 tests/data/voice/make_voice_reference.py  (writes voice_reference.csv beside it)
"""
import math
import os

import numpy as np


def butterworth_db(kind, order, fc, f, fs):
    t = math.tan(math.pi * f / fs)
    tc = math.tan(math.pi * fc / fs)
    ratio = t / tc if kind == "lowpass" else tc / t
    return -10.0 * math.log10(1.0 + ratio ** (2 * order))


def high_shelf(corner, gain_db, fs):
    A = 10.0 ** (gain_db / 40.0)
    w = 2.0 * math.pi * corner / fs
    c, s = math.cos(w), math.sin(w)
    S = 1.0  # shelf slope
    alpha = s / 2.0 * math.sqrt((A + 1.0 / A) * (1.0 / S - 1.0) + 2.0)
    two_sqrt_a_alpha = 2.0 * math.sqrt(A) * alpha
    b0 = A * ((A + 1) + (A - 1) * c + two_sqrt_a_alpha)
    b1 = -2 * A * ((A - 1) + (A + 1) * c)
    b2 = A * ((A + 1) + (A - 1) * c - two_sqrt_a_alpha)
    a0 = (A + 1) - (A - 1) * c + two_sqrt_a_alpha
    a1 = 2 * ((A - 1) - (A + 1) * c)
    a2 = (A + 1) - (A - 1) * c - two_sqrt_a_alpha
    return np.array([b0, b1, b2]) / a0, np.array([1.0, a1 / a0, a2 / a0])


def response_db(b, a, f, fs):
    z = np.exp(-1j * 2.0 * math.pi * f / fs)
    h = (b[0] + b[1] * z + b[2] * z * z) / (a[0] + a[1] * z + a[2] * z * z)
    return 20.0 * math.log10(abs(h))


def shaper(x):
    x = float(np.float32(x))
    if x == 0.0 or not math.isfinite(x):
        return 0.0
    inv = 1.0 / (x * x)
    return math.copysign(1.0, x) / math.sqrt(inv + 0.4386) + 0.093 / (inv + 0.9064516)


def makeup_table():
    amp = float(np.float32(0.0794))
    table = []
    for i in range(65):
        m = (i / 64.0) ** 2 * 79.0 + 1.0
        s = 0.0
        for j in range(64):
            ph = math.sin((j + 0.5) * 2.0 * math.pi / 64.0)
            s += shaper(ph * amp * m) / m * ph
        r = 2.0 * s / 64.0 / amp
        table.append(1.0 / r if r > 1e-6 else 1.0)
    return table


def main():
    rows = []
    freqs = [50, 100, 150, 300, 600, 1000, 2000, 4000, 5000, 8000, 12000, 16000, 20000]
    for f in freqs:
        rows.append(("highpass2_150_48000", f, butterworth_db("highpass", 2, 150.0, f, 48000.0)))
    for f in freqs:
        rows.append(("lowpass4_5000_48000", f, butterworth_db("lowpass", 4, 5000.0, f, 48000.0)))
    for f in [100, 1000, 3000, 6000, 8000, 9000, 10000]:
        rows.append(("lowpass4_9922.5_22050", f, butterworth_db("lowpass", 4, 9922.5, f, 22050.0)))
    b, a = high_shelf(7650.0, 8.0, 48000.0)
    for f in [100, 1000, 3000, 5000, 7650, 10000, 15000, 20000, 23000]:
        rows.append(("airshelf_7650_16db_48000", f, 2.0 * response_db(b, a, f, 48000.0)))
    for i, v in enumerate(makeup_table()):
        rows.append(("makeup", i, v))

    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "voice_reference.csv")
    with open(out, "w") as fh:
        fh.write("case,x,value\n")
        for name, x, v in rows:
            fh.write(f"{name},{x},{v:.9g}\n")


if __name__ == "__main__":
    main()
