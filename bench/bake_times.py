#!/usr/bin/env python3
"""Measures stratamix bake on the example mesh with a layered look, against
stratamix preview and the bare shader in the same run:

  - samples per second while shading, at each size, against the preview's
    samples per second for the same look and as many samples (a swatch of
    the bake's size, one sample a pixel); the whole bake's rate beside it,
    padding and files included;
  - the bake's speed-up from one thread to two against the bare shader's own
    (strata_bench's threads/ benchmark) in the same rounds: each round bakes
    on one thread and on two and runs the shader on one and on two, in turn,
    so that a busy spell of a shared machine falls on all four; the medians
    of the rounds make the figures (nine by default: one round on a shared
    machine varies by a tenth or more);
  - the bake's peak resident memory at each size with two maps.

The load average stands beside the figures: on a machine others share, a
speed-up is only worth what the cores left free allow.

A measurement, not a test: nothing here fails on a slow machine.

    bench/bake_times.py [--stratamix PATH] [--bench PATH] [--sizes 2048,4096]
                        [--rounds N] [--threads-only] [--json OUT]
"""
import argparse
import json
import os
import re
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TARGET_AGAINST_PREVIEW = 0.9
TARGET_AGAINST_SHADER_THREADS = 0.95
TARGET_PEAK_GIB = 1.0

BAKE_FIGURES = re.compile(r"([\d,]+) samples in ([\d.]+) s \(shading ([\d.]+) s\), "
                          r"([\d.]+) M samples/s shading on (\d+) threads?")
PREVIEW_FIGURES = re.compile(r"([\d,]+) samples in ([\d.]+) s, ([\d.]+) M samples/s on (\d+) thread")


