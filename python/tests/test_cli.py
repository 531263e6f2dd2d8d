"""The quendra command: flags reaching the library, exit statuses, output forms, the report
and batch mode. The library's answers come from the binding: only the command's own are here."""

import json
import re
import select
import subprocess
import tempfile
import unittest
from pathlib import Path

import support
import quendra
from support import envelope

# One line, so that batch mode reads it as one document; items of several shapes.
DOC = json.dumps({"items": [dict(
    {"id": i, "name": "item %d" % i, "note": "First sentence 😀. Second one follows. " * 4,
     "tags": ["a", "b", "c"][: 1 + i % 3]},
    **({"owner": {"login": "u%d" % (i % 4), "url": "https://img.example.org/%d" % i}} if i % 5 else {}),
    **({"stars": i} if i % 4 == 0 else {})) for i in range(30)]}, ensure_ascii=False)
TINY = '{"a":[1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20]}'
HINT = "\nTry 'quendra --help' for more information.\n"


def run(args, stdin="", cwd=None):
    """Runs the command; returns (exit status, stdout, stderr) as text."""
    done = subprocess.run([support.CLI, *args], input=stdin.encode(), capture_output=True,
                          cwd=cwd, timeout=120)
    return done.returncode, done.stdout.decode(), done.stderr.decode()


class FlagsTest(unittest.TestCase):
    def test_each_flag_reaches_the_library(self):
        owner = ["--protect", "note", "--protect", "/items/*/owner"]
        cases = [
            ([], {}),
            (["--indent=0", "--budget-unit", "UTF16", "--min-partial-chars", "300"],
             {"indent": 0, "budget_unit": "utf16", "min_partial_chars": 300}),
            (["--max-chars", "200", "--format", "yaml", "--max-samples", "1"],
             {"max_chars": 200, "format": "yaml", "max_samples": 1}),
            (["--input-format", "yaml"], {"input_format": "yaml"}),
            (["--array-strategy", "condense", "--field-scorer", "key_order", "--explain",
              "--query", "stars"], {"array_strategy": "condense", "field_scorer": "key_order",
                                    "explain": True, "arguments": "stars"}),
            (["--strategy", "condense", "--scorer", "compact", "--explain", "--no-explain"],
             {"array_strategy": "condense", "field_scorer": "compact"}),
            (["--max-chars", "2000", "--no-keep-last-item", *owner],
             {"max_chars": 2000, "keep_last_item": False, "protect": ["note", "/items/*/owner"]}),
            (["--max-chars", "2000", "--no-keep-last-item", "--keep-last-item"], {"max_chars": 2000}),
            (["--string-head-chars", "10", "--string-section-chars", "5",
              "--string-min-section-chars", "2"],
             {"string_head_chars": 10, "string_section_chars": 5, "string_min_section_chars": 2}),
            # A later --options overrides what came before.
            (["--options", "{}", "--options", ' {"max_chars": 300} '], {"max_chars": 300}),
            ([*owner, "--options", '{"protect": "id"}'], {"protect": "id"}),
            # Batch mode reads JSON and writes it compact, unless told otherwise.
            (["--ndjson", "--options", '{"indent": 3}'], {"input_format": "json", "indent": 3}),
            (["--ndjson", "--input-format", "yaml", "--indent", "4"],
             {"input_format": "yaml", "indent": 4}),
            # What goes in: repeated paths form one list each (--redact: the report's case).
            (["--root", "/items", "--exclude", "tags", "--redact-path", "owner/url",
              "--exclude", "stars"],
             {"root": "/items", "redact_paths": ["owner/url"], "exclude": ["tags", "stars"]}),
        ]
        for flags, options in cases:
            with self.subTest(flags=flags):
                full = {"max_chars": 1000, **options}
                want = envelope(DOC, **full)
                status, out, err = run(["--envelope", "--max-chars", "1000", *flags], DOC)
                self.assertEqual((status, out, err), (0, want + "\n", ""))

    def test_refusals_and_exit_status(self):
        one_line = ("option --documents writes each document as compact JSON on one line: it "
                    "cannot be used with YAML output or an indent above 0" + HINT)
        jobs = "option %s needs a number of threads from 1 to 1024, not '%s'" + HINT
        cases = [
            # The library refuses: status 1, with its message.
            (["--ndjson", "--documents", "--strategy", "x"], 1,
             'invalid options: array_strategy must be "sample" or "condense"\n'),
            # Usage, input and output: status 2.
            (["--bogus"], 2, "unknown option --bogus" + HINT),
            (["--max-chars"], 2, "option --max-chars needs a value" + HINT),
            (["--report=yes"], 2, "option --report takes no value" + HINT),
            (["a.json", "b.json"], 2, "more than one input file: b.json" + HINT),
            (["/nonexistent/a"], 2, "cannot read /nonexistent/a: No such file or directory\n"),
            (["-o", "/nonexistent/b"], 2, "cannot write /nonexistent/b: No such file or directory\n"),
            (["--ndjson", "-j", "0"], 2, jobs % ("-j", "0")),
            (["--ndjson", "--jobs=1025"], 2, jobs % ("--jobs", "1025")),
            (["--documents"], 2, "option --documents needs --ndjson" + HINT),
            (["--jobs", "2"], 2, "option --jobs needs --ndjson" + HINT),
            (["--ndjson", "--documents", "--envelope"], 2,
             "options --documents and --envelope exclude each other" + HINT),
            (["--ndjson", "--documents", "--options", '{"indent": 1}'], 2, one_line),
            (["--ndjson", "--documents", "--format", "yaml"], 2, one_line),
        ]
        for args, want_status, want_err in cases:
            with self.subTest(args=args):
                self.assertEqual(run(args, TINY), (want_status, "", "quendra: " + want_err))
        error = envelope('{"a":')
        self.assertEqual(run(["--envelope"], '{"a":'),
                         (1, error + "\n", "quendra: " + json.loads(error)["error"] + "\n"))
        # Budgets in tokens, counted by the library's own encodings: --max-tokens is
        # --max-chars with --budget-unit tokens, and refuses to stand beside either.
        doc = json.dumps({"items": [{"id": i, "name": f"item {i}"} for i in range(40)]})
        want = envelope(doc, max_chars=60, budget_unit="tokens", tokenizer="cl100k_base")
        for args in (["--max-tokens", "60"], ["--max-chars=60", "--budget-unit", "Tokens"]):
            self.assertEqual(run(args + ["--tokenizer", "cl100k_base", "--envelope"], doc), (0, want + "\n", ""))
        self.assertIn('"tokenizer":"o200k_base"', run(["--max-tokens", "60", "--envelope"], doc)[1])
        for args in (["--max-tokens", "9", "--max-chars", "9"], ["--budget-unit", "bytes", "--max-tokens=9"]):
            self.assertEqual(run(args, doc)[:2], (2, ""))
        status, _, err = run(["--max-tokens", "60", "--report"], doc)
        self.assertEqual(status, 0)
        self.assertRegex(err, r"output: +\d+ o200k_base tokens of json, budget 60: fits")
        lines = run(["--ndjson", "--max-tokens", "20", "--jobs", "2"], doc + "\n" + doc + "\n")[1].splitlines()
        self.assertEqual(len(lines), 2)
        self.assertTrue(all(json.loads(line)["report"]["tokenizer"] == "o200k_base" for line in lines))
        help_text = " ".join(run(["--help"])[1].split())
        for words in ("o200k_base (GPT-4o, GPT-4.1, GPT-5 and the o-series)", "cl100k_base (GPT-4, GPT-3.5"):
            self.assertIn(words, help_text)


