#!/usr/bin/env python3
"""Tries stratamix serve as a hostile client would, on loopback: starts the
built tool on a free port and reports what each kind of abuse costs the
other clients. A measurement, not a test: nothing here fails on a slow
machine, every loop is bounded in count and in time, and the script stops
the servers it started.

    bench/serve_abuse.py [--stratamix PATH] [--json PATH] [--label TEXT]

Reports: /api/fields and a 64-pixel render on a reused connection (p50,
p99, requests/s) and /api/fields on a connection each; a normal request's
round trip while 200 connections hold half a request and while 200 trickle
header lines; the answer codes of a burst of 80 concurrent renders whose
requests are written in two parts; what the server answers to a head of
12,000 headers, to a Range of 2,700 whole-file ranges, to two pipelined GETs and to a
POST without a length; the time from SIGTERM to exit with renders in flight
and with trickling clients; the server's threads and resident memory at
their peaks.
"""
import argparse
import json
import os
import selectors
import signal
import socket
import statistics
import subprocess
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PRESET = b"baseColor = checker(6)\nblendEnable = on\nblendMode = 15\nlayerColor = noise(9)\n"
HOLDERS = 200
BURST = 80
PROBE_TIMEOUT = 10.0  # s: a normal request not answered by then counts as starved
EXIT_TIMEOUT = 10.0  # s: a server not gone by then is killed


class Server:
    """stratamix serve on a free port, with a sampler of its threads and
    memory; killed on leaving if it is still there."""

    def __init__(self, stratamix):
        self.process = subprocess.Popen([stratamix, "serve", "--port", "0"],
                                        stdout=subprocess.PIPE, text=True)
        line = self.process.stdout.readline().strip()
        prefix = "stratamix serve: http://127.0.0.1:"
        if not line.startswith(prefix):
            self.process.kill()
            sys.exit(f"serve_abuse.py: stratamix serve said {line!r}")
        self.port = int(line[len(prefix):].rstrip("/"))
        self.peak_threads = 0
        self.start_threads = None
        self.peak_rss_kib = 0
        self._stop = threading.Event()
        self._sampler = threading.Thread(target=self._sample, daemon=True)
        self._sampler.start()

    def _sample(self):
        path = f"/proc/{self.process.pid}/status"
        while not self._stop.wait(0.02):
            try:
                with open(path) as f:
                    for line in f:
                        key, _, value = line.partition(":")
                        if key == "Threads":
                            self.peak_threads = max(self.peak_threads, int(value))
                            if self.start_threads is None:
                                self.start_threads = int(value)
                        elif key == "VmHWM":
                            self.peak_rss_kib = max(self.peak_rss_kib, int(value.split()[0]))
            except (OSError, ValueError):
                return

    def rss_kib(self):
        with open(f"/proc/{self.process.pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        return 0

    def terminate_and_time(self):
        """Seconds from SIGTERM to exit, or None when it had to be killed."""
        start = time.perf_counter()
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(EXIT_TIMEOUT)
            return time.perf_counter() - start
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            return None

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self._stop.set()
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        self.process.stdout.close()


def connect(port, timeout=5.0):
    s = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return s


def request_bytes(method, path, body=b"", close=False, extra=""):
    head = f"{method} {path} HTTP/1.1\r\nHost: 127.0.0.1\r\n{extra}"
    if method == "POST":
        head += f"Content-Type: text/plain\r\nContent-Length: {len(body)}\r\n"
    if close:
        head += "Connection: close\r\n"
    return head.encode() + b"\r\n" + body


class Reader:
    """Answers read off one connection, in order, each by its Content-Length."""

    def __init__(self, sock):
        self.sock = sock
        self.buffer = bytearray()

    def _fill(self, deadline):
        left = deadline - time.perf_counter()
        if left <= 0:
            raise TimeoutError
        self.sock.settimeout(left)
        data = self.sock.recv(65536)
        if not data:
            raise EOFError
        self.buffer += data

    def answer(self, timeout):
        """(status, headers, body); raises TimeoutError, EOFError or OSError."""
        deadline = time.perf_counter() + timeout
        while b"\r\n\r\n" not in self.buffer:
            self._fill(deadline)
        end = self.buffer.index(b"\r\n\r\n")
        head = bytes(self.buffer[:end])
        del self.buffer[:end + 4]
        lines = head.decode("latin-1").split("\r\n")
        status = int(lines[0].split()[1])
        headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(":")
            headers[name.strip().lower()] = value.strip()
        if "content-length" in headers:
            length = int(headers["content-length"])
            while len(self.buffer) < length:
                self._fill(deadline)
            body = bytes(self.buffer[:length])
            del self.buffer[:length]
        else:  # to the end of the connection
            try:
                while True:
                    self._fill(deadline)
            except EOFError:
                pass
            body = bytes(self.buffer)
            self.buffer.clear()
        return status, headers, body


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * (len(ordered) - 1) + 0.5))]


