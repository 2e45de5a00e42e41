#!/usr/bin/python3
"""Checks velarune-bleed-bound on white-noise bleed with no vocal at 48 kHz:

- clean reference = the mix, voice flag on: the stage stays transparent (within 1 dB over the
  last second), as the chain without a model is in a steady band;
- clean reference silent (a perfect canceller in a pause), voice flag off: after the 0.25 s hold
  and about ten 0.5 s release time constants the bleed sits at the gate depth plus the deep floor
  (-12 - 45 = -57 dB at 1 kHz and above, within 3 dB);
- a truncated last frame is dropped rather than read past, and bad arguments exit with 2.

    /usr/bin/python3 tools/bleed-bound/check.py build/release/tools/velarune-bleed-bound
"""
import subprocess
import sys

import numpy as np

RATE = 48000


def run(tool, vocal, bleed, clean, flag, extra=b""):
    frames = np.stack([vocal, bleed, clean, flag], axis=1).astype("<f4").tobytes() + extra
    done = subprocess.run([tool], input=frames, stdout=subprocess.PIPE, check=True)
    return np.frombuffer(done.stdout, dtype="<f4").reshape(-1, 2)


def level_db(x):
    return 10.0 * np.log10(np.mean(np.asarray(x, np.float64) ** 2) + 1e-30)


def main():
    tool = sys.argv[1]
    failures = []
    n = 8 * RATE
    bleed = 0.1 * np.random.default_rng(5).standard_normal(n)
    zero, one = np.zeros(n), np.ones(n)
    tail = slice(n - RATE, n)

    out = run(tool, zero, bleed, bleed, one)
    change = level_db(out[tail, 1]) - level_db(bleed[tail])
    if abs(change) > 1.0 or np.any(out[:, 0] != 0.0):
        failures.append("transparent case: bleed changed by %+.2f dB, vocal lane peak %g"
                        % (change, np.max(np.abs(out[:, 0]))))

    out = run(tool, zero, bleed, zero, zero, extra=b"\0" * 7)
    if len(out) != n:
        failures.append("a truncated frame gave %d output frames for %d" % (len(out), n))
    spectrum = np.abs(np.fft.rfft(out[tail, 1])) ** 2
    reference = np.abs(np.fft.rfft(bleed[tail])) ** 2
    hz = np.fft.rfftfreq(RATE, 1.0 / RATE)
    band = hz >= 1000.0
    floor = 10.0 * np.log10(np.sum(spectrum[band]) / np.sum(reference[band]))
    if abs(floor + 57.0) > 3.0:
        failures.append("closed gate over a perfect canceller: %+.2f dB above 1 kHz, want -57" % floor)

    for args in (["--amount", "2"], ["--rate", "nope"], ["--bogus"]):
        if subprocess.run([tool] + args, input=b"", stderr=subprocess.DEVNULL).returncode != 2:
            failures.append("%s did not exit with 2" % " ".join(args))

    for f in failures:
        print("FAILED:", f)
    print("ok" if not failures else "%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
