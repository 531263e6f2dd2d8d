#!/usr/bin/env python3
"""Compares two builds of the quendra command run against the same library:
every example of the README, single documents under every flag (good and bad
values, --options, --envelope, --report, -o, errors), and a generated stream
of documents in batch mode (every flag, broken and blank lines, CRLF endings,
byte-order marks, invalid UTF-8, a line longer than a batch; --jobs 1, 2 and
8; envelopes, --documents, --report). Each case must give the same exit
status, standard output, standard error and output file.

The changes the newer command means are expected, not compared blindly: a
blank line of a stream is answered by an empty line and not counted, so the
older command is run on the stream without its blank lines and its answer is
put back in place; under --report, envelope mode names each failed line on
standard error; --jobs needs --ndjson. --help is not compared.

  bench/cli_compare.py OLD_COMMAND NEW_COMMAND [--library DIR] [--lines N] [--seed S]

DIR holds the libquendra.so both commands load (default: the new command's
directory). Prints one line per case that differs and a count; exit status 1
when any differs.
"""

import argparse
import json
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
BLANK = re.compile(rb"[ \t]*\r?")


class Runner:
    """Runs one command in a scratch directory of its own, with the library given."""

    def __init__(self, command, library, scratch):
        self.command = str(Path(command).resolve())
        self.scratch = scratch
        (scratch / "bin").mkdir(parents=True)
        (scratch / "bin" / "quendra").symlink_to(self.command)
        (scratch / "examples").symlink_to(ROOT / "examples")
        self.env = dict(os.environ, LD_LIBRARY_PATH=str(library), LC_ALL="C.UTF-8",
                        PATH=f"{scratch / 'bin'}{os.pathsep}{os.environ['PATH']}")

    def run(self, args, stdin=b""):
        """(status, stdout, stderr, the file out.txt if the run wrote it)."""
        out = self.scratch / "out.txt"
        out.unlink(missing_ok=True)
        done = subprocess.run([self.command, *args], input=stdin, capture_output=True,
                              cwd=self.scratch, env=self.env, timeout=600)
        return done.returncode, done.stdout, done.stderr, out.read_bytes() if out.exists() else None

    def shell(self, command):
        done = subprocess.run(["bash", "-o", "pipefail", "-c", command], cwd=self.scratch,
                              env=self.env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=600)
        return done.returncode, done.stdout


def readme_commands():
    """The README's console blocks, each a list of its commands."""
    text = (ROOT / "README.md").read_text(encoding="utf-8")
    blocks = []
    for block in re.finditer(r"^```console\n(.*?)^```$", text, re.M | re.S):
        commands = []
        for line in block[1].split("\n"):
            if commands and commands[-1].endswith("\\"):
                commands[-1] += "\n" + line
            elif line.startswith("$ "):
                commands.append(line[2:])
        blocks.append(commands)
    return blocks


def record(rnd, i):
    """A document of the generated stream: records, text, numbers written in several ways."""
    words = ["alpha", "beta", "gamma", "delta", "é", "😀", "日本語", "line\nbreak", "tab\tin",
             "quote\"d", "back\\slash", "\u2028"]
    items = [{"id": j, "name": " ".join(rnd.choice(words) for _ in range(rnd.randint(1, 6))),
              "role": rnd.choice(["dev", "ops", "admin"]), "url": f"https://x.example/{i}/{j}"}
             for j in range(rnd.randint(0, 12))]
    doc = {"id": i, "items": items, "note": " ".join(rnd.choice(words) for _ in range(rnd.randint(0, 90))),
           "meta": {"page": i % 7, "tags": [rnd.choice(words) for _ in range(rnd.randint(0, 8))]},
           "score": "SCORE", "big": "BIG"}
    text = json.dumps(doc, ensure_ascii=rnd.random() < 0.3)
    return (text.replace('"SCORE"', rnd.choice(["0.750", "1e5", "-0.0", "12.50E-3"]))
            .replace('"BIG"', rnd.choice(["18446744073709551616", "3", "-7"])))


def stream(seed, count):
    """The generated stream, as bytes, ending without a line feed."""
    rnd = random.Random(seed)
    special = {5: b"", 6: b" \t ", 7: b"\t\r", 8: b'{"broken": [', 9: b"\xef\xbb\xbf[1, 2, 3]",
               10: b"not json at all", 11: b'{"bad": "\x80\xff"}', 12: b'"just a string"',
               13: b"12.50e3", 14: b" \r x", 15: b"[]", 16: b"{}", 17: b"\r", 18: b"null",
               19: b"{\"a\": 1} {\"b\": 2}"}
    lines = []
    for i in range(count):
        if i % 53 in special:
            lines.append(special[i % 53])
        elif i == count // 2:
            lines.append(json.dumps({"long": ["x" * 1000] * 100, "i": i}).encode())
        else:
            line = record(rnd, i).encode()
            lines.append(line + b"\r" if i % 41 == 0 else line)
    return b"\n".join(lines + [b""]) + b"\n" + lines[1]


