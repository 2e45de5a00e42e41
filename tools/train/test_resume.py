#!/usr/bin/python3
"""Checks that training follows the step count: a run stopped early and resumed (inside a batch,
right after a scheduled validation, at the end of a batch) exports the same blobs, byte for byte, as a run
that went straight through, and a finished run started again changes nothing.

Runs the ECO shape for a few steps on a small generated data set (noise and tones, not the
training data), in a temporary directory; about half a minute on one core.

    /usr/bin/python3 tools/train/test_resume.py
"""
import filecmp
import json
import os
import subprocess
import sys
import tempfile

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from blob import SHAPES  # noqa: E402
from runtime_constants import NETWORK_HOP, SAMPLE_RATE_HZ  # noqa: E402

SHAPE = "eco"
CHUNK_HOPS = 48  # 1536 samples per step (the chain term needs more than one 1024-point frame)
CHUNKS_PER_EXAMPLE = 5
STEPS = 12  # two full batches and part of a third
VALIDATE_EVERY = 4


def make_split(path, count, seed):
    """Examples [count, 2, n]: a tone-and-noise 'vocal' with pauses plus a band of other tones."""
    rng = np.random.default_rng(seed)
    n = CHUNK_HOPS * NETWORK_HOP * CHUNKS_PER_EXAMPLE
    t = np.arange(n) / float(SAMPLE_RATE_HZ)
    mix = np.zeros((count, 2, n), np.float32)
    for i in range(count):
        gate = (np.sin(2 * np.pi * rng.uniform(3.0, 8.0) * t) > -0.3).astype(np.float64)
        vocal = gate * (0.2 * np.sin(2 * np.pi * rng.uniform(150.0, 400.0) * t) + 0.02 * rng.standard_normal(n))
        bleed = 0.1 * np.sin(2 * np.pi * rng.uniform(500.0, 3000.0) * t) + 0.01 * rng.standard_normal(n)
        mix[i, 0], mix[i, 1] = vocal + bleed, vocal
    os.makedirs(path, exist_ok=True)
    np.save(os.path.join(path, "mix.npy"), mix)


def train(data, recipe, run, *extra):
    cmd = [sys.executable, os.path.join(HERE, "train.py"), "--shape", SHAPE, "--data", data, "--recipe", recipe,
           "--run-dir", run, "--valid-count", "2", *extra]
    done = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if done.returncode != 0:
        print(done.stdout)
        raise SystemExit("train.py failed: %s" % " ".join(cmd))
    return done.stdout


def blobs(run):
    names = [SHAPES[SHAPE][2], "last_" + SHAPES[SHAPE][2]]
    return [os.path.join(run, n) for n in names]


def main():
    with tempfile.TemporaryDirectory(prefix="velarune-train-") as work:
        data = os.path.join(work, "data")
        make_split(os.path.join(data, "train"), 6, 1)
        make_split(os.path.join(data, "valid"), 2, 2)
        with open(os.path.join(HERE, "recipe.json")) as f:
            recipe = json.load(f)
        cfg = recipe["train"][SHAPE]
        cfg.update({"batch": 2, "chunk_hops": CHUNK_HOPS, "steps": STEPS, "validate_every": VALIDATE_EVERY,
                    "average_steps": 4, "pause_weight": 1.0})
        recipe_path = os.path.join(work, "recipe.json")
        with open(recipe_path, "w") as f:
            json.dump(recipe, f)

        straight = os.path.join(work, "straight")
        train(data, recipe_path, straight)
        failures = []
        # Batches are steps 1-5, 6-10 and 11-12: step 7 is inside a batch, step 4 a scheduled
        # validation inside a batch, step 10 the end of a batch.
        for stops in ([7], [4, 10]):
            run = os.path.join(work, "stopped-at-" + "-".join(map(str, stops)))
            for s in stops:
                out = train(data, recipe_path, run, "--stop-at-step", str(s))
                if "stopped early at step %d" % s not in out:
                    failures.append("run did not stop at step %d:\n%s" % (s, out))
            if os.path.exists(blobs(run)[1]):
                failures.append("an early stop exported the last model")
            train(data, recipe_path, run)
            for a, b in zip(blobs(straight), blobs(run)):
                if not filecmp.cmp(a, b, shallow=False):
                    failures.append("%s differs after stopping at %s" % (os.path.basename(b), stops))
            print("stopped at %s and resumed: %s" % (stops, "same blobs" if not failures else "DIFFERENT"))
        before = [open(p, "rb").read() for p in blobs(straight)]
        out = train(data, recipe_path, straight)
        if [open(p, "rb").read() for p in blobs(straight)] != before or "finished: %d steps" % STEPS not in out:
            failures.append("starting a finished run again changed it:\n" + out)
    for f in failures:
        print("FAILED:", f)
    if failures:
        return 1
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
