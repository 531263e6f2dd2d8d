"""The ctypes binding: results, reports, errors, library lookup and threads."""

import dataclasses
import json
import os
import pickle
import re
import tempfile
import threading
import unittest
from pathlib import Path
from unittest import mock

import support
import quendra

SMALL_ENVELOPE = (
    '{"ok":true,"text":"{\\"a\\":1}","report":{"input_chars":7,"output_chars":7,'
    '"max_chars":10000,"format":"json","input_format":"json","pruned":false,"fits":true,'
    '"strings_truncated":0,"arrays_sampled":0,"items_omitted":0,"objects_trimmed":0,'
    '"keys_omitted":0,"containers_collapsed":0,"arrays_condensed":0,"protected_omitted":0,'
    '"field_decisions":[],"fields_dropped":0,"dropped_fields":[]}}'
)

WORDS = json.dumps(["w%03d" % i for i in range(100)])


def records(n):
    return [
        {
            "id": i,
            "name": "project %d" % i,
            "description": "A project that does a thing. " * 6,
            "url": "https://forge.example.org/p/%d" % i,
            "owner": {"login": "user%d" % (i % 7), "avatar_url": "https://img.example.org/%d" % i},
            "stars": i * 3,
        }
        for i in range(n)
    ]


class ShrinkTest(unittest.TestCase):
    def test_small_document_comes_back_whole(self):
        result = quendra.shrink('{"a":1}', indent=0)
        self.assertEqual(result.envelope, SMALL_ENVELOPE)
        self.assertEqual(result.text, '{"a":1}')
        self.assertEqual(str(result), '{"a":1}')
        self.assertFalse(result.report.pruned)
        self.assertTrue(result.report.fits)
        self.assertEqual(result.report.field_decisions, ())
        self.assertEqual(result.report.dropped_fields, ())

    def test_text_and_bytes_give_the_same_envelope(self):
        doc = '{"name":"Zoë","tags":["ü","→"]}'
        want = quendra.shrink(doc).envelope
        self.assertEqual(quendra.shrink(doc.encode()).envelope, want)
        self.assertEqual(quendra.shrink(bytearray(doc.encode())).envelope, want)
        with self.assertRaises(TypeError):
            quendra.shrink(42)

    def test_long_array_is_sampled_to_the_budget(self):
        result = quendra.shrink(WORDS, max_chars=60, indent=0)
        self.assertEqual(result.text, '["w000","w001","w002","w003","…[95 items omitted]","w099"]')
        report = result.report
        self.assertEqual(
            (report.input_chars, report.output_chars, report.max_chars), (701, 58, 60)
        )
        self.assertEqual((report.arrays_sampled, report.items_omitted), (1, 95))
        self.assertTrue(report.pruned and report.fits)

    def test_yaml_in_gives_yaml_out(self):
        result = quendra.shrink("a: [1, 2]\n")
        self.assertEqual(result.text, "a:\n  - 1\n  - 2\n")
        self.assertEqual((result.report.format, result.report.input_format), ("yaml", "yaml"))

    def test_report_has_every_member_of_the_envelope_in_order(self):
        result = quendra.shrink(WORDS, max_chars=60)
        members = list(json.loads(result.envelope)["report"])
        self.assertEqual([f.name for f in dataclasses.fields(quendra.Report)], members)
        raw = json.loads(result.envelope)["report"]
        for name in members:
            if name not in ("field_decisions", "dropped_fields"):
                self.assertEqual(getattr(result.report, name), raw[name], name)

    def test_errors_raise_with_the_library_message(self):
        cases = [
            ('{"a":1', {}, "invalid JSON input: expected ',' or '}' at line 1, column 7"),
            ("", {}, "invalid JSON input: unexpected end of input at line 1, column 1"),
            (b"\xff", {}, "input is not valid UTF-8"),
            ("{}", {"max_chars": -1}, "invalid options: max_chars must be a non-negative integer"),
            ("{}", {"format": "xml"}, 'invalid options: format must be "auto", "json" or "yaml"'),
            ("{}", {"format": "yaml", "indent": 1}, "invalid options: YAML indent must be at least 2"),
        ]
        for document, options, message in cases:
            with self.subTest(message=message):
                with self.assertRaises(quendra.QuendraError) as caught:
                    quendra.shrink(document, **options)
                self.assertEqual(caught.exception.message, message)
                self.assertEqual(str(caught.exception), message)

    def test_versions_agree(self):
        cmake = (support.ROOT / "CMakeLists.txt").read_text()
        project = re.search(r"project\(quendra VERSION (\S+)", cmake).group(1)
        self.assertEqual(quendra.__version__, project)
        self.assertEqual(quendra.library_version(), project)


