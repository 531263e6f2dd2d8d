"""The quendra command: flags, exit codes, output forms, reports and batch mode.

Each flag is checked against the binding: the command's envelope must equal
the library's answer for the options the flag stands for.
"""

import json
import os
import select
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

import support
import quendra

DOC = json.dumps(
    {
        "items": [
            {
                "id": i,
                "name": "item %d" % i,
                "note": "First sentence here. Second one follows. " * 4 + ("x" * (i % 3)),
                "owner": {"login": "u%d" % (i % 4), "avatar_url": "https://img.example.org/%d" % i},
                "tags": ["a", "b", "c"][: 1 + i % 3],
            }
            for i in range(30)
        ],
        "next": "https://api.example.org/items?page=2",
    }
)
TINY = '{"a":[1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20]}'


def run(args, stdin="", cwd=None):
    """Runs the command; returns (exit status, stdout, stderr) as text."""
    done = subprocess.run(
        [support.CLI, *args],
        input=stdin.encode() if isinstance(stdin, str) else stdin,
        capture_output=True,
        cwd=cwd,
        timeout=120,
    )
    return done.returncode, done.stdout.decode(), done.stderr.decode()


class FlagsTest(unittest.TestCase):
    def test_each_flag_sets_its_option(self):
        default = quendra.shrink(DOC, max_chars=700).envelope
        cases = [
            (["--indent", "0"], {"indent": 0}),
            (["--indent=0"], {"indent": 0}),
            (["--budget-unit", "bytes"], {"budget_unit": "bytes"}),
            (["--budget-unit=UTF16"], {"budget_unit": "utf16"}),
            (["--format", "yaml"], {"format": "yaml"}),
            (["--input-format", "yaml"], {"input_format": "yaml"}),
            (["--strategy", "condense"], {"array_strategy": "condense"}),
            (["--array-strategy", "condense"], {"array_strategy": "condense"}),
            (["--strategy", "condense", "--scorer", "compact"],
             {"array_strategy": "condense", "field_scorer": "compact"}),
            (["--strategy", "condense", "--field-scorer", "key_order"],
             {"array_strategy": "condense", "field_scorer": "key_order"}),
            (["--max-samples", "1"], {"max_samples": 1}),
            (["--no-keep-last-item"], {"keep_last_item": False}),
            (["--no-keep-last-item", "--keep-last-item"], {"keep_last_item": True}),
            (["--string-head-chars", "10"], {"string_head_chars": 10}),
            (["--string-section-chars", "5", "--string-min-section-chars", "2"],
             {"string_section_chars": 5, "string_min_section_chars": 2}),
            (["--min-partial-chars", "0"], {"min_partial_chars": 0}),
            (["--strategy", "condense", "--explain"],
             {"array_strategy": "condense", "explain": True}),
            (["--explain", "--no-explain"], {"explain": False}),
            (["--protect", "note"], {"protect": ["note"]}),
            (["--protect", "note", "--protect", "/items/*/owner"],
             {"protect": ["note", "/items/*/owner"]}),
            (["--strategy", "condense", "--query", "owner login"],
             {"array_strategy": "condense", "arguments": "owner login"}),
        ]
        for flags, options in cases:
            with self.subTest(flags=flags):
                status, out, err = run(["--max-chars", "700", "--envelope", *flags], DOC)
                self.assertEqual((status, err), (0, ""))
                self.assertEqual(out, quendra.shrink(DOC, max_chars=700, **options).envelope + "\n")
        status, out, _ = run(["--max-chars", "700", "--envelope"], DOC)
        self.assertEqual(out, default + "\n")

    def test_later_flags_override_earlier_options(self):
        cases = [
            (["--options", '{"max_chars": 300, "indent": 0}', "--max-chars", "400"],
             {"max_chars": 400, "indent": 0}),
            (["--max-chars", "400", "--options", '{"max_chars": 300}'], {"max_chars": 300}),
            (["--options", "{}", "--options", ' {"indent":0} '], {"indent": 0}),
            (["--options", '{"protect": ["x"]}', "--protect", "note"], {"protect": ["note"]}),
            (["--protect", "note", "--options", '{"protect": "id"}'], {"protect": "id"}),
        ]
        for flags, options in cases:
            with self.subTest(flags=flags):
                status, out, _ = run(["--envelope", *flags], DOC)
                self.assertEqual(status, 0)
                self.assertEqual(out, quendra.shrink(DOC, **options).envelope + "\n")

    def test_refusals_and_exit_status(self):
        cases = [
            (["--max-chars", "abc"], TINY, 1,
             "quendra: invalid options: max_chars must be a non-negative integer\n"),
            (["--max-chars", "1.5"], TINY, 1,
             "quendra: invalid options: max_chars must be a non-negative integer\n"),
            (["--format", "xml"], TINY, 1,
             'quendra: invalid options: format must be "auto", "json" or "yaml"\n'),
            (["--scorer", "best"], TINY, 1, "quendra: invalid options: field_scorer must be one of "
             '["heuristic", "compact", "key_order"]\n'),
            (["--options", '{"max_chars": 5,'], TINY, 1,
             "quendra: invalid options JSON: expected string key at line 1, column 17\n"),
            (["--options", "[1]", "--indent", "0"], TINY, 1,
             "quendra: invalid options: options must be a JSON object\n"),
            ([], '{"a":', 1,
             "quendra: invalid JSON input: unexpected end of input at line 1, column 6\n"),
            (["--bogus"], TINY, 2,
             "quendra: unknown option --bogus\nTry 'quendra --help' for more information.\n"),
            (["--max-chars"], TINY, 2, "quendra: option --max-chars needs a value\n"
             "Try 'quendra --help' for more information.\n"),
            (["--report=yes"], TINY, 2, "quendra: option --report takes no value\n"
             "Try 'quendra --help' for more information.\n"),
            (["a.json", "b.json"], TINY, 2, "quendra: more than one input file: b.json\n"
             "Try 'quendra --help' for more information.\n"),
            (["/nonexistent/a.json"], "", 2,
             "quendra: cannot read /nonexistent/a.json: No such file or directory\n"),
            (["-o", "/nonexistent/out.json"], TINY, 2,
             "quendra: cannot write /nonexistent/out.json: No such file or directory\n"),
        ]
        for args, stdin, want_status, want_err in cases:
            with self.subTest(args=args):
                status, out, err = run(args, stdin)
                self.assertEqual((status, out, err), (want_status, "", want_err))

    def test_error_envelope_is_printed_when_asked(self):
        status, out, err = run(["--envelope", "--input-format", "json"], "key: value")
        self.assertEqual(status, 1)
        self.assertEqual(json.loads(out)["ok"], False)
        self.assertEqual(err, "quendra: " + json.loads(out)["error"] + "\n")


