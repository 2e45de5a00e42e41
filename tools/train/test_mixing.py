#!/usr/bin/python3
"""Checks the second-round data and loss pieces against values worked out by hand:

- the proximity shelf: 0 dB at 30 cm, +6 dB at 15 cm, +12 dB at 7.5 cm and no more closer, all
  in the bass (within 0.3 dB at 30 Hz) and nothing above 2 kHz;
- the off-axis colour never lifts any frequency (a directional microphone only loses off axis);
- sung tracks: phrases never overlap and breaths separate them (silent gaps of 0.15 to 0.9 s);
- the pause mask and term: the 20 ms frames below -40 dB of the loudest vocal frame, an output at
  -6.02 dB in the pauses costing 1.398 (units of 10 dB above the -20 dB floor) and one below the
  floor costing nothing, and a chunk without a pause costing nothing.

    /usr/bin/python3 tools/train/test_mixing.py
"""
import os
import sys

import numpy as np
import torch
from scipy import signal

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import make_data  # noqa: E402
from audio import RATE  # noqa: E402
from train import pause_term, vocal_pauses  # noqa: E402


def response_db(sos, hz):
    _, h = signal.sosfreqz(sos, worN=np.asarray(hz, dtype=float), fs=RATE)
    return 20.0 * np.log10(np.abs(h))


def check(failures, ok, text):
    if not ok:
        failures.append(text)


def main():
    failures = []
    for distance, lift in ((0.3, 0.0), (0.15, 6.0), (0.075, 12.0), (0.02, 12.0)):
        low, high = response_db(make_data.proximity_shelf(distance), [30.0, 2000.0])
        check(failures, abs(low - lift) < 0.3 and abs(high) < 0.3,
              "proximity at %.3f m: %+.2f dB at 30 Hz, %+.2f dB at 2 kHz (want %+.1f, 0)" % (distance, low, high, lift))

    hz = np.geomspace(20.0, 20000.0, 400)
    worst = max(np.max(response_db(make_data.off_axis_colour(np.random.default_rng(k)), hz)) for k in range(50))
    check(failures, worst < 0.01, "off-axis colour lifts a frequency by %+.3f dB" % worst)

    phrase = np.ones(RATE // 2, dtype=np.float32)
    y = make_data.sung_track(np.random.default_rng(3), [phrase], 10 * RATE)
    check(failures, np.max(y) <= 1.0, "sung phrases overlap (peak %.2f)" % np.max(y))
    edges = np.flatnonzero(np.diff((y > 0).astype(int)))
    gaps = (edges[2::2] - edges[1:-1:2]) / RATE  # silent stretches between two phrases
    check(failures, len(gaps) >= 5 and np.all((gaps >= 0.149) & (gaps <= 0.901)),
          "breaths between phrases: %s s" % np.round(gaps, 3))

    frame = 960
    vocal = torch.zeros(2, 10 * frame)
    vocal[0, : 5 * frame] = 1.0
    vocal[0, 5 * frame : 6 * frame] = 0.011  # -39.2 dB: still a phrase
    vocal[0, 6 * frame : 7 * frame] = 0.009  # -40.9 dB: a pause
    vocal[1] = 1.0
    pauses = vocal_pauses(vocal)
    want = [0, 0, 0, 0, 0, 0, 1, 1, 1, 1]
    check(failures, pauses[0, ::frame].tolist() == want and float(pauses[1].sum()) == 0.0,
          "pause frames %s, want %s" % (pauses[0, ::frame].tolist(), want))
    x = torch.randn(2, 10 * frame, generator=torch.Generator().manual_seed(1))
    half = float(pause_term(x, 0.5 * x, pauses))
    deep = float(pause_term(x, 0.01 * x, pauses))
    none = float(pause_term(x, x, torch.zeros_like(pauses)))
    check(failures, abs(half - 1.398) < 0.002 and deep == 0.0 and none == 0.0,
          "pause term: %.4f at -6.02 dB (want 1.398), %.4f below the floor, %.4f without a pause" % (half, deep, none))

    for f in failures:
        print("FAILED:", f)
    if failures:
        return 1
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