# A valid value of every option, for checking that each declared option is
# one the library takes and that it reaches the library unchanged.
OPTION_VALUES = {
    "max_chars": 300,
    "budget_unit": "bytes",
    "indent": 3,
    "format": "YAML",
    "input_format": "json",
    "field_scorer": "compact",
    "array_strategy": "condense",
    "max_samples": 1,
    "keep_last_item": False,
    "string_head_chars": 20,
    "string_section_chars": 10,
    "string_min_section_chars": 4,
    "min_partial_chars": 10,
    "explain": True,
    "protect": ["id"],
    "arguments": {"q": ["owner", 3]},
}


def raw_envelope(document, options_json):
    """The library's answer for an options text written by hand."""
    return quendra._library().caller(options_json.encode())(document.encode())


class OptionsTest(unittest.TestCase):
    def test_each_declared_option_reaches_the_library(self):
        self.assertEqual(set(OPTION_VALUES), set(quendra.Options.__annotations__))
        doc = json.dumps(records(12))
        for name, value in OPTION_VALUES.items():
            with self.subTest(option=name):
                want = raw_envelope(doc, json.dumps({name: value}))
                self.assertTrue(want.startswith('{"ok":true'), want)
                self.assertEqual(quendra.shrink(doc, **{name: value}).envelope, want)
        self.assertEqual(quendra.shrink(doc).envelope, raw_envelope(doc, "{}"))
        self.assertEqual(
            quendra.shrink(doc, **OPTION_VALUES).envelope,
            raw_envelope(doc, json.dumps(OPTION_VALUES)),
        )

    def test_a_misspelt_keyword_is_a_type_error_at_the_call(self):
        calls = [
            ("shrink", lambda **kw: quendra.shrink("[]", **kw)),
            ("shrink_value", lambda **kw: quendra.shrink_value([], **kw)),
            ("shrink_many", lambda **kw: quendra.shrink_many(["[]", "{"], **kw)),
        ]
        cases = [
            ({"max_char": 10}, "'max_char'; did you mean 'max_chars'?"),
            ({"indent": 0, "Indent": 2}, "'Indent'; did you mean 'indent'?"),
            ({"bogus": 1}, "'bogus'"),
        ]
        for function, call in calls:
            for options, tail in cases:
                with self.subTest(function=function, options=options):
                    with self.assertRaises(TypeError) as caught:
                        call(**options)
                    self.assertEqual(
                        str(caught.exception),
                        f"{function}() got an unexpected keyword argument {tail}",
                    )

    def test_values_are_left_to_the_library_to_check(self):
        cases = [
            ({"max_chars": "10"}, "invalid options: max_chars must be a non-negative integer"),
            ({"keep_last_item": 1}, "invalid options: keep_last_item must be a boolean"),
            ({"protect": [1]}, "invalid options: protect must be a list of strings"),
        ]
        for options, message in cases:
            with self.subTest(options=options):
                with self.assertRaises(quendra.QuendraError) as caught:
                    quendra.shrink("[]", **options)
                self.assertEqual(caught.exception.message, message)
        with self.assertRaises(quendra.QuendraError) as caught:
            quendra.shrink("[]", arguments=float("inf"))
        self.assertTrue(caught.exception.message.startswith("options cannot be written as JSON"))


