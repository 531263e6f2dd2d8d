#!/usr/bin/env python3
"""Measures libquendra through its C interface against simdjson and Python.

Every figure is a ratio taken in this run: peak resident size of a fresh
process over the input's size (input buffer included), and time over a peer
measured on the same bytes (simdjson's DOM parse plus a walk of the whole
tree, or Python's json.loads + json.dumps). Each measurement runs --runs times
in fresh processes and the minimum is kept, for times and peaks alike, since
other work on the machine only ever adds to either. Large documents are timed
on the first call of a fresh process; small ones on warm calls, as the best
mean per call of batches of about a millisecond (Python's likewise).

    bench/compare.py [--build DIR] [--lib PATH]... [--runs N] [--clock wall|cpu]
                     [--warm SECONDS] [--skip-large] [-v]

With several --lib options every library is measured and a last table gives
each one's times and peaks over the first one's.
"""

import argparse
import json
import os
import platform
import subprocess
import sys
import time
import timeit

MB = 1000 * 1000
COMPACT = {"max_chars": 10000, "indent": 0}

# The documents of the main table: (label, file name, large).
MAIN = [
    ("web-API 20 MB", "api-20mb.json", False),
    ("web-API 100 MB", "api-100mb.json", True),
    ("config 20 MB", "config-20mb.json", False),
    ("config 100 MB", "config-100mb.json", True),
    ("GeoJSON-like 20 MB", "geo-20mb.json", False),
    ("1M integers", "ints-1m.json", False),
    ("1M keys", "keys-1m.json", False),
    ("2,000 chains x 500 deep", "deep-2000x500.json", False),
    ("10,000 records x 200 fields", "records-10000x200.json", False),
]

# Small answers and the budget each is pruned to (about half its size).
ANSWERS = [("2 kB", "answer-2k.json", 1000), ("20 kB", "answer-20k.json", 10000),
           ("200 kB", "answer-200k.json", 100000)]


def options(**extra):
    return json.dumps({**COMPACT, **extra}, separators=(",", ":"))


class Bench:
    def __init__(self, args):
        self.args = args
        self.tools = os.path.join(args.build, "bench")
        self.data = args.data or os.path.join(args.build, "data")
        default = os.path.join(args.build, "libquendra.so")
        self.libs = [os.path.abspath(p) for p in args.lib or [default]]
        self.cache = {}

    def path(self, name):
        return os.path.join(self.data, name)

    def run(self, cmd):
        """Runs one driver process and returns its JSON line."""
        if self.args.verbose:
            print("  $ " + " ".join(_quote(c) for c in cmd), file=sys.stderr)
        done = subprocess.run(cmd, capture_output=True, text=True, check=True)
        return json.loads(done.stdout.strip().splitlines()[-1])

    def best(self, cmds, expect_ok=True):
        """The field-wise minimum over --runs fresh processes of each command
        (memoised). Several commands run in turn, round after round, so that a
        change in the machine's load falls on all of them alike."""
        todo = [c for c in cmds if tuple(c) not in self.cache]
        results = {tuple(c): [] for c in todo}
        for _ in range(self.args.runs):
            for c in todo:
                results[tuple(c)].append(self.run(c))
        for c in todo:
            runs = results[tuple(c)]
            if expect_ok and not all(r.get("ok", True) for r in runs):
                print(f"warning: no ok envelope from {' '.join(c)}", file=sys.stderr)
            merged = dict(runs[0])
            for field in merged:
                if field.endswith("_s") or field.endswith("_kb"):
                    merged[field] = min(r[field] for r in runs)
            # The figures the tables use, on the chosen clock: the first call,
            # and the best ~1 ms batch of warm calls (per call).
            cpu = "_cpu" if self.args.clock == "cpu" else ""
            merged["first"] = merged[f"first{cpu}_s"]
            merged["warm"] = merged[f"warm_min{cpu}_s"]
            self.cache[tuple(c)] = merged
        return self.cache[tuple(cmds[0])]

    def quendra(self, lib, name, opts, warm=0.0, expect_ok=True):
        """Measures `lib`, and every other library given, on the same request."""
        tail = [self.path(name), opts] + (["--warm", str(warm)] if warm else [])
        shrink_once = os.path.join(self.tools, "shrink_once")
        others = [other for other in self.libs if other != lib]
        return self.best([[shrink_once, l] + tail for l in [lib] + others], expect_ok)

    def simdjson(self, name, warm=0.0):
        cmd = [os.path.join(self.tools, "simdjson_once"), self.path(name)]
        if warm:
            cmd += ["--warm", str(warm)]
        return self.best([cmd])

    def python(self, name):
        """Seconds per json.dumps(json.loads(text)) of the file: the best of
        batches of about a millisecond for --warm seconds, as the drivers do."""
        key = ("python", name)
        if key not in self.cache:
            with open(self.path(name), encoding="utf-8") as f:
                text = f.read()
            clock = time.process_time if self.args.clock == "cpu" else time.perf_counter
            timer = timeit.Timer(lambda: json.dumps(json.loads(text)), timer=clock)
            number, seconds = timer.autorange()
            per_call = seconds / number
            batch = max(1, round(1e-3 / per_call))
            repeat = max(3, round(self.args.warm * self.args.runs / (batch * per_call)))
            self.cache[key] = min(timer.repeat(repeat, batch)) / batch
        return self.cache[key]