def reused_connection(port, method, path, body, count, limit):
    """p50 and p99 in ms and requests/s of `count` requests sent one after
    another on a kept-alive connection, stopping at `limit` seconds. Where
    the server closes the connection, the next request opens another
    (counted as "reconnects")."""
    data = request_bytes(method, path, body)
    conn = [None, None]
    reconnects = [0]

    def exchange():
        for attempt in range(2):
            if conn[0] is None:
                conn[0] = connect(port)
                conn[1] = Reader(conn[0])
                reconnects[0] += 1
            try:
                conn[0].sendall(data)
                status, headers, _ = conn[1].answer(PROBE_TIMEOUT)
            except (EOFError, ConnectionResetError, BrokenPipeError):
                conn[0].close()
                conn[0] = None
                if attempt == 1:
                    raise
                continue
            if headers.get("connection", "").lower() == "close":
                conn[0].close()
                conn[0] = None
            return status
        return 0

    for _ in range(3):
        exchange()
    reconnects[0] = 0
    times = []
    start = time.perf_counter()
    while len(times) < count and time.perf_counter() - start < limit:
        t = time.perf_counter()
        status = exchange()
        times.append(time.perf_counter() - t)
        if status != 200:
            break
    elapsed = time.perf_counter() - start
    if conn[0] is not None:
        conn[0].close()
    return {"p50_ms": 1000 * percentile(times, 0.5), "p99_ms": 1000 * percentile(times, 0.99),
            "per_second": len(times) / elapsed, "count": len(times),
            "reconnects": reconnects[0]}


def connection_each(port, count, limit):
    times = []
    start = time.perf_counter()
    while len(times) < count and time.perf_counter() - start < limit:
        t = time.perf_counter()
        with connect(port) as s:
            s.sendall(request_bytes("GET", "/api/fields", close=True))
            Reader(s).answer(PROBE_TIMEOUT)
        times.append(time.perf_counter() - t)
    elapsed = time.perf_counter() - start
    return {"p50_ms": 1000 * percentile(times, 0.5), "p99_ms": 1000 * percentile(times, 0.99),
            "per_second": len(times) / elapsed, "count": len(times)}


def probe(port):
    """The round trip of GET /api/fields on a new connection, in ms; None
    when not answered within PROBE_TIMEOUT."""
    t = time.perf_counter()
    try:
        with connect(port, PROBE_TIMEOUT) as s:
            s.sendall(request_bytes("GET", "/api/fields", close=True))
            status, _, _ = Reader(s).answer(PROBE_TIMEOUT)
            if status != 200:
                return None
    except (OSError, EOFError, TimeoutError):
        return None
    return 1000 * (time.perf_counter() - t)


def open_holders(port, count, first_part):
    holders = []
    for _ in range(count):
        try:
            s = connect(port)
            s.sendall(first_part)
            holders.append(s)
        except OSError:
            break
    return holders


def still_open(holders):
    """How many of the connections the server has not closed."""
    sel = selectors.DefaultSelector()
    for s in holders:
        sel.register(s, selectors.EVENT_READ)
    closed = len(sel.select(0))
    sel.close()
    return len(holders) - closed


def half_requests(port):
    holders = open_holders(port, HOLDERS,
                           b"POST /api/render HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Le")
    time.sleep(0.2)
    rounds = [probe(port) for _ in range(3)]
    result = {"held": len(holders), "probe_ms": rounds, "open_after": still_open(holders)}
    for s in holders:
        s.close()
    return result


def trickle(port, period=1.0, window=6.0):
    """200 connections that each send one header line every `period`
    seconds; normal requests sent meanwhile."""
    holders = open_holders(port, HOLDERS, b"GET /api/fields HTTP/1.1\r\nHost: 127.0.0.1\r\n")
    stop = threading.Event()
    closed_by_server = [0]

    def drip():
        n = 0
        live = list(holders)
        while not stop.wait(period) and live:
            n += 1
            kept = []
            for s in live:
                try:
                    s.send(f"X-Trickle-{n}: {n}\r\n".encode())
                    kept.append(s)
                except OSError:
                    closed_by_server[0] += 1
            live = kept

    dripper = threading.Thread(target=drip)
    dripper.start()
    probes = []
    start = time.perf_counter()
    while time.perf_counter() - start < window and len(probes) < 5:
        time.sleep(period)
        probes.append(probe(port))
        if probes[-1] is None:
            break
    stop.set()
    dripper.join()
    result = {"held": len(holders), "probe_ms": probes, "open_after": still_open(holders)}
    for s in holders:
        s.close()
    return result


