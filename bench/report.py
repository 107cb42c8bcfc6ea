#!/usr/bin/python3
"""Turns the benchmark JSON and the callgrind counts that bench/report.sh
collected into docs/performance.md and the data file of its plot.

    report.py BUILD_REPORT_DIR DOCS_DIR
"""
import glob
import json
import os
import statistics
import subprocess
import sys

MODELS = [("native", "wide"), ("native-single", "single")]
FULL = "full/layers-8-blend-correct"
TARGET_OVERHEAD = 1.03  # full unconnected call against its floor
TARGET_ABOVE_FLOOR = 0.5  # ns, any unconnected path against its floor
TARGET_OPT = 1.05  # the presets' -O2 against -O3, within the machine's noise
TARGET_THREADS = 1.8
# stratamix serve under bench/serve_abuse.py, on the machine's cores.
TARGET_FIELDS_P50_MS = 2.0
TARGET_DELAY_MS = 100.0
TARGET_EXIT_S = 2.0
# Beyond one worker per core: the server's own three (run(), the library's,
# the signal watch) and the four that log4cplus starts when it is loaded
# (OpenImageIO links OpenVDB, which links it), idle from start to end.
TARGET_EXTRA_THREADS = 7
SERVE_BEFORE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "serve_abuse.httplib.json")


def median_times(paths):
    """{benchmark name: (median CPU time in ns, median items per second)} over
    the rounds' files. CPU time, so that other work on the machine counts
    less; the thread benchmark's items per second are taken over real time."""
    samples = {}
    context = None
    for path in sorted(paths):
        with open(path) as f:
            data = json.load(f)
        if context is None:
            context = dict(data["context"])
        for b in data["benchmarks"]:
            scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}[b["time_unit"]]
            samples.setdefault(b["run_name"], []).append(
                (b["cpu_time"] * scale, b.get("items_per_second", 0.0)))
    times = {name: (statistics.median(t for t, _ in runs), statistics.median(i for _, i in runs))
             for name, runs in samples.items()}
    context["repetitions"] = len(paths)
    return times, context


def instructions(path):
    counts = {}
    with open(path) as f:
        for line in f:
            name, subject, count = line.split("\t")
            counts[(name, subject)] = int(count)
    return counts


def machine(report_dir, context):
    fields = {}
    with open(os.path.join(report_dir, "lscpu.txt")) as f:
        for line in f:
            key, _, value = line.partition(":")
            fields[key.strip()] = value.strip()
    return (f"{fields.get('Model name', '?')}, {fields.get('CPU(s)', '?')} CPUs "
            f"({fields.get('Core(s) per socket', '?')} cores per socket, "
            f"{fields.get('Thread(s) per core', '?')} thread per core), "
            f"{fields.get('Hypervisor vendor', 'no')} hypervisor; "
            f"load average {', '.join(f'{x:.2f}' for x in context.get('load_avg', []))} "
            f"when the wide run started")


def exit_of(name):
    if name.startswith("gate/"):
        return {"photon-normal": 1, "photon-colour": 2, "reflection-normal": 3,
                "refraction-colour": 4}[name.split("/")[1]]
    if name == "normal/as-colour":
        return 6
    if name.startswith("normal/"):
        return 5
    if name == "colour/mode-out-of-range":
        return 7
    return 8


def path_names(counts):
    """The paths in the order strata_instructions lists them."""
    names = []
    for name, _ in counts:
        if name not in names:
            names.append(name)
    return names


