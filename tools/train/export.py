#!/usr/bin/python3
"""Exports the model of a training checkpoint as a weight blob (header scale 1.0): the raw weights,
or with --average the moving average that training validates and exports.

    /usr/bin/python3 tools/train/export.py --shape full --checkpoint RUN/checkpoint.pt --out big_base_s1.bin
"""
import argparse
import os
import sys

import torch

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from blob import SHAPES  # noqa: E402
from model import FilterHead  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--shape", choices=sorted(SHAPES), required=True)
    parser.add_argument("--checkpoint", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--average", action="store_true", help="the averaged weights (as training exports them)")
    args = parser.parse_args()
    model = FilterHead.for_shape(args.shape)
    state = torch.load(args.checkpoint)
    model.load_state_dict(state["average"] if args.average and "average" in state else state["model"])
    size = model.export(args.out)
    print("wrote %s (%d bytes)" % (args.out, size))


if __name__ == "__main__":
    main()
