#!/usr/bin/python3
"""Checks the PyTorch canceller against the independent float64 sample-by-sample reference in
tests/data/bleed/make_filter_head_reference.py (hashed weights, both shapes), including chunked
processing with a carried state, the way training runs it.

    /usr/bin/python3 tools/train/selftest.py
"""
import importlib.util
import os
import sys

import numpy as np
import torch

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from blob import ARRAY_NAMES, read_blob, write_blob  # noqa: E402
from model import FilterHead, run_canceller  # noqa: E402

REFERENCE = os.path.join(HERE, "..", "..", "tests", "data", "bleed", "make_filter_head_reference.py")


def load_reference():
    found = importlib.util.spec_from_file_location("filter_head_reference", REFERENCE)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def main():
    torch.set_num_threads(1)
    ref = load_reference()
    x = ref.hashed(0x7F000000 + np.arange(2048, dtype=np.uint64), 1)
    worst = 0.0
    for shape, (i, w, k) in ref.SHAPES.items():
        d = ref.weights(i, w, k)
        names = ["inW", "gain", "bias", "g1i", "g1r", "g1bi", "g1br", "g2i", "g2r", "g2bi", "g2br", "outW"]
        arrays = {a: d[b].astype(np.float32) for a, b in zip(ARRAY_NAMES, names)}
        model = FilterHead(w, k)
        model.load_arrays(arrays)
        expected = ref.canceller((i, w, k), x)
        whole = run_canceller(model, x)
        chunked = run_canceller(model, x, chunk_hops=5)
        error = max(np.max(np.abs(whole - expected)), np.max(np.abs(chunked - expected)))
        print("%s: largest difference to the float64 reference %.3g" % (shape, error))
        worst = max(worst, error)
        path = "/tmp/selftest_%s.bin" % shape
        write_blob(path, arrays, w, k)
        back, bw, bk, scale = read_blob(path)
        assert bw == w and bk == k and scale == 1.0
        assert all(np.array_equal(back[n], arrays[n]) for n in ARRAY_NAMES)
        os.remove(path)
    if worst > 1e-4:
        print("FAILED")
        return 1
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
