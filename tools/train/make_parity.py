#!/usr/bin/python3
"""Writes the reference data of the C++ parity test of exported models.

A seeded ECO-shape network (its head scaled up so that the taps are large enough to matter) is
exported through the same code path as a trained model; a fixed seeded input runs through the
PyTorch canceller. The C++ test loads the blob with the runtime's reader, runs the runtime's
canceller on the same input and compares.

    /usr/bin/python3 tools/train/make_parity.py

Writes tests/data/bleed/trained_parity_eco.bin (the blob) and trained_parity_eco_io.f32 (the
4096 input samples, then the 4096 PyTorch output samples, little-endian float32).
"""
import os
import sys

import numpy as np
import torch

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from model import FilterHead, run_canceller  # noqa: E402
from runtime_constants import SAMPLE_RATE_HZ  # noqa: E402

REPO = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
OUT = os.path.join(REPO, "tests", "data", "bleed")
SEED = 20261209
SAMPLES = 4096


def parity_input(rng, n):
    t = np.arange(n) / float(SAMPLE_RATE_HZ)
    x = 0.25 * np.sin(2 * np.pi * 220.0 * t) + 0.1 * np.sin(2 * np.pi * 3150.0 * t)
    x += 0.05 * rng.standard_normal(n)
    x[1500:2100] *= 0.02  # a quiet stretch
    x[3000:3010] = 0.9  # a click
    return x.astype(np.float32)


def main():
    torch.manual_seed(SEED)
    model = FilterHead.for_shape("eco")
    with torch.no_grad():
        model.output_weights.mul_(40.0)
    rng = np.random.default_rng(SEED)
    x = parity_input(rng, SAMPLES)
    model.export(os.path.join(OUT, "trained_parity_eco.bin"))
    y = run_canceller(model, x)
    # Round-trip through the file so the reference comes from exactly the exported values.
    reloaded = FilterHead.for_shape("eco")
    from blob import read_blob

    arrays, _, _, scale = read_blob(os.path.join(OUT, "trained_parity_eco.bin"))
    reloaded.load_arrays(arrays, scale)
    y2 = run_canceller(reloaded, x)
    assert np.array_equal(y, y2)
    np.concatenate([x, y]).astype("<f4").tofile(os.path.join(OUT, "trained_parity_eco_io.f32"))
    print("input rms %.4f, estimate rms %.4f" % (np.sqrt(np.mean(x**2)), np.sqrt(np.mean((x - y) ** 2))))


if __name__ == "__main__":
    torch.set_num_threads(1)
    main()
