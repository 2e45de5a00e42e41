#!/usr/bin/python3
"""Writes weight blobs with synthetic coefficients (the hashed values of the test suite) for
trying the model loading and embedding before trained weights exist:
    /usr/bin/python3 tests/data/bleed/make_synthetic_blobs.py OUTPUT_DIR
writes OUTPUT_DIR/big_base_s1.bin and OUTPUT_DIR/gig_eco_v2.bin. Not for shipping."""
import os
import struct
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_filter_head_reference import SHIFTS, hashed  # noqa: E402


def blob(i, w, k):
    sizes = [w * i, w, w, 3 * w * w, 3 * w * w, 3 * w, 3 * w, 3 * w * w, 3 * w * w, 3 * w, 3 * w, k * w]
    out = [b"HFWI", struct.pack("<6I", 1, i, 32, w, w, k), struct.pack("<f", 1.0)]
    for a, n in enumerate(sizes):
        v = hashed((a << 24) + np.arange(n, dtype=np.uint64), SHIFTS[a])
        if a == 1:
            v = v + 1.0
        out.append(v.astype("<f4").tobytes())
    return b"".join(out)


def main():
    target = sys.argv[1] if len(sys.argv) > 1 else "."
    os.makedirs(target, exist_ok=True)
    with open(os.path.join(target, "big_base_s1.bin"), "wb") as f:
        f.write(blob(512, 96, 256))
    with open(os.path.join(target, "gig_eco_v2.bin"), "wb") as f:
        f.write(blob(512, 64, 192))


if __name__ == "__main__":
    main()