class OutputTest(unittest.TestCase):
    def test_output_forms(self):
        over = "quendra: warning: the smallest form found has %s, over the budget of 3\n"
        lines = ['{"a": [1,2,3]}', "[1]"]
        cases = [
            (["--indent", "0"], '{"a": 1}', '{"a":1}\n', ""),
            ([], "a: 1\n", "a: 1\n", ""),
            (["--format", "yaml", "-"], "[1]", "- 1\n", ""),
            (["--indent", "0", "--", "in.json"], "", TINY + "\n", ""),
            (["--version"], "", "quendra %s\n" % quendra.__version__, ""),
            (["--report"], TINY, quendra.shrink(TINY).text + "\n",
             "input:   166 characters of json\n"
             "output:  166 characters of json, budget 10000: fits unchanged\n"),
            (["--report", "--indent", "0", "--redact", "--exclude", "trace"],
             '{"password": "x", "trace": [1], "note": "Bearer abc"}',
             '{"password":"[redacted]","note":"Bearer [redacted]"}\n',
             "input:   52 characters of json\n"
             "output:  52 characters of json, budget 10000: fits unchanged\n"
             "rules:   2 values redacted, 1 value excluded\n"),
            # Batch mode: every line shrunk, though not every one fits.
            (["--ndjson", "--max-chars", "7", "--report"], "\n".join(lines),
             "".join(envelope(line, max_chars=7, indent=0) + "\n" for line in lines),
             "documents: 2, errors: 0, over budget: 1\n"),
            # Over the budget: success, with a warning in the budget's unit.
            *[(["--indent", "0", "--max-chars", "3", *unit], '{"a":["é😀"]}', '{"a":["é😀"]}\n',
               over % words) for unit, words in (
                ([], "12 characters"), (["--budget-unit", "bytes"], "16 bytes"),
                (["--options", '{"budget_unit": "UTF16"}'], "13 UTF-16 code units"))],
        ]
        with tempfile.TemporaryDirectory() as tmp:
            (Path(tmp) / "in.json").write_text(TINY)
            for args, stdin, out, err in cases:
                with self.subTest(args=args):
                    self.assertEqual(run(args, stdin, cwd=tmp), (0, out, err))
            self.assertEqual(run(["-o", "never.json"], "{", cwd=tmp)[0], 1)
            self.assertFalse((Path(tmp) / "never.json").exists())
        self.assertIn("Exit status: 0 success; 1", run(["--help"])[1])

    def test_report_lists_dropped_fields_and_decisions(self):
        # 27 columns, 25 of them dropped: the report lists 24 and counts the rest.
        rows = json.dumps([{"f%02d" % c: "v%d_%d" % (c, i) for c in range(27)} for i in range(20)])
        report = quendra.shrink(rows, array_strategy="condense", max_chars=600, indent=0,
                                explain=True).report
        self.assertEqual((report.fields_dropped, len(report.dropped_fields)), (25, 24))
        status, _, err = run(["--strategy", "condense", "--max-chars", "600", "--indent", "0",
                              "--explain", "--report"], rows)
        summary, table = err.split("field decisions:\n")
        self.assertEqual(status, 0)
        self.assertTrue(summary.endswith(" (20) and 1 more\n"), summary)
        self.assertEqual(re.findall(r"(/\S+) \(20\)", summary), [d.path for d in report.dropped_fields])
        self.assertEqual([(row.split()[0], row.split()[-1]) for row in table.splitlines()],
                         [("path", "kept")] + [(d.path, "yes" if d.kept else "no")
                                               for d in report.field_decisions])

    def test_warns_of_a_text_read_as_one_yaml_string(self):
        html = "<html>\n<body>502 Bad Gateway</body>\n</html>\n"
        warning = ("quendra: warning: the input is not JSON (unexpected character at line 1, "
                   "column 1); its 3 lines were read as a single YAML string\n")
        for flags, text in (([], html), (["--format", "json"], html), ([], "|\n  one\n  two\n")):
            self.assertEqual(run(flags, text)[::2], (0, warning), text)
        self.assertEqual(run(["--options", '{"input_format": "yaml"}'], html)[::2], (0, ""))