class ResultTest(unittest.TestCase):
    def test_value_reads_json_output_back(self):
        result = quendra.shrink(WORDS, max_chars=60, indent=0)
        self.assertEqual(result.value, json.loads(result.text))
        self.assertEqual(result.value[-1], "w099")
        self.assertEqual(quendra.shrink("a: [1, 2]\n", format="json").value, {"a": [1, 2]})
        yaml = quendra.shrink("a: [1, 2]\n")
        with self.assertRaises(ValueError) as caught:
            yaml.value
        self.assertIn('format="json"', str(caught.exception))

    def test_report_is_read_from_the_envelope(self):
        result = quendra.shrink_value(records(30), max_chars=900, array_strategy="condense",
                                      explain=True)
        self.assertEqual(
            result.report, quendra.Report.from_dict(json.loads(result.envelope)["report"])
        )

    def test_results_survive_pickling(self):
        for result in (quendra.shrink(WORDS, max_chars=60), quendra.shrink("a: 1\n")):
            copy = pickle.loads(pickle.dumps(result))
            self.assertEqual((copy.text, copy.envelope, copy.report),
                             (result.text, result.envelope, result.report))
        error = pickle.loads(pickle.dumps(quendra.QuendraError("bad", 3)))
        self.assertEqual((error.message, error.index), ("bad", 3))


def mixed_documents():
    """Documents of different sizes and kinds, with bytes among them."""
    docs = []
    for n in range(60):
        doc = json.dumps(records(n % 9)) if n % 3 else "items:\n" + "  - x\n" * n
        docs.append(doc.encode() if n % 4 == 1 else doc)
    return docs


class ShrinkManyTest(unittest.TestCase):
    def test_results_come_in_input_order_and_equal_shrink(self):
        docs = mixed_documents()
        options = {"max_chars": 250, "indent": 0}
        want = [quendra.shrink(doc, **options).envelope for doc in docs]
        for workers in (None, 1, 2, 5):
            with self.subTest(workers=workers):
                got = quendra.shrink_many(iter(docs), workers=workers, **options)
                self.assertEqual([r.envelope for r in got], want)
                self.assertEqual([r.text for r in got], [json.loads(e)["text"] for e in want])
        self.assertEqual(quendra.shrink_many([]), [])

    def test_the_first_failing_document_is_raised_after_all_ran(self):
        docs = ['{"a":1}', "[1,", "{}", b"\xff", "[2]"]
        for workers in (1, 3):
            with self.subTest(workers=workers):
                with self.assertRaises(quendra.QuendraError) as caught:
                    quendra.shrink_many(docs, workers=workers)
                self.assertEqual(caught.exception.index, 1)
                self.assertEqual(caught.exception.message,
                                 "invalid JSON input: unexpected end of input at line 1, column 4")
                got = quendra.shrink_many(docs, workers=workers, errors="return")
                self.assertEqual([type(r).__name__ for r in got],
                                 ["Result", "QuendraError", "Result", "QuendraError", "Result"])
                self.assertEqual((got[3].index, got[3].message), (3, "input is not valid UTF-8"))
                self.assertEqual(got[4].text, "[\n  2\n]")
        with self.assertRaises(quendra.QuendraError) as caught:
            quendra.shrink_many(["[]", "[]"], max_chars=-1)
        self.assertEqual(caught.exception.index, 0)

    def test_bad_arguments(self):
        for kwargs in ({"workers": 0}, {"errors": "ignore"}):
            with self.subTest(kwargs=kwargs):
                with self.assertRaises(ValueError):
                    quendra.shrink_many(["[]"], **kwargs)
        with self.assertRaises(TypeError):
            quendra.shrink_many(["[]", 3])