def serve_section(out, report_dir):
    """The serve abuse figures, the cpp-httplib server's beside this one's."""
    path = os.path.join(report_dir, "serve_abuse.json")
    if not os.path.exists(path):
        return
    with open(path) as f:
        now = json.load(f)
    with open(SERVE_BEFORE) as f:
        before = json.load(f)

    def reused(r, key):
        x = r[key]
        return f"{x['p50_ms']:.2f} / {x['p99_ms']:.2f} ms, {x['per_second']:.0f}/s"

    def worst_probe(r, key):
        probes = r[key]["probe_ms"]
        if any(p is None for p in probes):
            return "no answer within 10 s"
        return f"{max(probes):.1f} ms (worst of {len(probes)})"

    def burst(r):
        return ", ".join(f"{n} {code}" for code, n in r["burst"].items())

    def headers(r):
        x = r["many_headers"]
        return (f"{x['status']} after {x['headers_sent']} headers, "
                f"{max(0, x['rss_kept_kib']) / 1024:.0f} MiB kept")

    def exit_time(r, key):
        x = r[key]
        seconds = "not gone within 10 s" if x["exit_s"] is None else f"{x['exit_s']:.2f} s"
        if "answers" in x:
            seconds += " (renders: " + ", ".join(x["answers"]) + ")"
        return seconds

    cores = now["cores"]

    def prompt(key):
        return all(p is not None and p < TARGET_DELAY_MS for p in now[key]["probe_ms"])

    def gone(key):
        return now[key]["exit_s"] is not None and now[key]["exit_s"] < TARGET_EXIT_S
    rows = [
        ("`/api/fields`, one kept-alive connection: p50 / p99, rate",
         reused(before, "fields_reused"), reused(now, "fields_reused"),
         f"p50 under {TARGET_FIELDS_P50_MS:g} ms",
         now["fields_reused"]["p50_ms"] < TARGET_FIELDS_P50_MS),
        ("`/api/fields`, a connection each: p50 / p99, rate",
         reused(before, "fields_each"), reused(now, "fields_each"), "", None),
        ("a 64-pixel render, one kept-alive connection: p50 / p99, rate",
         reused(before, "render64_reused"), reused(now, "render64_reused"), "", None),
        ("a normal request while 200 connections hold half a request",
         worst_probe(before, "half_requests"), worst_probe(now, "half_requests"),
         f"under {TARGET_DELAY_MS:g} ms", prompt("half_requests")),
        ("a normal request while 200 connections trickle header lines",
         worst_probe(before, "trickle"), worst_probe(now, "trickle"),
         f"under {TARGET_DELAY_MS:g} ms", prompt("trickle")),
        ("a burst of 80 renders, each written in two parts", burst(before), burst(now),
         "no reset", "reset" not in now["burst"] and "no answer" not in now["burst"]),
        ("a head of 12,000 headers of 8 KB", headers(before), headers(now), "", None),
        ("`Range` of 2,700 whole-file ranges on `/app.js`",
         f"{before['many_ranges']['status']}, {before['many_ranges']['bytes']:,} bytes",
         f"{now['many_ranges']['status']}, {now['many_ranges']['bytes']:,} bytes", "", None),
        ("two pipelined GETs: answers", str(before["pipelined"]["answers"]),
         str(now["pipelined"]["answers"]), "", None),
        ("a POST without a length",
         f"{before['post_without_length']['status']} after "
         f"{before['post_without_length']['ms']:.0f} ms",
         f"{now['post_without_length']['status']} after "
         f"{now['post_without_length']['ms']:.1f} ms", "", None),
        ("SIGTERM with 4 renders of 1024 pixels in flight", exit_time(before, "sigterm_renders"),
         exit_time(now, "sigterm_renders"), f"exit within {TARGET_EXIT_S:g} s",
         gone("sigterm_renders")),
        ("SIGTERM with 200 connections trickling", exit_time(before, "sigterm_trickle"),
         exit_time(now, "sigterm_trickle"), f"exit within {TARGET_EXIT_S:g} s",
         gone("sigterm_trickle")),
        ("threads once serving, at the peak",
         f"{before.get('start_threads', '?')}, {before['peak_threads']}",
         f"{now['start_threads']}, {now['peak_threads']}",
         f"at most {cores} + {TARGET_EXTRA_THREADS} (cores, 3 of the server's own, "
         "log4cplus's 4)", now["peak_threads"] <= cores + TARGET_EXTRA_THREADS),
        ("resident memory at the peak", f"{before['peak_rss_mib']:.0f} MiB",
         f"{now['peak_rss_mib']:.0f} MiB", "", None),
    ]
    out("## stratamix serve under abuse")
    out("")
    out("`bench/serve_abuse.py` starts the built `stratamix serve` and tries it as a hostile "
        "client would, on loopback, every loop bounded in count and time. The first column "
        f"is the cpp-httplib 0.11 server it replaced ({before['label']}), measured on this "
        "machine with the same script and kept in `bench/serve_abuse.httplib.json`; the "
        "second is this tree's libmicrohttpd server. The last column says whether this run "
        "met the row's target.")
    out("")
    out("| | cpp-httplib | libmicrohttpd | target | met |")
    out("|---|---|---|---|---|")
    for label, old, new, target, met in rows:
        verdict = "" if met is None else ("yes" if met else "**no**")
        out(f"| {label} | {old} | {new} | {target} | {verdict} |")
    out("")