def burst(port, path):
    """BURST renders at once, each written in two parts: the head on every
    connection, then the bodies. Counts the answer codes; a reset is a
    connection refused or closed without an answer."""
    body = PRESET
    head = request_bytes("POST", path, body)[:-len(body)]
    codes = {}

    def count(key):
        codes[key] = codes.get(key, 0) + 1

    lock = threading.Lock()
    ready = threading.Barrier(BURST, timeout=30)

    def one():
        try:
            s = connect(port, 30)
        except OSError:
            with lock:
                count("reset")
            ready.wait()
            return
        try:
            s.sendall(head)
            ready.wait()
            s.sendall(body)
            status, _, _ = Reader(s).answer(60)
            with lock:
                count(str(status))
        except (ConnectionResetError, BrokenPipeError, EOFError):
            with lock:
                count("reset")
        except (OSError, TimeoutError, threading.BrokenBarrierError):
            with lock:
                count("no answer")
        finally:
            s.close()

    threads = [threading.Thread(target=one) for _ in range(BURST)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return dict(sorted(codes.items()))


def many_headers(server):
    """A GET whose head goes on to 12,000 headers of 8 KB: what comes back,
    how much was sent before the server stopped reading, and what resident
    memory it kept."""
    before = server.rss_kib()
    s = connect(server.port)
    reader = Reader(s)
    sent = 0
    line = b"X-Filler: " + b"a" * (8192 - 12) + b"\r\n"
    start = time.perf_counter()
    try:
        s.sendall(b"GET /api/fields HTTP/1.1\r\nHost: 127.0.0.1\r\n")
        for _ in range(12000):
            if time.perf_counter() - start > 20:
                break
            s.settimeout(5)
            s.sendall(line)
            sent += 1
        s.sendall(b"\r\n")
        status = reader.answer(PROBE_TIMEOUT)[0]
    except (OSError, EOFError, TimeoutError):
        try:
            status = reader.answer(1)[0]
        except (OSError, EOFError, TimeoutError):
            status = "closed"
    s.close()
    time.sleep(0.5)
    return {"status": status, "headers_sent": sent,
            "rss_kept_kib": server.rss_kib() - before}


def many_ranges(port):
    # Each "0-" asks for the whole file again: 8 KB of head.
    ranges = ",".join(["0-"] * 2700)
    with connect(port) as s:
        s.sendall(request_bytes("GET", "/app.js", close=True, extra=f"Range: bytes={ranges}\r\n"))
        try:
            status, _, body = Reader(s).answer(PROBE_TIMEOUT)
        except (OSError, EOFError, TimeoutError):
            return {"status": "closed", "bytes": 0}
    return {"status": status, "bytes": len(body)}


def pipelined(port):
    with connect(port) as s:
        s.sendall(request_bytes("GET", "/api/fields") + request_bytes("GET", "/style.css"))
        reader = Reader(s)
        answers = []
        for _ in range(2):
            try:
                answers.append(reader.answer(2)[0])
            except (OSError, EOFError, TimeoutError):
                break
    return {"answers": answers}


def post_without_length(port):
    t = time.perf_counter()
    with connect(port) as s:
        s.sendall(b"POST /api/parse HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
        try:
            status = Reader(s).answer(PROBE_TIMEOUT)[0]
        except (OSError, EOFError, TimeoutError):
            status = "no answer"
    return {"status": status, "ms": 1000 * (time.perf_counter() - t)}


def sigterm_with_renders(stratamix):
    """SIGTERM while 4 renders of 1024 pixels at 2x2 are in flight: the
    time to exit and their answers."""
    with Server(stratamix) as server:
        answers = []
        lock = threading.Lock()

        def render():
            try:
                with connect(server.port, 30) as s:
                    s.sendall(request_bytes("POST", "/api/render?size=1024&aa=2", PRESET))
                    status = Reader(s).answer(30)[0]
            except (OSError, EOFError, TimeoutError):
                status = "no answer"
            with lock:
                answers.append(str(status))

        threads = [threading.Thread(target=render) for _ in range(4)]
        for t in threads:
            t.start()
        time.sleep(0.3)
        seconds = server.terminate_and_time()
        for t in threads:
            t.join()
        return {"exit_s": seconds, "answers": sorted(answers)}


def sigterm_with_trickle(stratamix):
    with Server(stratamix) as server:
        holders = open_holders(server.port, HOLDERS,
                               b"GET /api/fields HTTP/1.1\r\nHost: 127.0.0.1\r\n")
        stop = threading.Event()

        def drip():
            n = 0
            while not stop.wait(0.5):
                n += 1
                for s in holders:
                    try:
                        s.send(f"X-Trickle-{n}: {n}\r\n".encode())
                    except OSError:
                        pass

        dripper = threading.Thread(target=drip)
        dripper.start()
        time.sleep(1.2)
        seconds = server.terminate_and_time()
        stop.set()
        dripper.join()
        for s in holders:
            s.close()
        return {"held": len(holders), "exit_s": seconds}


def fmt_probe(values):
    return ", ".join("none" if v is None else f"{v:.1f}" for v in values)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--stratamix", default=os.path.join(ROOT, "build/native/bin/stratamix"))
    parser.add_argument("--json", help="where to write the figures as JSON")
    parser.add_argument("--label", default="", help="what was measured, for the JSON")
    args = parser.parse_args()

    results = {"label": args.label, "cores": os.cpu_count()}
    with Server(args.stratamix) as server:
        port = server.port
        results["fields_reused"] = reused_connection(port, "GET", "/api/fields", b"", 400, 15)
        results["fields_each"] = connection_each(port, 400, 10)
        results["render64_reused"] = reused_connection(port, "POST", "/api/render?size=64", PRESET,
                                                       200, 15)
        results["unloaded_probe_ms"] = probe(port)
        results["half_requests"] = half_requests(port)
        results["trickle"] = trickle(port)
        results["burst"] = burst(port, "/api/render?size=512&aa=2")
        results["many_headers"] = many_headers(server)
        results["many_ranges"] = many_ranges(port)
        results["pipelined"] = pipelined(port)
        results["post_without_length"] = post_without_length(port)
        results["after_all_probe_ms"] = probe(port)
        results["start_threads"] = server.start_threads
        results["peak_threads"] = server.peak_threads
        results["peak_rss_mib"] = server.peak_rss_kib / 1024
    results["sigterm_renders"] = sigterm_with_renders(args.stratamix)
    results["sigterm_trickle"] = sigterm_with_trickle(args.stratamix)

    r = results
    print(f"stratamix serve under abuse, loopback, {r['cores']} cores {args.label}")
    for key, what in [("fields_reused", "/api/fields, one reused connection"),
                      ("fields_each", "/api/fields, a connection each"),
                      ("render64_reused", "64-pixel render, one reused connection")]:
        x = r[key]
        print(f"  {what}: p50 {x['p50_ms']:.2f} ms, p99 {x['p99_ms']:.2f} ms, "
              f"{x['per_second']:.0f}/s ({x['count']} requests"
              f"{', %d reconnects' % x['reconnects'] if x.get('reconnects') else ''})")
    print(f"  a normal request alone: {fmt_probe([r['unloaded_probe_ms']])} ms")
    for key, what in [("half_requests", "half requests"), ("trickle", "trickling heads")]:
        x = r[key]
        print(f"  a normal request while {x['held']} connections hold {what}: "
              f"{fmt_probe(x['probe_ms'])} ms ({x['open_after']} still open after)")
    print(f"  a burst of {BURST} renders in two parts: {r['burst']}")
    print(f"  12,000 headers of 8 KB: {r['many_headers']}")
    print(f"  Range of 2,700 ranges on /app.js: {r['many_ranges']}")
    print(f"  two pipelined GETs: {r['pipelined']}")
    print(f"  POST without a length: {r['post_without_length']}")
    print(f"  a normal request after all that: {fmt_probe([r['after_all_probe_ms']])} ms")
    print(f"  SIGTERM with 4 renders in flight: {r['sigterm_renders']}")
    print(f"  SIGTERM with {r['sigterm_trickle']['held']} trickling: {r['sigterm_trickle']}")
    print(f"  threads: {r['start_threads']} once serving, {r['peak_threads']} at the peak; "
          f"{r['peak_rss_mib']:.1f} MiB resident at the peak")
    if args.json:
        with open(args.json, "w") as f:
            json.dump(results, f, indent=1)
            f.write("\n")


if __name__ == "__main__":
    main()
