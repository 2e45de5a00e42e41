"""Reading and writing filter-head weight blobs.

A blob is a 32-byte little-endian header ("HFWI", version 1, input window, hop, the two hidden
widths, the number of taps, the output scale) followed by twelve float32 arrays, row-major, one
row per output unit, in the order of ARRAY_NAMES. Plain numpy; no torch needed.
"""
import struct

import numpy as np
from runtime_constants import (
    ECO_MODEL_FILE,
    ECO_MODEL_TAPS,
    ECO_MODEL_WIDTH,
    FULL_MODEL_FILE,
    FULL_MODEL_TAPS,
    FULL_MODEL_WIDTH,
    NETWORK_HOP,
    NETWORK_INPUT,
)

MAGIC = b"HFWI"
VERSION = 1
INPUT = NETWORK_INPUT
HOP = NETWORK_HOP
SHAPES = {
    # name: (width, taps, file name in resources/models)
    "full": (FULL_MODEL_WIDTH, FULL_MODEL_TAPS, FULL_MODEL_FILE),
    "eco": (ECO_MODEL_WIDTH, ECO_MODEL_TAPS, ECO_MODEL_FILE),
}
ARRAY_NAMES = [
    "inputWeights",
    "normGain",
    "normBias",
    "gru1InputWeights",
    "gru1RecurrentWeights",
    "gru1InputBias",
    "gru1RecurrentBias",
    "gru2InputWeights",
    "gru2RecurrentWeights",
    "gru2InputBias",
    "gru2RecurrentBias",
    "outputWeights",
]


def array_shapes(width, taps, window=INPUT):
    w = width
    return {
        "inputWeights": (w, window),
        "normGain": (w,),
        "normBias": (w,),
        "gru1InputWeights": (3 * w, w),
        "gru1RecurrentWeights": (3 * w, w),
        "gru1InputBias": (3 * w,),
        "gru1RecurrentBias": (3 * w,),
        "gru2InputWeights": (3 * w, w),
        "gru2RecurrentWeights": (3 * w, w),
        "gru2InputBias": (3 * w,),
        "gru2RecurrentBias": (3 * w,),
        "outputWeights": (taps, w),
    }


def blob_bytes(width, taps):
    return 32 + 4 * sum(int(np.prod(s)) for s in array_shapes(width, taps).values())


def write_blob(path, arrays, width, taps, scale=1.0):
    """Writes the twelve arrays (a dict by ARRAY_NAMES) with the given header scale."""
    shapes = array_shapes(width, taps)
    header = MAGIC + struct.pack("<6If", VERSION, INPUT, HOP, width, width, taps, scale)
    parts = [header]
    for name in ARRAY_NAMES:
        a = np.ascontiguousarray(arrays[name], dtype="<f4")
        if a.shape != shapes[name]:
            raise ValueError("%s has shape %s, expected %s" % (name, a.shape, shapes[name]))
        if not np.all(np.isfinite(a)):
            raise ValueError("%s holds a non-finite value" % name)
        parts.append(a.tobytes())
    data = b"".join(parts)
    assert len(data) == blob_bytes(width, taps)
    with open(path, "wb") as f:
        f.write(data)
    return len(data)


def read_blob(path):
    """Returns (arrays, width, taps, scale); raises ValueError on a malformed blob."""
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < 32 or data[:4] != MAGIC:
        raise ValueError("not a filter-head weight blob")
    version, window, hop, w1, w2, taps, scale = struct.unpack("<6If", data[4:32])
    if version != VERSION or window != INPUT or hop != HOP or w1 != w2:
        raise ValueError("unsupported blob header")
    arrays = {}
    offset = 32
    for name, shape in array_shapes(w1, taps).items():
        n = int(np.prod(shape))
        if offset + 4 * n > len(data):
            raise ValueError("blob ended before all coefficients were read")
        arrays[name] = np.frombuffer(data, dtype="<f4", count=n, offset=offset).reshape(shape).copy()
        offset += 4 * n
    return arrays, w1, taps, scale