def _quote(s):
    return s if s and all(c.isalnum() or c in "/._-=" for c in s) else "'" + s + "'"


def table(title, header, rows):
    print(f"\n### {title}\n")
    print("| " + " | ".join(header) + " |")
    print("|" + "|".join("---" for _ in header) + "|")
    for row in rows:
        print("| " + " | ".join(row) + " |")


def x(v):
    return f"{v:.2f}x"


def us(seconds):
    return f"{seconds * 1e6:,.1f}"


def report(bench, lib, skip_large):
    """Prints every table for one library; returns {row: (seconds, peak_kb)}."""
    figures = {}
    q = lambda *a, **k: bench.quendra(lib, *a, **k)  # noqa: E731

    rows, base = [], None
    for label, name, large in MAIN:
        if large and skip_large:
            continue
        r, s = q(name, options()), bench.simdjson(name)
        base = base or (r["base_kb"], s["base_kb"])
        size = r["input"]
        figures[label] = (r["first"], r["peak_kb"])
        rows.append([label, f"{size / MB:.1f}", x(r["peak_kb"] * 1024 / size),
                     x(s["peak_kb"] * 1024 / size), x(r["peak_kb"] / s["peak_kb"]),
                     f"{r['first']:.3f}", f"{s['first']:.3f}", x(r["first"] / s["first"])])
    table("Fresh process, one call: max_chars 10000, indent 0, sample strategy",
          ["document", "input MB", "quendra peak / input", "simdjson peak / input",
           "quendra / simdjson peak", "quendra s", "simdjson s", "quendra / simdjson time"],
          rows)
    print(f"\nPeak before the input was read (counted above): quendra {base[0] / 1024:.1f} MB, "
          f"simdjson {base[1] / 1024:.1f} MB. Times exclude reading the file.")

    rows = []
    for label, small, big in [("integers", "ints-100k.json", "ints-1m.json"),
                              ("keys", "keys-100k.json", "keys-1m.json")]:
        for strategy in ("sample", "condense"):
            o = options(array_strategy=strategy)
            a, b = q(small, o), q(big, o)
            figures[f"1M {label}, {strategy}"] = (b["first"], b["peak_kb"])
            rows.append([f"{label}, {strategy}", f"{a['first']:.4f}", f"{b['first']:.4f}",
                         x(b["first"] / a["first"]), x(b["first"] / a["first"] / 10)])
    table("Linearity, fresh process: 1M elements against 100k",
          ["elements", "100k s", "1M s", "1M / 100k time", "per element, 1M / 100k"], rows)

    # The library's own reading cost, seen through the C interface: the same
    # document followed by a stray byte fails only after the whole tree is read.
    name = "answer-200k.json"
    broken = name.replace(".json", ".trailing.json")
    if not os.path.exists(bench.path(broken)):
        with open(bench.path(name), "rb") as f, open(bench.path(broken), "wb") as g:
            g.write(f.read() + b" x")
    w = bench.args.warm
    fits = q(name, options(max_chars=10 ** 9), warm=w)
    pruned = q(name, options(), warm=w)
    read = q(broken, options(input_format="json"), warm=w, expect_ok=False)
    sj = bench.simdjson(name, warm=w)
    figures["200 kB fits"] = (fits["warm"], fits["peak_kb"])
    table("A document that already fits: the 200 kB answer, warm calls, µs per call",
          ["fits (max_chars 1e9)", "pruned (max_chars 10000)", "read only (stray byte)",
           "simdjson parse+walk", "fits / read only", "fits / simdjson", "fits / pruned"],
          [[us(fits["warm"]), us(pruned["warm"]), us(read["warm"]), us(sj["warm"]),
            x(fits["warm"] / read["warm"]), x(fits["warm"] / sj["warm"]),
            x(fits["warm"] / pruned["warm"])]])

    rows = []
    for label, name, budget in ANSWERS:
        py = bench.python(name)
        sa = q(name, options(max_chars=budget), warm=w)["warm"]
        co = q(name, options(max_chars=budget, array_strategy="condense"), warm=w)["warm"]
        figures[f"{label} answer, sample"] = (sa, 0)
        figures[f"{label} answer, condense"] = (co, 0)
        rows.append([f"{label} to {budget:,}", us(sa), us(co), us(py), f"{1 / sa:,.0f}",
                     f"{1 / py:,.0f}", x(sa / py), x(co / py), x(co / sa)])
    py = bench.python("tiny.json")
    tiny = q("tiny.json", "{}", warm=w)["warm"]
    figures["tiny request"] = (tiny, 0)
    rows.append(['{"a":1}, options {}', us(tiny), "", us(py), f"{1 / tiny:,.0f}",
                 f"{1 / py:,.0f}", x(tiny / py), "", ""])
    table("Small answers, warm calls (indent 0); Python is json.dumps(json.loads(text))",
          ["answer, max_chars", "sample µs", "condense µs", "Python µs", "sample calls/s",
           "Python calls/s", "sample / Python", "condense / Python", "condense / sample"],
          rows)

    first = q("api-20mb.json", options(), warm=3 * w)
    table("First call in a fresh process against warm calls (web-API 20 MB, sample)",
          ["first s", "warm min s", "first / warm"],
          [[f"{first['first']:.3f}", f"{first['warm']:.3f}", x(first["first"] / first["warm"])]])
    return figures


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default="build-bench",
                        help="build directory holding bench/ tools (default build-bench)")
    parser.add_argument("--lib", action="append",
                        help="library to measure, repeatable (default BUILD/libquendra.so)")
    parser.add_argument("--data", help="document cache (default BUILD/data)")
    parser.add_argument("--runs", type=int, default=3, help="fresh processes per figure")
    parser.add_argument("--warm", type=float, default=0.5,
                        help="seconds of repeated calls for the small-document figures")
    parser.add_argument("--clock", choices=("wall", "cpu"), default="wall",
                        help="wall time (default) or the process's CPU time, steadier on a "
                             "busy machine")
    parser.add_argument("--skip-large", action="store_true", help="leave out the 100 MB rows")
    parser.add_argument("-v", "--verbose", action="store_true", help="print each command")
    args = parser.parse_args()
    bench = Bench(args)
    libs = bench.libs
    subprocess.run([os.path.join(bench.tools, "gen_docs"), bench.data], check=True,
                   stdout=subprocess.DEVNULL)
    print(f"# quendra benchmarks: {platform.node()}, {os.cpu_count()} cores, "
          f"load {os.getloadavg()[0]:.2f}; {args.clock} clock, minimum of {args.runs} "
          f"runs per figure")
    all_figures = []
    for lib in libs:
        version = bench.quendra(lib, "tiny.json", "{}")["version"]
        print(f"\n## {lib} (version {version}); "
              f"{bench.simdjson('tiny.json')['version']}; Python {platform.python_version()}")
        all_figures.append(report(bench, lib, args.skip_large))
    if len(libs) > 1:
        base = all_figures[0]
        header = ["row"] + [f"lib {i + 1} / lib 1 {what}" for i in range(1, len(libs))
                            for what in ("time", "peak")]
        rows = []
        for row, (t0, p0) in base.items():
            cells = [row]
            for figures in all_figures[1:]:
                t, p = figures[row]
                cells += [x(t / t0), x(p / p0) if p0 else ""]
            rows.append(cells)
        table("Libraries side by side", header, rows)
    print(f"\nload at the end {os.getloadavg()[0]:.2f}")


if __name__ == "__main__":
    main()
