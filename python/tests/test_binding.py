"""The ctypes binding: results, reports, errors, library lookup and threads."""

import dataclasses
import json
import os
import tempfile
import threading
import unittest
from pathlib import Path
from unittest import mock

import support  # noqa: F401  (sets up the import path and library)
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
            ("{}", {"bogus": 1}, "invalid options: unknown option: bogus"),
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

    def test_library_version(self):
        self.assertEqual(quendra.library_version(), "0.2.1")


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
