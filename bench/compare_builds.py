#!/usr/bin/python3
"""A/B comparison of two velarune_bench builds on a shared machine.

The development machines share their cores with other jobs, so a single run can be 30 % slow. This
runs the two binaries alternately, ROUNDS times each, and reports for every benchmark both builds
run the best (least disturbed) and the median CPU time per iteration, the speed-up of the bests,
and the best real-time factor where the benchmark reports one.

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
            results[b["name"]] = (b["cpu_time"], b["time_unit"], b.get("RTF"))
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

    print("| Benchmark | old time best / median | new time best / median | speed-up (best) | RTF old / new (best) |")
    print("|---|---|---|---|---|")
    for name, new in samples["new"].items():
        old = samples["old"].get(name)
        if not old:
            continue
        unit = new[0][1]
        cells = [name]
        for values in (old, new):
            times = [v[0] for v in values]
            cells.append(f"{min(times):.4g} / {statistics.median(times):.4g} {unit}")
        cells.append(f"{min(v[0] for v in old) / min(v[0] for v in new):.3f}")
        rtf = [max((v[2] for v in values if v[2] is not None), default=None) for values in (old, new)]
        cells.append(" / ".join(f"{x:.1f}" for x in rtf) if None not in rtf else "")
        print("| " + " | ".join(cells) + " |")


if __name__ == "__main__":
    main()
