#!/usr/bin/python3
"""Independent float64 reference of the filter-head network and canceller.

Weights and inputs come from the same integer hash as tests/dsp/bleed/BleedTestSupport.h, so
only the expected outputs are committed. Run with Debian's python3 (numpy):
    /usr/bin/python3 tests/data/bleed/make_filter_head_reference.py
Writes filter_head_<shape>.txt: the taps of the first three network steps on the synthetic input,
then the canceller's output for 64 hops (2048 samples) of the same input.
"""
import os
import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
SHAPES = {"full": (512, 96, 256), "eco": (512, 64, 192)}
SHIFTS = [0, 2, 3, 3, 3, 3, 3, 3, 3, 3, 3, 4]


def hash32(x):
    x = np.asarray(x, dtype=np.uint64) & 0xFFFFFFFF
    x ^= x >> 16
    x = (x * 0x7FEB352D) & 0xFFFFFFFF
    x ^= x >> 15
    x = (x * 0x846CA68B) & 0xFFFFFFFF
    x ^= x >> 16
    return x


def hashed(keys, shift):
    v = (hash32(keys) % 2047).astype(np.int64) - 1023
    return v.astype(np.float64) / 1024.0 * 2.0 ** (-shift)


def weights(i, w, k):
    sizes = [w * i, w, w, 3 * w * w, 3 * w * w, 3 * w, 3 * w, 3 * w * w, 3 * w * w, 3 * w, 3 * w, k * w]
    arrays = []
    for a, n in enumerate(sizes):
        v = hashed((a << 24) + np.arange(n, dtype=np.uint64), SHIFTS[a])
        if a == 1:
            v = v + 1.0
        arrays.append(v)
    names = ["inW", "gain", "bias", "g1i", "g1r", "g1bi", "g1br", "g2i", "g2r", "g2bi", "g2br", "outW"]
    d = dict(zip(names, arrays))
    d["inW"] = d["inW"].reshape(w, i)
    for n in ["g1i", "g1r", "g2i", "g2r"]:
        d[n] = d[n].reshape(3 * w, w)
    d["outW"] = d["outW"].reshape(k, w)
    return d


def sigmoid(s):
    return 1.0 / (1.0 + np.exp(-s))


def gru(x, h, wi, wr, bi, br, w):
    gi = wi @ x + bi
    gh = wr @ h + br
    r = sigmoid(gi[:w] + gh[:w])
    z = sigmoid(gi[w:2 * w] + gh[w:2 * w])
    n = np.tanh(gi[2 * w:] + r * gh[2 * w:])
    return (1.0 - z) * n + z * h


class Network:
    def __init__(self, shape):
        self.i, self.w, self.k = shape
        self.p = weights(*shape)
        self.reset()

    def reset(self):
        self.window = np.zeros(self.i)
        self.h1 = np.zeros(self.w)
        self.h2 = np.zeros(self.w)

    def step(self, hop):
        p = self.p
        self.window = np.concatenate([self.window[32:], hop])
        proj = p["inW"] @ self.window
        m = proj.mean()
        v = ((proj - m) ** 2).mean()
        u = np.tanh((proj - m) / np.sqrt(v + 1e-5) * p["gain"] + p["bias"])
        self.h1 = gru(u, self.h1, p["g1i"], p["g1r"], p["g1bi"], p["g1br"], self.w)
        self.h2 = gru(self.h1, self.h2, p["g2i"], p["g2r"], p["g2bi"], p["g2br"], self.w)
        return np.tanh(p["outW"] @ self.h2) * 1.0


def canceller(shape, x):
    net = Network(shape)
    k = shape[2]
    hist = np.zeros(k)  # hist[j] = sample j samples ago
    prev = np.zeros(k)
    cur = np.zeros(k)
    gain = 1.0
    out = []
    frame = []
    for n, s in enumerate(x):
        hist = np.concatenate([[s], hist[:-1]])
        c = cur @ hist
        q = prev @ hist
        gain = gain + (1.0 - gain) * 0.002
        hop_index = n % 32
        e = ((hop_index + 1) * 0.03125 * (c - q) + q) * gain
        out.append(s - e)
        frame.append(s)
        if len(frame) == 32:
            prev = cur
            cur = net.step(np.array(frame))
            frame = []
    return np.array(out)


def main():
    x = hashed(0x7F000000 + np.arange(2048, dtype=np.uint64), 1)
    for name, shape in SHAPES.items():
        net = Network(shape)
        lines = []
        for s in range(3):
            taps = net.step(x[32 * s:32 * s + 32])
            lines.append(" ".join("%.9g" % t for t in taps))
        y = canceller(shape, x)
        lines.append(" ".join("%.9g" % v for v in y))
        with open(os.path.join(HERE, "filter_head_%s.txt" % name), "w") as f:
            f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
