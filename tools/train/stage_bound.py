#!/usr/bin/python3
"""What the bleed stage itself allows: the runtime's spectral processor and phrase gate
(velarune-bleed-bound) fed with a given clean reference and voice decision instead of a model's,
scored with the evaluation's metrics (tools/train/evaluate). Rows:

- "no canceller": the clean reference is the mix itself and the voice flag is always on (about
  what the chain does without a model);
- "perfect canceller": the true vocal as the clean reference, the voice flag always on;
- "perfect canceller and detector": the true vocal, and the flag on exactly in the 20 ms frames
  where the vocal is active (the evaluation's own rule), the most any canceller and voice
  detector can give the stage with its floors, mask range and gate timing.

    /usr/bin/python3 tools/train/stage_bound.py --data /work/train-data3 --split valid
"""
import argparse
import importlib.machinery
import os
import subprocess
import sys
import types

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, HERE)
from runtime_constants import VOCAL_ACTIVE_RATIO  # noqa: E402


def load_evaluate():
    """The evaluation script (a file without a .py suffix) as a module, for its metrics."""
    module = types.ModuleType("evaluate")
    module.__file__ = os.path.join(HERE, "evaluate")
    importlib.machinery.SourceFileLoader("evaluate", module.__file__).exec_module(module)
    return module


def run_stage(tool, vocal, bleed, clean, flag):
    frames = np.stack([vocal, bleed, clean, flag], axis=1).astype("<f4")
    done = subprocess.run([tool], input=frames.tobytes(), stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=False)
    if done.returncode != 0:
        raise SystemExit("velarune-bleed-bound failed: " + done.stderr.decode(errors="replace"))
    out = np.frombuffer(done.stdout, dtype="<f4").reshape(-1, 2)
    return out[:, 0].astype(np.float64), out[:, 1].astype(np.float64)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--data", default="/work/train-data")
    parser.add_argument("--split", default="valid")
    parser.add_argument("--count", type=int, default=None, help="first N examples only")
    built = [os.path.join(REPO, "build", p, "tools", "velarune-bleed-bound") for p in ("core", "release")]
    parser.add_argument("--tool", default=next((p for p in built if os.path.exists(p)), built[0]))
    args = parser.parse_args()
    ev = load_evaluate()
    mix = np.load(os.path.join(args.data, args.split, "mix.npy"), mmap_mode="r")
    count = len(mix) if args.count is None else min(args.count, len(mix))
    rows = {"no canceller": [], "perfect canceller": [], "perfect canceller and detector": []}
    for i in range(count):
        x = np.asarray(mix[i, 0], np.float64)
        v = np.asarray(mix[i, 1], np.float64)
        b = x - v
        e = ev.energies(v)
        active = e > np.max(e) * VOCAL_ACTIVE_RATIO if np.max(e) > 0 else np.zeros(len(e), bool)
        flag = np.repeat(active.astype(np.float64), ev.FRAME)
        flag = np.pad(flag, (0, len(x) - len(flag)))
        for name, clean, f in (("no canceller", x, np.ones_like(x)), ("perfect canceller", v, np.ones_like(x)),
                               ("perfect canceller and detector", v, flag)):
            ov, ob = run_stage(args.tool, v, b, clean, f)
            rows[name].append(ev.metrics(x, v, b, ov + ob, ov, ob))
    print("Bleed stage alone (spectral processor and phrase gate at Bleed Reduction 100 %%), split %s, "
          "%d examples. Medians, dB.\n" % (args.split, count))
    print("| clean reference and voice flag | bleed in pauses | vocal-to-bleed change | vocal level in phrases |")
    print("|---|---|---|---|")
    for name, r in rows.items():
        s = ev.summarise(r)
        print("| %s | %+.2f | %+.2f | %+.2f |" % (name, s["pause_attenuation"]["median"], s["vbr_change"]["median"],
                                                s["vocal_level"]["median"]))


if __name__ == "__main__":
    main()
