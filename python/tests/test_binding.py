"""The ctypes binding: what reaches the library, results, errors, batches, library lookup."""

import dataclasses
import json
import os
import pickle
import re
import tempfile
import unittest
import warnings
from datetime import date
from decimal import Decimal
from pathlib import Path
from unittest import mock

import support
import quendra

# A valid value of every option, each of which must reach the library unchanged.
OPTION_VALUES = {
    "max_chars": 300, "budget_unit": "Tokens", "tokenizer": "CL100K_base", "indent": 3, "format": "YAML",
    "input_format": "json", "field_scorer": "compact", "array_strategy": "condense",
    "max_samples": 1, "keep_last_item": False, "string_head_chars": 20,
    "string_section_chars": 10, "string_min_section_chars": 4, "min_partial_chars": 10,
    "explain": True, "protect": ["id"], "arguments": {"q": ["owner", 3]}, "root": "",
    "exclude": ["stars"], "redact": True, "redact_paths": "owner"}


def records(n):
    return [{"id": i, "name": "project %d" % i, "note": "A project that does a thing. " * 6,
             "owner": {"login": "user%d" % (i % 7)}, "stars": i * 3} for i in range(n)]


class CallTest(unittest.TestCase):
    def test_each_option_reaches_the_library_unchanged(self):
        self.assertEqual(set(OPTION_VALUES), set(quendra.Options.__annotations__))
        value = records(12)
        doc = json.dumps(value)
        # A tokenizer is named only with a budget in tokens.
        alone = [{k: v, **({"budget_unit": "tokens"} if k == "tokenizer" else {})}
                 for k, v in OPTION_VALUES.items()]
        for options in [{}, OPTION_VALUES] + alone:
            with self.subTest(options=options):
                want = support.envelope(doc, **options)
                self.assertTrue(want.startswith('{"ok":true'), want)
                self.assertEqual(quendra.shrink(doc, **options).envelope, want)
                self.assertEqual(quendra.shrink_value(value, **options).envelope, want)
                self.assertEqual(quendra.shrink_many([doc], **options)[0].envelope, want)

    def test_text_and_bytes_reach_the_library_alike(self):
        doc = '{"name":"Zoë","tags":["ü","→","😀"]}'
        want = support.envelope(doc)
        for form in (doc, doc.encode(), bytearray(doc.encode()), memoryview(doc.encode())):
            self.assertEqual(quendra.shrink(form).envelope, want)
        self.assertEqual(quendra.shrink_value(json.loads(doc)).value, json.loads(doc))

    def test_refusals(self):
        fails, unexpected = quendra.QuendraError, "() got an unexpected keyword argument "
        cases = [  # the library's messages, then the binding's own
            (fails, lambda: quendra.shrink_many(["[]"], protect=[1]),
             "invalid options: protect must be a list of strings"),
            (fails, lambda: quendra.shrink("[]", arguments=float("inf")),
             "options cannot be written as JSON"),
            (fails, lambda: quendra.shrink_value({"a": object()}), "value cannot be written as JSON"),
            (TypeError, lambda: quendra.shrink_value([], indent=0, Indent=2),
             "shrink_value" + unexpected + "'Indent'; did you mean 'indent'?"),
            (TypeError, lambda: quendra.shrink_many(["[]", "{"], bogus=1),
             "shrink_many" + unexpected + "'bogus'"),
            (TypeError, lambda: quendra.shrink(42), "document must be str or bytes, not int"),
            (ValueError, lambda: quendra.shrink_many(["[]"], workers=0), "workers must be at least 1"),
            (ValueError, lambda: quendra.shrink_many(["[]"], errors="ignore"), "errors must be"),
        ]
        for error, call, message in cases:
            with self.subTest(message=message), self.assertRaisesRegex(error, "^" + re.escape(message)):
                call()

    def test_query_is_another_name_of_arguments(self):
        doc = json.dumps(records(12))
        options = dict(max_chars=700, array_strategy="condense", explain=True)
        want = quendra.shrink(doc, arguments="stars", **options).envelope
        self.assertEqual(quendra.shrink(doc, query="stars", **options).envelope, want)
        self.assertEqual(quendra.shrink_many([doc], query="stars", **options)[0].envelope, want)
        with self.assertRaisesRegex(TypeError, "both 'query' and 'arguments'"):
            quendra.shrink(doc, query="a", arguments="b")

    def test_shrink_value_default_and_non_finite_floats(self):
        value = {"when": date(2026, 12, 8), "price": [Decimal("1.50")]}
        self.assertEqual(quendra.shrink_value(value, default=str).value,
                         {"when": "2026-12-08", "price": ["1.50"]})
        for bad in (float("nan"), [1, {"x": float("inf")}], {"deep": [[-float("inf")]]}):
            with self.subTest(bad=bad), self.assertRaisesRegex(
                    quendra.QuendraError, "^value cannot be written as JSON: Out of range float"):
                quendra.shrink_value(bad)
        with self.assertRaisesRegex(quendra.QuendraError, "Out of range float"):
            quendra.shrink_value([Decimal("NaN")], default=float)

    def test_text_read_as_one_yaml_string_warns(self):
        page = "<html>\n<body>Bad gateway</body>\n</html>\n"
        message = ("the input is not JSON (unexpected character at line 1, column 1); its 3 lines "
                   'were read as a single YAML string; give input_format="json" to refuse such input')
        with warnings.catch_warnings(record=True) as seen:
            warnings.simplefilter("always")
            quiet = [quendra.shrink("a: 1\nb: 2\n"), quendra.shrink("one line of text"),
                     quendra.shrink(page, input_format="yaml")]
            loud = [quendra.shrink(page), quendra.shrink(page, format="yaml"),
                    quendra.shrink(page, indent=0, max_chars=10)]
        self.assertEqual([(w.category, str(w.message)) for w in seen],
                         [(quendra.QuendraWarning, message)] * len(loud))

    def test_versions_agree(self):
        cmake = (support.ROOT / "CMakeLists.txt").read_text()
        project = re.search(r"project\(quendra VERSION (\S+)", cmake)[1]
        self.assertEqual((quendra.__version__, quendra.library_version()), (project, project))