class OutputTest(unittest.TestCase):
    def test_text_gets_a_final_newline(self):
        self.assertEqual(run(["--indent", "0"], '{"a": 1}'), (0, '{"a":1}\n', ""))
        self.assertEqual(run([], "a: 1\n"), (0, "a: 1\n", ""))
        self.assertEqual(run(["--format", "yaml", "-"], "[1]"), (0, "- 1\n", ""))

    def test_output_file(self):
        with tempfile.TemporaryDirectory() as tmp:
            target = Path(tmp) / "out.json"
            self.assertEqual(run(["-o", str(target), "--indent", "0"], '{"a": 1}'), (0, "", ""))
            self.assertEqual(target.read_text(), '{"a":1}\n')
            missing = Path(tmp) / "never.json"
            status, _, _ = run(["--output", str(missing)], '{"a":')
            self.assertEqual(status, 1)
            self.assertFalse(missing.exists())

    def test_reads_a_file(self):
        with tempfile.TemporaryDirectory() as tmp:
            source = Path(tmp) / "in.json"
            source.write_text(TINY)
            self.assertEqual(run(["--indent", "0", str(source)]), (0, TINY + "\n", ""))
            self.assertEqual(run(["--indent", "0", "--", str(source)]), (0, TINY + "\n", ""))

    def test_report_summary(self):
        status, out, err = run(["--indent", "0", "--max-chars", "40", "--report"], TINY)
        self.assertEqual(status, 0)
        self.assertEqual(out, '{"a":[1,2,3,4,"…[15 items omitted]",20]}\n')
        self.assertEqual(
            err,
            "input:   58 characters of json\n"
            "output:  40 characters of json, budget 40: fits\n"
            "omitted: 15 array items (1 array sampled)\n",
        )
        status, _, err = run(["--report"], TINY)
        self.assertEqual(
            err,
            "input:   166 characters of json\n"
            "output:  166 characters of json, budget 10000: fits unchanged\n",
        )

    def test_a_result_over_budget_succeeds_with_a_warning(self):
        status, out, err = run(["--indent", "0", "--max-chars", "3"], '{"a":[1,2,3]}')
        self.assertEqual(status, 0)
        self.assertEqual(out, '{"a":[1,2,3]}\n')
        self.assertEqual(
            err, "quendra: warning: the smallest form found has 13 characters, over the budget of 3\n"
        )
        # The summary counts in the budget's unit, however the unit was given.
        for flags, words in ((["--budget-unit", "bytes"], "16 bytes"),
                             (["--options", '{"budget_unit": "UTF16"}'], "13 UTF-16 code units")):
            with self.subTest(flags=flags):
                status, _, err = run(["--indent", "0", "--max-chars", "3", *flags], '{"a":["é😀"]}')
                self.assertEqual(status, 0)
                self.assertIn(f"the smallest form found has {words}, over", err)

    def test_explain_table(self):
        api = str(support.ROOT / "examples" / "api.json")
        status, _, err = run(
            ["--max-chars", "5000", "--strategy", "condense", "--explain", "--report", api]
        )
        self.assertEqual(status, 0)
        lines = err.splitlines()
        self.assertIn("field decisions:", lines)
        header = lines[lines.index("field decisions:") + 1].split()
        self.assertEqual(header, ["path", "score", "relevance", "kept"])
        rows = lines[lines.index("field decisions:") + 2:]
        self.assertTrue(rows)
        for row in rows:
            self.assertIn(row.split()[-1], ("yes", "no"))

    def test_help_and_version(self):
        status, out, _ = run(["--help"])
        self.assertEqual(status, 0)
        self.assertIn("Exit status: 0 success; 1", out)
        self.assertIn('"fits": false', out)
        self.assertEqual(run(["--version"]), (0, "quendra 0.2.1\n", ""))