def run_measured(command, out_path):
    """Runs a command to its end with its standard output in `out_path`: that
    output, and the command's peak resident memory in bytes (from wait4, the
    child's own)."""
    pid = os.fork()
    if pid == 0:
        try:
            out = os.open(out_path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
            devnull = os.open(os.devnull, os.O_WRONLY)
            os.dup2(out, 1)
            os.dup2(devnull, 2)
            os.execv(command[0], command)
        finally:
            os._exit(127)
    _, status, usage = os.wait4(pid, 0)
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        sys.exit(f"bake_times.py: {' '.join(command)} failed ({code})")
    with open(out_path) as f:
        return f.read(), usage.ru_maxrss * 1024


def figures(pattern, text, command):
    """The figures line a stratamix command printed, and its sample count."""
    found = pattern.search(text)
    if not found:
        sys.exit(f"bake_times.py: stratamix {command} said {text!r}")
    return found, int(found.group(1).replace(",", ""))


def bake(args, work, size, threads):
    out_dir = os.path.join(work, f"bake-{size}-{threads}")
    text, peak = run_measured([args.stratamix, "bake", args.preset, "--mesh", args.mesh,
                               "--size", str(size), "--aa", "1", "--maps", "color,normal",
                               "--threads", str(threads), "--out", out_dir],
                              os.path.join(work, "bake.txt"))
    found, samples = figures(BAKE_FIGURES, text, "bake")
    return {"size": size, "threads": threads, "samples": samples,
            "seconds": float(found.group(2)), "shading_seconds": float(found.group(3)),
            "shading_rate": samples / float(found.group(3)),
            "rate": samples / float(found.group(2)), "peak_bytes": peak}


def preview(args, work, size, threads):
    text, _ = run_measured([args.stratamix, "preview", args.preset, "--shape", "swatch",
                            "--cell", str(size), "--aa", "1", "--threads", str(threads),
                            "--out", os.path.join(work, f"preview-{size}")],
                           os.path.join(work, "preview.txt"))
    found, samples = figures(PREVIEW_FIGURES, text, "preview")
    return {"size": size, "threads": threads, "samples": samples,
            "rate": samples / float(found.group(2))}


def shader_threads(args, work):
    """The bare shader's items per second on one thread and on two."""
    out = os.path.join(work, "threads.json")
    subprocess.run([args.bench, "--benchmark_filter=^threads/", "--benchmark_min_time=0.5",
                    f"--benchmark_out={out}", "--benchmark_out_format=json"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(out) as f:
        rates = {b["threads"]: b["items_per_second"] for b in json.load(f)["benchmarks"]}
    return rates[1], rates[2]


def median(values):
    ordered = sorted(values)
    middle = len(ordered) // 2
    return ordered[middle] if len(ordered) % 2 else (ordered[middle - 1] + ordered[middle]) / 2


def thread_rounds(args, work, size):
    """The bake's shading rate and the bare shader's on one thread and two,
    round after round; the medians of each, and each round's own figures."""
    rounds = []
    for _ in range(args.rounds):
        one = bake(args, work, size, 1)["shading_rate"]
        two = bake(args, work, size, 2)["shading_rate"]
        shader_one, shader_two = shader_threads(args, work)
        rounds.append({"bake_one": one, "bake_two": two, "shader_one": shader_one,
                       "shader_two": shader_two, "bake_speedup": two / one,
                       "shader_speedup": shader_two / shader_one,
                       "load_avg": list(os.getloadavg())})
    figures = {key: median([r[key] for r in rounds])
               for key in ("bake_one", "bake_two", "shader_one", "shader_two")}
    figures["bake_speedup"] = figures["bake_two"] / figures["bake_one"]
    figures["shader_speedup"] = figures["shader_two"] / figures["shader_one"]
    figures["size"] = size
    figures["rounds"] = rounds
    return figures


def load_text(load):
    return ", ".join(f"{x:.2f}" for x in load)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--stratamix", default=os.path.join(ROOT, "build/native/bin/stratamix"))
    parser.add_argument("--bench", default=os.path.join(ROOT, "build/native/bin/strata_bench"))
    parser.add_argument("--preset",
                        default=os.path.join(ROOT, "preview/presets/layered-bumps.preset"))
    parser.add_argument("--mesh", default=os.path.join(ROOT, "bake/examples/vase.obj"))
    parser.add_argument("--sizes", default="2048,4096")
    parser.add_argument("--rounds", type=int, default=9,
                        help="rounds of the one-thread and two-thread runs (default 9: one round "
                             "on a shared machine varies by a tenth or more)")
    parser.add_argument("--threads-only", action="store_true",
                        help="only the speed-up from one thread to two, on the first size")
    parser.add_argument("--json", help="also write the figures here, for bench/report.py")
    args = parser.parse_args()
    sizes = [int(s) for s in args.sizes.split(",")]
    cores = os.cpu_count() or 1

    with tempfile.TemporaryDirectory(prefix="bake_times.") as work:
        started = time.time()
        load_before = list(os.getloadavg())
        rows = []
        if not args.threads_only:
            for size in sizes:
                rows.append({"bake": bake(args, work, size, cores),
                             "preview": preview(args, work, size, cores)})
        threads = thread_rounds(args, work, sizes[0])
        load_after = list(os.getloadavg())
        minutes = (time.time() - started) / 60

    figures = {
        "cores": cores,
        "look": os.path.basename(args.preset),
        "mesh": os.path.basename(args.mesh),
        "load_avg": {"before": load_before, "after": load_after},
        "sizes": rows,
        "threads": threads,
        "targets": {"against_preview": TARGET_AGAINST_PREVIEW,
                    "against_shader_threads": TARGET_AGAINST_SHADER_THREADS,
                    "peak_gib": TARGET_PEAK_GIB},
    }

    print(f"{figures['look']} on {figures['mesh']}, one sample a texel, maps color and normal, "
          f"{cores} cores, {minutes:.1f} minutes, load average {load_text(load_before)} before "
          f"and {load_text(load_after)} after")
    if rows:
        print(f"{'size':>5} {'bake shading':>14} {'whole bake':>12} {'preview':>10} "
              f"{'shading/preview':>16} {'peak memory':>12}")
    for row in rows:
        b, p = row["bake"], row["preview"]
        print(f"{b['size']:>5} {b['shading_rate'] / 1e6:>10.2f} M/s {b['rate'] / 1e6:>8.2f} M/s "
              f"{p['rate'] / 1e6:>6.2f} M/s {b['shading_rate'] / p['rate']:>16.2f} "
              f"{b['peak_bytes'] / 2**30:>8.2f} GiB")
    for i, r in enumerate(threads["rounds"]):
        print(f"round {i + 1}: the bake x{r['bake_speedup']:.2f}, the bare shader "
              f"x{r['shader_speedup']:.2f}, ratio {r['bake_speedup'] / r['shader_speedup']:.2f} "
              f"(load average {load_text(r['load_avg'])})")
    bake_speedup, shader_speedup = threads["bake_speedup"], threads["shader_speedup"]
    print(f"one thread to two at {sizes[0]}, medians of {args.rounds} rounds: the bake "
          f"x{bake_speedup:.2f}, the bare shader x{shader_speedup:.2f}, ratio "
          f"{bake_speedup / shader_speedup:.2f} (target {TARGET_AGAINST_SHADER_THREADS})")
    if args.json:
        with open(args.json, "w") as f:
            json.dump(figures, f, indent=1)


if __name__ == "__main__":
    main()