def split_lines(data):
    """The lines of a stream as batch mode reads them."""
    lines = data.split(b"\n")
    return lines[:-1] if data.endswith(b"\n") else lines


def expected_batch(old, args, data):
    """What the newer command answers in batch mode: the older one's answer to the stream
    without its blank lines, with an empty line put back for each, line numbers moved to
    match, and under --report the failed lines of envelope mode named on standard error."""
    lines = split_lines(data)
    kept = [n for n, line in enumerate(lines, 1) if not BLANK.fullmatch(line)]
    status, out, err, file = old.run(args, b"".join(lines[n - 1] + b"\n" for n in kept))
    answer = file if file is not None else out
    if status == 2 or answer.count(b"\n") != len(kept):
        return status, out, err, file  # refused before any line was read
    answers = iter(answer.split(b"\n")[:-1])
    placed = b"".join(b"\n" if BLANK.fullmatch(line) else next(answers) + b"\n" for line in lines)

    def renumber(m):
        return b"quendra: line %d: " % kept[int(m[1]) - 1]
    err = re.sub(rb"^quendra: line (\d+): ", renumber, err, flags=re.M)
    if "--report" in args and "--documents" not in args:
        named = b"".join(b"quendra: line %d: %s\n" % (n, json.loads(e)["error"].encode())
                         for n, e in zip(kept, answer.split(b"\n")) if e.startswith(b'{"ok":false'))
        err = named + err
    if file is not None:
        return status, out, err, placed
    return status, placed, err, file


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("old")
    parser.add_argument("new")
    parser.add_argument("--library", help="directory of the libquendra.so both load")
    parser.add_argument("--lines", type=int, default=1500, help="lines of the generated stream")
    parser.add_argument("--seed", type=int, default=7)
    args = parser.parse_args()
    library = Path(args.library or Path(args.new).resolve().parent).resolve()

    work = Path(tempfile.mkdtemp(prefix="quendra-cli-compare-"))
    try:
        old, new = Runner(args.old, library, work / "old"), Runner(args.new, library, work / "new")
        failures = []
        cases = 0

        def check(name, got, want):
            nonlocal cases
            cases += 1
            if got != want:
                failures.append(name)
                print(f"differs: {name}\n  old: {str(want)[:400]}\n  new: {str(got)[:400]}")

        # The README's examples, block by block in one scratch directory each.
        for b, commands in enumerate(readme_commands()):
            for c, command in enumerate(commands):
                check(f"README block {b} command {c}: {command[:60]}", new.shell(command),
                      old.shell(command))

        # One document under every flag.
        users = (ROOT / "examples" / "users.json").read_bytes()
        rows = json.dumps([{"f%02d" % c: "v%d_%d" % (c, i) for c in range(27)} for i in range(20)])
        html = b"<html>\n<body>502 Bad Gateway</body>\n</html>\n"
        docs = {"users": users, "rows": rows.encode(), "html": html,
                "yaml": b"a: [1, 2, 3]\nb:\n  c: \"d\" # note\n", "literal": b"|\n  one\n  two\n",
                "bad": b'{"a":', "unicode": '{"a":["é😀","日本"]}'.encode(), "empty": b"",
                "latin1": b'{"a": "\xe9"}'}
        single = [
            [], ["--max-chars", "300"], ["--max-chars=120", "--indent", "0"], ["--indent", "1"],
            ["--max-chars", "lots"], ["--max-chars", " 5"], ["--max-chars", "1e400"],
            ["--max-chars", "-1"], ["--max-chars", "18446744073709551616"], ["--max-chars", "0.5"],
            ["--budget-unit", "bytes", "--max-chars", "30"], ["--budget-unit", "UTF16"],
            ["--budget-unit", "tokens"], ["--budget-unit", "x"],
            ["--format", "yaml"], ["--format", "yml", "--indent", "1"], ["--format", "json"],
            ["--input-format", "json"], ["--input-format", "yaml"], ["--input-format", "xml"],
            ["--strategy", "condense", "--max-chars", "600", "--explain", "--report"],
            ["--array-strategy", "condense", "--field-scorer", "key_order", "--max-chars", "600",
             "--report", "--explain", "--indent", "0"],
            ["--scorer", "compact", "--strategy", "condense", "--query", "f03 and f07",
             "--max-chars", "500", "--report"],
            ["--scorer", "best"], ["--strategy", "all"], ["--query", "Ada and admin"],
            ["--protect", "role", "--protect", "/users/*/name", "--max-chars", "150"],
            ["--protect", "x", "--options", '{"protect": "id"}'],
            ["--options", '{"protect": "id"}', "--protect", "name"],
            ["--max-samples", "1", "--no-keep-last-item", "--max-chars", "200"],
            ["--no-keep-last-item", "--keep-last-item", "--max-chars", "200"],
            ["--min-partial-chars", "300", "--max-chars", "250"],
            ["--string-head-chars", "10", "--string-section-chars", "5",
             "--string-min-section-chars", "2", "--max-chars", "120"],
            ["--explain", "--no-explain", "--strategy", "condense", "--max-chars", "600"],
            ["--options", '{"max_chars": 300, "format": "yaml"}', "--max-chars", "200"],
            ["--options", '\ufeff {"max_chars": 0.750} ', "--max-chars", "90"],
            ["--options", '{"max_chars": 90, "arguments": [1.50, "x", {"y": 2e3}], "explain": true}',
             "--strategy", "condense", "--report"],
            ["--options", '{"max_chars": "x"}', "--max-chars", "100"],
            ["--options", '{"a": 5,'], ["--options", "[1]"], ["--options", "5"],
            ["--options", "\xff"], ["--options", '{"Max_Chars": 10}'], ["--options", "{}"],
            ["--options", '{"max_chars": 40}', "--options", ' {"indent": 0} '],
            ["--envelope"], ["--envelope", "--max-chars", "40", "--indent", "0"],
            ["--envelope", "--options", "[1]"], ["--envelope", "--report", "--max-chars", "5"],
            ["--report", "--max-chars", "5"], ["--report", "--format", "yaml", "--max-chars", "80"],
            ["-o", "out.txt", "--max-chars", "100"], ["--output=out.txt", "--envelope"],
            ["-o", "/nonexistent/out"], ["/nonexistent/in"], ["--", "-"], ["-", "--indent", "0"],
            ["--version"], ["--bogus"], ["--max-chars"], ["--report=yes"],
            ["--no-envelope"], ["a.json", "b.json"], ["-x"], ["--documents"],
            ["--ndjson", "--documents", "--envelope"], ["--ndjson", "-j", "0"],
            ["--ndjson", "--jobs=1025"], ["--ndjson", "--jobs", "x"],
        ]
        for flags in single:
            for name, doc in docs.items():
                check(f"{name}: {flags}", new.run(flags, doc), old.run(flags, doc))

        # --jobs without --ndjson is refused now.
        refused = (2, b"", b"quendra: option --jobs needs --ndjson\n"
                   b"Try 'quendra --help' for more information.\n", None)
        for flags in (["--jobs", "2"], ["-j", "1", "--max-chars", "30"]):
            check(f"expected refusal: {flags}", new.run(flags, users), refused)

        # Batch mode over the generated stream.
        data = stream(args.seed, args.lines)
        option_sets = [
            [], ["--max-chars", "40"], ["--max-chars", "200", "--indent", "2"],
            ["--budget-unit", "bytes", "--max-chars", "60"], ["--budget-unit", "utf16"],
            ["--format", "yaml"], ["--input-format", "auto", "--max-chars", "80"],
            ["--input-format", "yaml"],
            ["--strategy", "condense", "--scorer", "compact", "--query", "name id", "--explain",
             "--max-chars", "150"],
            ["--array-strategy", "condense", "--field-scorer", "key_order", "--max-chars", "150"],
            ["--max-samples", "1", "--no-keep-last-item", "--min-partial-chars", "10",
             "--max-chars", "90"],
            ["--keep-last-item", "--no-explain", "--max-chars", "90"],
            ["--string-head-chars", "20", "--string-section-chars", "10",
             "--string-min-section-chars", "4", "--max-chars", "120"],
            ["--protect", "id", "--protect", "/items/*/name", "--max-chars", "70"],
            ["--options", '{"max_chars": 50, "indent": 0}', "--max-chars", "70"],
            ["--options", '\ufeff {"indent": 3} '], ["--options", '{"max_chars": 0.5}'],
            ["--strategy", "all"], ["--options", "[1]"],
        ]
        modes = [[], ["--report"], ["--documents"], ["--documents", "--report"],
                 ["--envelope", "--report"], ["-o", "out.txt", "--report"]]
        for i, options in enumerate(option_sets):
            for mode in modes:
                jobs_list = ("1", "2", "8") if i < 4 else (("1", "2", "8")[(i + len(mode)) % 3],)
                for jobs in jobs_list:
                    flags = ["--ndjson", "--jobs", jobs, *mode, *options]
                    check(f"stream: {flags}", new.run(flags, data), expected_batch(old, flags, data))
        # Batch mode reading a file rather than standard input.
        (new.scratch / "in.ndjson").write_bytes(data)
        (old.scratch / "in.ndjson").write_bytes(data)
        flags = ["--ndjson", "--documents", "--report", "in.ndjson"]
        check(f"stream from a file: {flags}", new.run(flags), expected_batch(old, flags[:-1], data))

        print(f"{cases} cases: {cases - len(failures)} the same, {len(failures)} differ")
        return 1 if failures else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