def bake_section(out, report_dir):
    """The bake's figures from bench/bake_times.py."""
    path = os.path.join(report_dir, "bake_times.json")
    if not os.path.exists(path):
        return
    with open(path) as f:
        bake = json.load(f)
    targets = bake["targets"]

    def met(ok):
        return "yes" if ok else "**no**"
    out("## stratamix bake")
    out("")
    out(f"`bench/bake_times.py` bakes `{bake['mesh']}` with `{bake['look']}`, one sample a "
        f"texel, maps color and normal, on {bake['cores']} cores, and renders the same look "
        "with `stratamix preview` on a swatch of the bake's size (as many samples, one a "
        "pixel). The shading's samples per second (rasterising and the shader's calls) "
        "are set against the preview's; the whole bake's rate, padding and files included, "
        "stands beside them. Load average "
        f"{', '.join(f'{x:.2f}' for x in bake['load_avg']['before'])} before, "
        f"{', '.join(f'{x:.2f}' for x in bake['load_avg']['after'])} after.")
    out("")
    out("| size | bake, shading | whole bake | preview | shading / preview | target | met "
        "| peak memory | target | met |")
    out("|---|---|---|---|---|---|---|---|---|---|")
    for row in bake["sizes"]:
        b, p = row["bake"], row["preview"]
        ratio = b["shading_rate"] / p["rate"]
        peak = b["peak_bytes"] / 2**30
        out(f"| {b['size']} | {b['shading_rate'] / 1e6:.2f} M/s | {b['rate'] / 1e6:.2f} M/s "
            f"| {p['rate'] / 1e6:.2f} M/s | {ratio:.2f} | at least "
            f"{targets['against_preview']:g} | {met(ratio >= targets['against_preview'])} "
            f"| {peak:.2f} GiB | under {targets['peak_gib']:g} GiB "
            f"| {met(peak < targets['peak_gib'])} |")
    t = bake["threads"]
    ratio = t["bake_speedup"] / t["shader_speedup"]
    out("")
    out(f"From one thread to two at {t['size']}: the bake's shading x{t['bake_speedup']:.2f} "
        f"({t['bake_one'] / 1e6:.2f} to {t['bake_two'] / 1e6:.2f} M samples/s), the bare "
        f"shader's (`threads/`) x{t['shader_speedup']:.2f}, the medians of "
        f"{len(t['rounds'])} rounds that each run all four in turn; ratio {ratio:.2f}, target at least "
        f"{targets['against_shader_threads']:g}: {met(ratio >= targets['against_shader_threads'])}.")
    out("")