class NdjsonTest(unittest.TestCase):
    def test_every_job_count_writes_the_same_bytes(self):
        # Blank and failing lines, a carriage return, a byte-order mark, numbers
        # over the budget, lines longer than a batch and no final line feed.
        special = {7: "", 11: " \t ", 12: "\t\r", 13: '{"broken": [%d', 17: " \r ",
                   29: '{"crlf": %d}\r', 31: '\ufeff{"bom": %d}', 37: "%d" + "0" * 90}
        lines = [special[i % 101].replace("%d", str(i)) if i % 101 in special
                 else json.dumps({"long": ["x" * 1000] * 300, "i": i}) if i in (2500, 2501)
                 else json.dumps({"id": i, "t": "lorem " * (i % 60), "xs": list(range(i % 40))})
                 for i in range(6000)]
        # A blank line is no document: an empty line answers it, and it is not counted.
        raw = ["" if re.fullmatch(r"[ \t]*\r?", line)
               else envelope(line, max_chars=80, indent=0, input_format="json") for line in lines]
        answers = [json.loads(e) if e else None for e in raw]
        failed = [(n, a["error"]) for n, a in enumerate(answers, 1) if a and not a["ok"]]
        over = sum(1 for a in answers if a and a["ok"] and not a["report"]["fits"])
        self.assertTrue(failed and over and None in answers)
        envelopes = "".join(e + "\n" for e in raw)
        # A line that fails writes null, and its message goes to standard error.
        documents = "".join("\n" if a is None else a["text"] + "\n" if a["ok"] else "null\n"
                            for a in answers)
        errors = "".join("quendra: line %d: %s\n" % f for f in failed)
        counts = "documents: %d, errors: %d, over budget: %d\n" % (
            len(answers) - answers.count(None), len(failed), over)
        for flags, want in (([], (1, envelopes, "")), (["--report"], (1, envelopes, errors + counts)),
                            (["--documents", "--report"], (1, documents, errors + counts))):
            for jobs in ("1", "2", "3", "8"):
                with self.subTest(flags=flags, jobs=jobs):
                    args = ["--ndjson", "--max-chars", "80", "--jobs", jobs, *flags]
                    self.assertEqual(run(args, "\n".join(lines)), want)

    def test_each_line_is_answered_as_it_arrives(self):
        for jobs in ("1", "2"):
            with subprocess.Popen([support.CLI, "--ndjson", "--documents", "--jobs", jobs],
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE) as proc:
                for n in range(3):
                    proc.stdin.write(b'{"n": %d}\n' % n)
                    proc.stdin.flush()
                    ready = select.select([proc.stdout], [], [], 30)[0]
                    self.assertTrue(ready, "no answer to line %d with the input open" % n)
                    self.assertEqual(proc.stdout.readline(), b'{"n":%d}\n' % n)
