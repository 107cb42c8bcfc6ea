#!/usr/bin/env python3
"""Times stratamix serve's renders as the page asks for them: an example
preset posted again and again to a server started on a free port, at each
size, 2x2 samples per pixel, one request after another on one reused
connection as the page sends them, as the page's floats (format=f32) and as
PNG. Reports the round trip the page waits for (request, render, encoding,
answer) and the render alone as the server reports it. A measurement, not a
test: nothing here fails on a slow machine. bench/serve_page_times.mjs
times the page itself in Chromium.

    bench/serve_times.py [--stratamix PATH] [--preset PATH] [--count N] [--sizes 256,512]
"""
import argparse
import http.client
import os
import statistics
import subprocess
import sys
import time
import urllib.parse

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def render(connection, preset, size, form):
    start = time.perf_counter()
    connection.request("POST", f"/api/render?size={size}&aa=2&shape=sphere&format={form}",
                       body=preset, headers={"Content-Type": "text/plain"})
    answer = connection.getresponse()
    answer.read()
    if answer.status != 200:
        sys.exit(f"serve_times.py: the render got {answer.status}")
    return time.perf_counter() - start, float(answer.headers["X-Render-Seconds"])


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
        address = urllib.parse.urlsplit(line[len(prefix):])
        connection = http.client.HTTPConnection(address.hostname, address.port)
        print(f"{os.path.basename(args.preset)}, 2x2 samples per pixel, {args.count} renders "
              f"per size and format, one at a time on one connection, {os.cpu_count()} cores")
        print(f"{'size':>5} {'format':>6}  {'round trip: median':>18} {'p90':>8} {'max':>8}   "
              f"{'render alone: median':>20}")
        for size in [int(s) for s in args.sizes.split(",")]:
            for form in ("f32", "png"):
                for _ in range(3):  # the first renders pay for page faults and thread starts
                    render(connection, preset, size, form)
                trips, renders = zip(*(render(connection, preset, size, form)
                                       for _ in range(args.count)))
                trips = sorted(t * 1000 for t in trips)
                print(f"{size:>5} {form:>6}  {statistics.median(trips):>15.1f} ms "
                      f"{trips[int(0.9 * (len(trips) - 1))]:>5.1f} ms {trips[-1]:>5.1f} ms   "
                      f"{statistics.median(renders) * 1000:>17.1f} ms")
        connection.close()
    finally:
        server.terminate()
        server.wait()


if __name__ == "__main__":
    main()