class ShrinkValueTest(unittest.TestCase):
    def test_records_are_sampled_and_read_back(self):
        value = {"items": records(50), "next": "https://api.example.org/items?page=2"}
        result = quendra.shrink_value(value, max_chars=1200)
        self.assertTrue(result.report.pruned and result.report.fits)
        self.assertLessEqual(len(result.text), 1200)
        self.assertEqual(result.report.output_chars, len(result.text))
        shrunk = json.loads(result.text)
        self.assertEqual(shrunk["next"], value["next"])
        kept = [item for item in shrunk["items"] if isinstance(item, dict)]
        self.assertEqual(kept[0]["id"], 0)
        self.assertGreater(result.report.items_omitted, 0)

    def test_unserialisable_values_are_refused(self):
        for value in (float("nan"), {"a": object()}):
            with self.subTest(value=repr(value)):
                with self.assertRaises(quendra.QuendraError):
                    quendra.shrink_value(value)

    def test_condense_explains_its_field_decisions(self):
        projects = json.loads((support.ROOT / "examples" / "api.json").read_text())["data"]
        result = quendra.shrink_value(
            projects, max_chars=5000, array_strategy="condense", explain=True
        )
        report = result.report
        self.assertEqual(report.arrays_condensed, 1)
        self.assertEqual(len(json.loads(result.text)), len(projects))
        self.assertTrue(report.field_decisions)
        for decision in report.field_decisions:
            self.assertIsInstance(decision, quendra.FieldDecision)
            self.assertIsInstance(decision.kept, bool)
        # Each dropped field, or the object enclosing it, is listed once.
        dropped = [d.path for d in report.dropped_fields]
        self.assertEqual(report.fields_dropped, len(dropped))
        for decision in report.field_decisions:
            if decision.kept:
                self.assertNotIn(decision.path, dropped)
            else:
                self.assertTrue(any(decision.path.startswith(p) for p in dropped), decision.path)


class FindLibraryTest(unittest.TestCase):
    def test_lookup_order(self):
        with tempfile.TemporaryDirectory() as tmp:
            package = Path(tmp) / "quendra"
            package.mkdir()
            beside = package / "libquendra.so"
            beside.write_bytes(b"")
            configured = Path(tmp) / "custom.so"
            configured.write_bytes(b"")
            with mock.patch.dict(os.environ, {"QUENDRA_LIBRARY": str(configured)}):
                self.assertEqual(quendra.find_library(package), str(configured))
            with mock.patch.dict(os.environ, {"QUENDRA_LIBRARY": ""}):
                self.assertEqual(quendra.find_library(package), str(beside))
                beside.unlink()
                (Path(tmp) / "libquendra.so.0").write_bytes(b"")
                self.assertEqual(quendra.find_library(package), str(Path(tmp) / "libquendra.so.0"))
                (Path(tmp) / "libquendra.so.0").unlink()
                with mock.patch("ctypes.util.find_library", return_value=None):
                    self.assertEqual(quendra.find_library(package), "libquendra.so.0")

    def test_a_missing_configured_library_is_an_error(self):
        with mock.patch.dict(os.environ, {"QUENDRA_LIBRARY": "/nonexistent/libquendra.so"}):
            with self.assertRaises(quendra.QuendraError) as caught:
                quendra.find_library()
        self.assertIn("/nonexistent/libquendra.so", caught.exception.message)


class ThreadsTest(unittest.TestCase):
    def test_concurrent_calls_agree_with_a_single_thread(self):
        jobs = [(json.dumps(records(n)), {"max_chars": 300 + 40 * n}) for n in range(1, 9)]
        want = [quendra.shrink(doc, **opts).envelope for doc, opts in jobs]
        got = [[] for _ in jobs]

        def work(k):
            for _ in range(25):
                doc, opts = jobs[k]
                got[k].append(quendra.shrink(doc, **opts).envelope)

        threads = [threading.Thread(target=work, args=(k,)) for k in range(len(jobs))]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        for k, envelopes in enumerate(got):
            self.assertEqual(envelopes, [want[k]] * 25)


if __name__ == "__main__":
    unittest.main()
