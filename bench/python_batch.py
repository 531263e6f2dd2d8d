#!/usr/bin/env python3
"""Many small documents from Python: shrink_many against a loop of shrink()
and against the command's batch mode, over the same documents.

Generates N web-API-like JSON documents of about 1 kB (one repository record
each, in the style of bench/gen.h), then times, in rounds that take turns so
that a busy machine slows all of them alike:

  loop          [quendra.shrink(d, **options).text for d in docs]
  loop-before   the same with the binding of --before REV (git), if given
  many-1        quendra.shrink_many(docs, workers=1, **options), then each .text
  many          the same on one thread per CPU
  cli           quendra --ndjson, one process, the documents as NDJSON on stdin
  cli-parallel  GNU parallel --pipe -k over one quendra --ndjson per CPU

and prints documents per second and microseconds per document (wall clock,
best round), CPU microseconds per document (all threads and child processes,
best round) and how many times faster `many` is than each mode. The Python
modes read each result's text; the commands write envelopes. Every mode's
envelopes are checked to be the same.

Usage: bench/python_batch.py [--build DIR] [--docs N] [--rounds R] [--before REV]
"""

import argparse
import importlib.machinery
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import types
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
WORDS = ["release", "build", "fix", "network", "cache", "latency", "user", "query", "index",
         "shard", "replica", "token", "session", "render", "layout", "stream", "buffer",
         "parser", "schema", "vector", "matrix", "sample", "budget", "report", "field"]
OPTIONS = {"max_chars": 400, "indent": 0}


class Rng:
    def __init__(self, seed):
        self.s = seed

    def below(self, n):
        s = self.s
        s ^= (s << 13) & 0xFFFFFFFFFFFFFFFF
        s ^= s >> 7
        s ^= (s << 17) & 0xFFFFFFFFFFFFFFFF
        self.s = s
        return s % n


def record(rng, i):
    def words(n):
        return " ".join(WORDS[rng.below(len(WORDS))] for _ in range(n))
    return {
        "id": i, "node_id": f"MDQ6VXNlcj{i}", "name": words(2), "full_name": f"org/repo-{i}",
        "private": rng.below(2) == 1,
        "owner": {"login": f"user{rng.below(5000)}", "id": rng.below(1000000),
                  "avatar_url": f"https://avatars.example.com/u/{i}?v=4",
                  "url": f"https://api.example.com/users/u{i}", "type": "User",
                  "site_admin": False},
        "html_url": f"https://example.com/org/repo-{i}", "description": words(10 + rng.below(60)),
        "fork": False, "url": f"https://api.example.com/repos/org/repo-{i}",
        "created_at": f"2024-0{1 + rng.below(9)}-1{rng.below(10)}T12:34:56Z",
        "stargazers_count": rng.below(100000), "score": rng.below(100000) / 100,
        "topics": [WORDS[rng.below(len(WORDS))] for _ in range(rng.below(5))],
        "license": {"key": "mit", "name": "MIT License"} if rng.below(3) else None,
    }


def documents(n):
    rng = Rng(0x9E3779B97F4A7C15)
    return [json.dumps(record(rng, i), separators=(",", ":")) for i in range(1, n + 1)]


def load_binding(name, directory):
    """Imports the binding in `directory` under `name`, beside any other copy."""
    path = str(Path(directory) / "quendra" / "__init__.py")
    module = types.ModuleType(name)
    module.__file__ = path
    sys.modules[name] = module
    importlib.machinery.SourceFileLoader(name, path).exec_module(module)
    return module


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=str(ROOT / "build"))
    parser.add_argument("--docs", type=int, default=100_000)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--before", help="git revision whose binding runs as loop-before")
    args = parser.parse_args()

    build = Path(args.build).resolve()
    os.environ["QUENDRA_LIBRARY"] = str(build / "libquendra.so")
    quendra = load_binding("quendra", ROOT / "python")
    cli = str(build / "quendra")
    docs = documents(args.docs)
    stream = ("\n".join(docs) + "\n").encode()
    cpus = os.cpu_count() or 1

    def envelopes(results):
        """The envelopes, for comparing the modes, after reading each text:
        every Python mode ends with the shrunk texts in hand."""
        out = []
        for result in results:
            assert isinstance(result.text, str)
            out.append(result.envelope)
        return out

    modes = {
        "loop": lambda: envelopes(quendra.shrink(d, **OPTIONS) for d in docs),
        "many-1": lambda: envelopes(quendra.shrink_many(docs, workers=1, **OPTIONS)),
        "many": lambda: envelopes(quendra.shrink_many(docs, **OPTIONS)),
    }
    tmp = tempfile.mkdtemp(prefix="quendra-bench-")
    if args.before:
        old = Path(tmp) / "before"
        (old / "quendra").mkdir(parents=True)
        source = subprocess.run(["git", "-C", str(ROOT), "show",
                                 f"{args.before}:python/quendra/__init__.py"],
                                check=True, capture_output=True).stdout
        (old / "quendra" / "__init__.py").write_bytes(source)
        before = load_binding("quendra_before", old)
        modes["loop-before"] = lambda: envelopes(before.shrink(d, **OPTIONS) for d in docs)
    flags = ["--ndjson"] + [f"--{k.replace('_', '-')}={v}" for k, v in OPTIONS.items()]

    def run_cli(command):
        done = subprocess.run(command, input=stream, capture_output=True, check=True)
        return done.stdout.decode().splitlines()

    modes["cli"] = lambda: run_cli([cli, *flags])
    if shutil.which("parallel"):
        modes["cli-parallel"] = lambda: run_cli(
            ["parallel", "--will-cite", "--pipe", "-k", "--block", "1M", "-j", str(cpus), cli,
             *flags])

    def cpu_time():
        t = os.times()
        return t.user + t.system + t.children_user + t.children_system

    best, best_cpu = {}, {}
    want = None
    for _ in range(args.rounds):
        for name, run in modes.items():
            start, start_cpu = time.perf_counter(), cpu_time()
            out = run()
            elapsed, cpu = time.perf_counter() - start, cpu_time() - start_cpu
            best[name] = min(best.get(name, elapsed), elapsed)
            best_cpu[name] = min(best_cpu.get(name, cpu), cpu)
            if want is None:
                want = out
            elif out != want:
                sys.exit(f"{name}: envelopes differ from the loop's")
    shutil.rmtree(tmp, ignore_errors=True)

    size = sum(len(d) for d in docs) / len(docs)
    print(f"{len(docs)} documents of {size:.0f} bytes on average, options {OPTIONS}, "
          f"{cpus} CPUs, best of {args.rounds} rounds")
    print(f"{'mode':<14}{'documents/s':>13}{'µs/document':>13}{'CPU µs/doc':>12}"
          f"{'many is ×':>11}")
    for name in modes:
        rate = len(docs) / best[name]
        print(f"{name:<14}{rate:>13,.0f}{best[name] / len(docs) * 1e6:>13.1f}"
              f"{best_cpu[name] / len(docs) * 1e6:>12.1f}{best[name] / best['many']:>11.2f}")


if __name__ == "__main__":
    main()