def main():
    report_dir, docs_dir = sys.argv[1], sys.argv[2]
    results = {}
    reference = {}
    for preset, model in MODELS:
        times, context = median_times(glob.glob(os.path.join(report_dir, preset + ".O2.*.json")))
        reference[model], _ = median_times(
            glob.glob(os.path.join(report_dir, preset + ".O3.*.json")))
        counts = instructions(os.path.join(report_dir, preset + ".instructions.tsv"))
        results[model] = (times, counts, context)

    wide_times, wide_counts, wide_context = results["wide"]
    names = path_names(wide_counts)
    commit = subprocess.run(["git", "rev-parse", "--short", "HEAD"], capture_output=True,
                            text=True).stdout.strip()

    lines = []
    out = lines.append
    out("# Performance")
    out("")
    out("What one call of `strataMix` costs on each path, through the stand-in host as a "
        "renderer calls it, in both float models. Generated by `bench/report.sh` "
        f"(commit {commit}); do not edit by hand.")
    out("")
    out(f"Machine: {machine(report_dir, wide_context)}. Times are medians of "
        f"{wide_context['repetitions']} rounds, each running every benchmark in random "
        "interleaved order (so that a slow spell of the machine spreads over all "
        "benchmarks), in ns of CPU time per "
        "call (the thread comparison in real time). Each round runs the presets' build "
        "(`-O2`) and the same tree built with `-O3`, alternating which goes first. Times on "
        "a shared virtual machine move from run to run; the instruction counts are "
        "callgrind's, per call, and do not.")
    out("")
    out("## Summary")
    out("")
    out("| | wide | single | target |")
    out("|---|---|---|---|")

    def ratio_row(label, fn, target):
        values = [fn(*results[m]) for _, m in MODELS]
        out(f"| {label} | " + " | ".join(f"{v:.2f}" for v in values) + f" | {target} |")

    ratio_row(f"full call unconnected / arithmetic floor (time)",
              lambda t, c, x: t[f"shader/{FULL}/unconnected"][0] / t[f"floor/{FULL}"][0],
              f"at most {TARGET_OVERHEAD}")
    ratio_row("most any unconnected path takes above its floor (ns)",
              lambda t, c, x: max(t[f"shader/{n}/unconnected"][0] - t[f"floor/{n}"][0]
                                  for n in names),
              f"at most {TARGET_ABOVE_FLOOR}")
    values = []
    for _, m in MODELS:
        t, ref = results[m][0], reference[m]
        values.append(max(t[k][0] / ref[k][0] for k in t if k in ref and "threads/" not in k))
    out("| slowest benchmark, presets' `-O2` / `-O3` (time) | " +
        " | ".join(f"{v:.2f}" for v in values) + f" | at most {TARGET_OPT} |")
    ratio_row(f"full call unconnected / arithmetic floor (instructions)",
              lambda t, c, x: c[(FULL, "shader")] / c[(FULL, "floor")],
              f"at most {TARGET_OVERHEAD}")
    ratio_row("full call all connected / unconnected (time)",
              lambda t, c, x: t[f"shader/{FULL}/connected"][0] / t[f"shader/{FULL}/unconnected"][0],
              "")
    threads = f"threads/{FULL}/real_time/threads:"
    ratio_row("throughput, two threads / one",
              lambda t, c, x: t[threads + "2"][1] / t[threads + "1"][1],
              f"at least {TARGET_THREADS}")
    out("")
    out("The floor runs the shader's own flow, linked into the benchmark rather than "
        "loaded, reading the record in place; the benchmark checks that it yields the "
        "shader's bits. An unconnected call (connection offset 0) reads the record in place "
        "too, so it costs the floor plus the call into the plug-in. The full call has eight contributing layers, blend mode 17 (soft "
        "light) with layer alpha and an amount of 0.5, and every correction sub-step. The "
        "connected runs evaluate every parameter through `mi_phen_eval`, which the host "
        "answers with the parameter's own value: the cost of the round trip alone, without a "
        "connected shader's own work.")
    out("")
    out("![ns per call per path, both models](performance.svg)")
    out("")
    for _, model in MODELS:
        times, counts, _ = results[model]
        out(f"## Per path, {model} model")
        out("")
        ref = reference[model]
        out("| path | exit | ns | ns `-O3` | `-O2` / `-O3` | ns connected | ns floor | "
            "ns / floor | instructions | connected | floor | instructions / floor |")
        out("|---|---|---|---|---|---|---|---|---|---|---|---|")
        for name in names:
            ns = times[f"shader/{name}/unconnected"][0]
            ns_connected = times[f"shader/{name}/connected"][0]
            ns_floor = times[f"floor/{name}"][0]
            ir = counts[(name, "shader")]
            ir_connected = counts[(name, "connected")]
            ir_floor = counts[(name, "floor")]
            ns_o3 = ref[f"shader/{name}/unconnected"][0]
            out(f"| {name} | {exit_of(name)} | {ns:.1f} | {ns_o3:.1f} | {ns / ns_o3:.2f} | "
                f"{ns_connected:.1f} | {ns_floor:.1f} | "
                f"{ns / ns_floor:.2f} | {ir} | {ir_connected} | {ir_floor} | "
                f"{ir / ir_floor:.2f} |")
        out("")
        t1 = times[threads + "1"][1]
        t2 = times[threads + "2"][1]
        out(f"Threads, full call over one shared record: {t1 / 1e6:.2f} M calls/s on one "
            f"thread, {t2 / 1e6:.2f} M calls/s on two ({t2 / t1:.2f} times).")
        out("")
    serve_section(out, report_dir)
    bake_section(out, report_dir)
    out("## Reproducing")
    out("")
    out("```sh")
    out("bench/report.sh                      # both models: build, benchmarks, callgrind, this page")
    out("build/native/bin/strata_bench --benchmark_filter='full'    # one family by hand")
    out("bench/serve_abuse.py                 # stratamix serve under abuse, by itself")
    out("valgrind --tool=callgrind --toggle-collect='*measured_calls*' \\")
    out("    build/native/bin/strata_instructions full/layers-8-blend-correct shader 1000")
    out("```")
    out("")
    out("`strata_instructions list` names the paths; callgrind's `Collected` total divided by "
        "the number of calls is the count per call.")
    with open(os.path.join(docs_dir, "performance.md"), "w") as f:
        f.write("\n".join(lines) + "\n")

    with open(os.path.join(report_dir, "plot.dat"), "w") as f:
        f.write("# path wide single wide-floor single-floor\n")
        for name in names:
            row = [results[m][0][f"shader/{name}/unconnected"][0] for _, m in MODELS]
            row += [results[m][0][f"floor/{name}"][0] for _, m in MODELS]
            f.write(f"\"{name}\" " + " ".join(f"{v:.2f}" for v in row) + "\n")


if __name__ == "__main__":
    main()