class ResultTest(unittest.TestCase):
    def test_text_value_and_report_are_read_from_the_envelope(self):
        api = (support.ROOT / "examples" / "api.json").read_text()
        result = quendra.shrink(api, max_chars=3000, indent=0, array_strategy="condense",
                                explain=True)
        envelope = json.loads(result.envelope)
        self.assertEqual((result.text, str(result), result.value),
                         (envelope["text"], envelope["text"], json.loads(envelope["text"])))
        report = json.loads(json.dumps(dataclasses.asdict(result.report)))
        # Without the rules and tokens the report has no members of theirs: they read as None.
        optional = ("values_redacted", "values_excluded", "budget_unit", "tokenizer", "token_counts")
        self.assertEqual([report.pop(key) for key in optional], [None] * 5)
        self.assertEqual(list(report.items()), list(envelope["report"].items()))
        self.assertIsInstance(result.report.field_decisions[0], quendra.FieldDecision)
        self.assertIsInstance(result.report.dropped_fields[0], quendra.DroppedField)
        with self.assertRaisesRegex(ValueError, 'format="json"'):
            quendra.shrink("a: 1\n").value

    def test_the_counts_of_the_rules_are_read_when_the_report_has_them(self):
        doc = json.dumps({"password": "hunter2", "log": "Bearer abc", "trace": [1], "id": 7})
        for options, counts in [({"redact": True, "exclude": "trace"}, (2, 1)),
                                ({"redact": False}, (0, 0)), ({"root": "/id"}, (None, None))]:
            with self.subTest(options=options):
                report = quendra.shrink(doc, **options).report
                self.assertEqual((report.values_redacted, report.values_excluded), counts)

    def test_results_and_errors_survive_pickling(self):
        names = ("text", "envelope", "report", "message", "index")
        for item in (quendra.shrink("[1, 2]", max_chars=3), quendra.shrink("a: 1\n"),
                     quendra.QuendraError("bad", 3)):
            copy = pickle.loads(pickle.dumps(item))
            self.assertEqual([getattr(copy, n, None) for n in names],
                             [getattr(item, n, None) for n in names])


class ShrinkManyTest(unittest.TestCase):
    def test_results_come_in_input_order_and_equal_shrink(self):
        # Documents of many sizes, JSON and YAML, text and bytes, on several threads.
        docs = [json.dumps(records(n % 9)) if n % 3 else "items:\n" + "  - x\n" * n for n in range(300)]
        docs = [doc.encode() if n % 4 == 1 else doc for n, doc in enumerate(docs)]
        want = [quendra.shrink(doc, max_chars=250).envelope for doc in docs]
        for workers in (None, 1, 2, 5):
            with self.subTest(workers=workers):
                got = quendra.shrink_many(iter(docs), workers=workers, max_chars=250)
                self.assertEqual([r.envelope for r in got], want)
        self.assertEqual(quendra.shrink_many([]), [])

    def test_options_are_checked_before_any_document(self):
        read = []

        def documents():
            for doc in ("[1]", "{"):
                read.append(doc)
                yield doc
        for errors in ("raise", "return"):
            with self.subTest(errors=errors), self.assertRaisesRegex(
                    quendra.QuendraError, "^invalid options: max_chars must be") as caught:
                quendra.shrink_many(documents(), max_chars=-1, errors=errors)
            self.assertIsNone(caught.exception.index)
        self.assertEqual(read, [])

    def test_the_first_failing_document_is_raised_after_all_ran(self):
        docs = ['{"a":1}', "[1,", "{}", b"\xff", "[2]"]
        for workers in (1, 3):
            with self.subTest(workers=workers):
                with self.assertRaisesRegex(quendra.QuendraError, "^invalid JSON input") as caught:
                    quendra.shrink_many(docs, workers=workers)
                self.assertEqual(caught.exception.index, 1)
                got = quendra.shrink_many(docs, workers=workers, errors="return")
                self.assertEqual([getattr(r, "index", "ok") for r in got], ["ok", 1, "ok", 3, "ok"])
                self.assertEqual(got[3].message, "input is not valid UTF-8")


class FindLibraryTest(unittest.TestCase):
    def test_lookup_order(self):
        with tempfile.TemporaryDirectory() as tmp:
            package = Path(tmp) / "quendra"
            package.mkdir()
            # The setting, then the package's own files, then its parent's.
            found = [Path(tmp) / "custom.so"] + [directory / name for directory in (package, Path(tmp))
                                                 for name in ("libquendra.so", "libquendra.so.0")]
            for path in found:
                path.write_bytes(b"")
            with mock.patch.dict(os.environ, {"QUENDRA_LIBRARY": str(found[0])}):
                self.assertEqual(quendra.find_library(package), str(found[0]))
                found[0].unlink()
                with self.assertRaisesRegex(quendra.QuendraError, "names no file: " + str(found[0])):
                    quendra.find_library(package)
            with mock.patch.dict(os.environ, {"QUENDRA_LIBRARY": ""}), \
                    mock.patch("ctypes.util.find_library", return_value=None):
                for path in found[1:]:
                    self.assertEqual(quendra.find_library(package), str(path))
                    path.unlink()
                self.assertEqual(quendra.find_library(package), "libquendra.so.0")
