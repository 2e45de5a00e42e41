#!/usr/bin/python3
"""A/B comparison of two velarune_bench builds on a shared machine.

The development machines share their cores with other jobs, so a single run can be 30 % slow. This
runs the two binaries alternately, ROUNDS times each, and reports for every benchmark the best
(least disturbed) and the median real-time factor and ns per sample frame of each build, and the
ratio of the bests.

    bench/compare_builds.py OLD/velarune_bench NEW/velarune_bench [--filter REGEX] [--rounds N]
"""
import argparse
import json
import statistics
import subprocess
import sys


def run(binary, pattern):
    out = subprocess.run([binary, f"--benchmark_filter={pattern}", "--benchmark_format=json"],
                         check=True, capture_output=True, text=True).stdout
    results = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("run_type") == "iteration" and "error_occurred" not in b:
            results[b["name"]] = (b.get("RTF"), b.get("ns_per_frame"))
    return results


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("old")
    parser.add_argument("new")
    parser.add_argument("--filter", default="WholeChain")
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()

    samples = {"old": {}, "new": {}}
    for r in range(args.rounds):
        for label in ("old", "new"):
            for name, values in run(getattr(args, label), args.filter).items():
                samples[label].setdefault(name, []).append(values)
        print(f"round {r + 1}/{args.rounds} done", file=sys.stderr)

    print("| Benchmark | old RTF best / median | new RTF best / median | new / old (best) "
          "| old ns/frame best | new ns/frame best |")
    print("|---|---|---|---|---|---|")
    for name in samples["new"]:
        if name not in samples["old"]:
            continue
        row = [name]
        bests = []
        for label in ("old", "new"):
            rtf = [v[0] for v in samples[label][name] if v[0] is not None]
            bests.append(max(rtf) if rtf else float("nan"))
            row.append(f"{max(rtf):.1f} / {statistics.median(rtf):.1f}" if rtf else "-")
        row.append(f"{bests[1] / bests[0]:.3f}")
        for label in ("old", "new"):
            ns = [v[1] for v in samples[label][name] if v[1] is not None]
            row.append(f"{min(ns):.0f}" if ns else "-")
        print("| " + " | ".join(row) + " |")


if __name__ == "__main__":
    main()