class NdjsonTest(unittest.TestCase):
    def test_one_envelope_per_line_in_order(self):
        lines = ['{"a":1}', "", "not json", "[1,2,3]", "  {\"b\": [true, null]}  "]
        status, out, err = run(["--ndjson"], "\n".join(lines))
        self.assertEqual((status, err), (1, ""))
        want = [_envelope(line, indent=0, input_format="json") for line in lines]
        self.assertEqual(out.splitlines(), want)
        self.assertEqual(json.loads(out.splitlines()[2])["error"],
                         "invalid JSON input: invalid literal at line 1, column 1")

    def test_the_text_is_compact_unless_an_indent_is_given(self):
        doc = '{"a": [1, 2]}'
        cases = [
            ([], {"indent": 0}),
            (["--indent", "2"], {"indent": 2}),
            (["--options", '{"indent": 3}'], {"indent": 3}),
            (["--format", "yaml"], {"format": "yaml"}),
            (["--input-format", "yaml"], {"input_format": "yaml"}),
        ]
        for flags, options in cases:
            with self.subTest(flags=flags):
                status, out, err = run(["--ndjson", *flags], doc + "\n")
                self.assertEqual((status, err), (0, ""))
                options.setdefault("input_format", "json")
                self.assertEqual(out, _envelope(doc, **options) + "\n")

    def test_all_good_lines_exit_zero_and_report_counts(self):
        stream = "".join('{"n":%d,"s":"%s"}\n' % (i, "w " * (i * 10)) for i in range(20))
        status, out, err = run(["--ndjson", "--max-chars", "40", "--report"], stream)
        self.assertEqual(status, 0)
        self.assertEqual(len(out.splitlines()), 20)
        self.assertEqual(err, "documents: 20, errors: 0, over budget: 0\n")

    def test_input_format_flag_wins_over_the_json_default(self):
        status, out, _ = run(["--ndjson", "--input-format", "yaml"], "a: [1, 2]\n")
        self.assertEqual(status, 0)
        self.assertEqual(json.loads(out)["text"], "a:\n  - 1\n  - 2\n")

    def test_bad_options_stop_the_batch_before_any_line(self):
        for flags, message in [
            (["--indent", "x"], "invalid options: indent must be a non-negative integer"),
            (["--options", "[1]"], "invalid options: options must be a JSON object"),
            (["--options", "{"], "invalid options JSON: expected string key at line 1, column 2"),
            (["--documents", "--strategy", "x"],
             'invalid options: array_strategy must be "sample" or "condense"'),
        ]:
            with self.subTest(flags=flags):
                status, out, err = run(["--ndjson", *flags], '{"a":1}\n{"b":2}\n')
                self.assertEqual((status, out, err), (1, "", "quendra: " + message + "\n"))

    def test_every_job_count_writes_the_same_bytes(self):
        # Blank lines, failing lines, a carriage return, a byte-order mark,
        # lines longer than a batch and a last line without a line feed.
        lines = []
        for i in range(6000):
            kind = i % 101
            if kind == 7:
                lines.append("")
            elif kind == 13:
                lines.append('{"broken": [%d' % i)
            elif kind == 29:
                lines.append('{"crlf": %d}\r' % i)
            elif kind == 31:
                lines.append('\ufeff{"bom": %d}' % i)
            elif i in (2500, 2501):
                lines.append(json.dumps({"long": ["x" * 1000] * 300, "i": i}))
            else:
                lines.append(json.dumps({"id": i, "t": "lorem ipsum " * (i % 30),
                                         "xs": list(range(i % 40))}))
        stream = "\n".join(lines)
        for flags in (["--max-chars", "80"], ["--max-chars", "80", "--documents", "--report"]):
            with self.subTest(flags=flags):
                results = {jobs: run(["--ndjson", "--jobs", str(jobs), *flags], stream)
                           for jobs in (1, 2, 3, 8)}
                for jobs, result in results.items():
                    self.assertEqual(result, results[1], "--jobs %d" % jobs)
                status, out, err = results[1]
                self.assertEqual(status, 1)
                self.assertEqual(len(out.splitlines()), len(lines))
        envelopes = run(["--ndjson", "--max-chars", "80"], stream)[1].splitlines()
        want = [_envelope(line, max_chars=80, indent=0, input_format="json") for line in lines]
        self.assertEqual(envelopes, want)

    def test_documents_write_the_shrunk_documents(self):
        stream = '{"a": [1,2,3,4,5,6,7,8,9,10]}\n\n{"b":\nnull\n[1, 2]'
        status, out, err = run(["--ndjson", "--documents", "--max-chars", "24"], stream)
        self.assertEqual(status, 1)
        self.assertEqual(out.splitlines(), [
            json.loads(_envelope('{"a": [1,2,3,4,5,6,7,8,9,10]}', max_chars=24, indent=0))["text"],
            "null", "null", "null", "[1,2]"])
        self.assertEqual(err.splitlines(), [
            "quendra: line 2: invalid JSON input: unexpected end of input at line 1, column 1",
            "quendra: line 3: invalid JSON input: unexpected end of input at line 1, column 6",
        ])
        status, out, _ = run(["--ndjson", "--documents", "--input-format", "yaml"], "a: [1, 2]\n")
        self.assertEqual((status, out), (0, '{"a":[1,2]}\n'))

    def test_usage_errors(self):
        hint = "\nTry 'quendra --help' for more information.\n"
        one_line = ("quendra: option --documents writes each document as compact JSON on one "
                    "line: it cannot be used with YAML output or an indent above 0")
        cases = [
            (["--ndjson", "--jobs", "0"],
             "quendra: option --jobs needs a number of threads from 1 to 1024, not '0'"),
            (["--ndjson", "-j", "two"],
             "quendra: option -j needs a number of threads from 1 to 1024, not 'two'"),
            (["--ndjson", "--jobs=1025"],
             "quendra: option --jobs needs a number of threads from 1 to 1024, not '1025'"),
            (["--ndjson", "--jobs"], "quendra: option --jobs needs a value"),
            (["--documents"], "quendra: option --documents needs --ndjson"),
            (["--ndjson", "--documents", "--envelope"],
             "quendra: options --documents and --envelope exclude each other"),
            (["--ndjson", "--documents", "--indent", "2"], one_line),
            (["--ndjson", "--documents", "--options", '{"indent": 1}'], one_line),
            (["--ndjson", "--documents", "--format", "yaml"], one_line),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                self.assertEqual(run(args, '{"a":1}\n'), (2, "", message + hint))

    def test_each_line_is_answered_as_it_arrives(self):
        for jobs in ("1", "2"):
            with self.subTest(jobs=jobs):
                proc = subprocess.Popen([support.CLI, "--ndjson", "--documents", "--jobs", jobs],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE)
                try:
                    for n in range(3):
                        proc.stdin.write(b'{"n": %d}\n' % n)
                        proc.stdin.flush()
                        ready, _, _ = select.select([proc.stdout], [], [], 30)
                        self.assertTrue(ready, "no answer to line %d while the input is open" % n)
                        self.assertEqual(proc.stdout.readline(), b'{"n":%d}\n' % n)
                finally:
                    proc.stdin.close()
                    proc.stdout.close()
                    proc.wait(timeout=60)


class InputFormatWarningTest(unittest.TestCase):
    HTML = "<html>\n<body>502 Bad Gateway</body>\n</html>\n"

    def test_a_text_of_several_lines_read_as_one_yaml_string(self):
        warning = ("quendra: warning: the input is not JSON (unexpected character at line 1, "
                   "column 1); its 3 lines were read as a single YAML string\n")
        cases = [
            ([], self.HTML, warning),
            (["--format", "json", "--indent", "0"], self.HTML, warning),
            (["--format", "yaml"], self.HTML, warning),
            (["--max-chars", "20"], self.HTML, warning),
            ([], "|\n  one\n  two\n", warning),
            (["--input-format", "yaml"], self.HTML, ""),
            (["--options", '{"input_format": "yaml"}'], self.HTML, ""),
            ([], "<html></html>\n", ""),
            ([], "a: 1\nb: two\n", ""),
            ([], "- x\n- y\n", ""),
            ([], "a: |\n  one\n  two\n", ""),
            ([], "# a comment\n42\n", ""),
        ]
        for flags, text, want in cases:
            with self.subTest(flags=flags, text=text):
                status, out, err = run(flags, text)
                self.assertEqual(status, 0)
                self.assertEqual(err, want)
                expected = quendra.shrink(text, **_options(flags)).text
                self.assertEqual(out, expected if expected.endswith("\n") else expected + "\n")


def _options(flags):
    """The options that the flags of InputFormatWarningTest stand for."""
    keys = {"--format": "format", "--indent": "indent", "--max-chars": "max_chars",
            "--input-format": "input_format"}
    options = {}
    for flag, value in zip(flags[::2], flags[1::2]):
        if flag == "--options":
            options.update(json.loads(value))
        else:
            options[keys[flag]] = int(value) if value.isdigit() else value
    return options


def _envelope(document, **options):
    """The library's envelope for one document, as text (errors included)."""
    try:
        return quendra.shrink(document, **options).envelope
    except quendra.QuendraError as error:
        return '{"ok":false,"error":%s}' % json.dumps(error.message, ensure_ascii=False)


@unittest.skipIf(shutil.which("parallel") is None, "GNU parallel is not installed")
class ParallelTest(unittest.TestCase):
    """Batch mode spread over several processes by GNU parallel."""

    def stream(self, n):
        lines = []
        for i in range(n):
            if i % 97 == 13:
                lines.append('{"broken": [%d' % i)
            else:
                lines.append(json.dumps({
                    "id": i,
                    "title": "document %d " % i + "lorem ipsum " * (i % 40),
                    "items": list(range(i % 50)),
                }))
        return "\n".join(lines) + "\n"

    def test_every_envelope_comes_back_in_order(self):
        # The README's recipe: parallel cuts the file into blocks at line
        # ends, one process with --jobs 1 per job slot.
        stream = self.stream(3000)
        args = ["--ndjson", "--max-chars", "120"]
        status, sequential, _ = run(args, stream)
        self.assertEqual(status, 1)
        with tempfile.TemporaryDirectory() as tmp:
            path = Path(tmp) / "docs.ndjson"
            path.write_text(stream)
            done = subprocess.run(
                ["parallel", "--will-cite", "--pipepart", "-a", str(path), "--block", "-4", "-k",
                 "--sshlogin", "2/:", support.CLI, *args, "--jobs", "1"],
                capture_output=True, env=dict(os.environ, HOME=tmp), timeout=300,
            )
        got = done.stdout.decode().splitlines()
        self.assertEqual(len(got), 3000)
        self.assertEqual(got, sequential.splitlines())
        failed = [i for i, line in enumerate(got) if not json.loads(line)["ok"]]
        self.assertEqual(failed, [i for i in range(3000) if i % 97 == 13])
        for line in got:
            envelope = json.loads(line)
            if envelope["ok"]:
                self.assertTrue(envelope["report"]["fits"])
                self.assertLessEqual(envelope["report"]["output_chars"], 120)


if __name__ == "__main__":
    unittest.main()
