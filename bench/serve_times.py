#!/usr/bin/env python3
"""Times stratamix serve's renders as the page asks for them: an example
preset posted again and again to a server started on a free port, at each
size, 2x2 samples per pixel, one request after another as the page sends
them. Reports the round trip the page waits for (request, render, PNG,
answer) and the render alone as the server reports it. A measurement, not a
test: nothing here fails on a slow machine.

    bench/serve_times.py [--stratamix PATH] [--preset PATH] [--count N] [--sizes 256,512]
"""
import argparse
import os
import statistics
import subprocess
import sys
import time
import urllib.request

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def render(url, preset, size):
    request = urllib.request.Request(f"{url}api/render?size={size}&aa=2&shape=sphere",
                                     data=preset, method="POST",
                                     headers={"Content-Type": "text/plain"})
    start = time.perf_counter()
    with urllib.request.urlopen(request) as answer:
        answer.read()
        seconds = float(answer.headers["X-Render-Seconds"])
    return time.perf_counter() - start, seconds


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--stratamix", default=os.path.join(ROOT, "build/native/bin/stratamix"))
    parser.add_argument("--preset",
                        default=os.path.join(ROOT, "preview/presets/overlay-checker.preset"))
    parser.add_argument("--count", type=int, default=40)
    parser.add_argument("--sizes", default="256,512")
    args = parser.parse_args()
    with open(args.preset, "rb") as f:
        preset = f.read()

    server = subprocess.Popen([args.stratamix, "serve", "--port", "0"], stdout=subprocess.PIPE,
                              text=True)
    try:
        line = server.stdout.readline().strip()
        prefix = "stratamix serve: "
        if not line.startswith(prefix):
            sys.exit(f"serve_times.py: stratamix serve said {line!r}")
        url = line[len(prefix):]
        print(f"{os.path.basename(args.preset)}, 2x2 samples per pixel, {args.count} renders "
              f"per size, one at a time, {os.cpu_count()} cores")
        print(f"{'size':>5}  {'round trip: median':>18} {'p90':>8} {'max':>8}   "
              f"{'render alone: median':>20}")
        for size in [int(s) for s in args.sizes.split(",")]:
            for _ in range(3):  # the first renders pay for page faults and thread starts
                render(url, preset, size)
            trips, renders = zip(*(render(url, preset, size) for _ in range(args.count)))
            trips = sorted(t * 1000 for t in trips)
            print(f"{size:>5}  {statistics.median(trips):>15.1f} ms "
                  f"{trips[int(0.9 * (len(trips) - 1))]:>5.1f} ms {trips[-1]:>5.1f} ms   "
                  f"{statistics.median(renders) * 1000:>17.1f} ms")
    finally:
        server.terminate()
        server.wait()


if __name__ == "__main__":
    main()
