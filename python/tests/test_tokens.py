"""Budgets in tokens: the counter a caller gives, its failures, and the batch."""

import json
import re
import threading
import types
import unittest
from unittest import mock

import support
import quendra

ADA = '{"name":"Ada Lovelace","born":1815,"tags":["math","poetry"]}'


def word_tokens(text):
    """A run of ASCII letters and digits is a token, and so is every other
    character but white space."""
    return len(re.findall(r"[A-Za-z0-9]+|[^A-Za-z0-9 \t\n\r]", text))


class Recorder:
    """A counter that remembers the texts and threads it was called with."""

    def __init__(self, count=word_tokens, fail_on=None):
        self.count, self.fail_on = count, fail_on
        self.texts, self.threads, self.lock = [], set(), threading.Lock()

    def __call__(self, text):
        with self.lock:
            self.texts.append(text)
            self.threads.add(threading.get_ident())
            if self.fail_on is not None and len(self.texts) >= self.fail_on:
                raise self.fail_on_error
        return self.count(text)

    fail_on_error = LookupError("no such tokenizer")


def records(n):
    return json.dumps([{"id": i, "name": "user %d" % i, "role": "dev", "note": "likes tea " * (i % 5)}
                       for i in range(n)])


class TokenBudgetTest(unittest.TestCase):
    def test_the_counter_measures_every_text(self):
        counter = Recorder()
        result = quendra.shrink(ADA, max_tokens=20, token_counter=counter)
        self.assertEqual(result.text, '{\n  "name": "Ada Lovelace",\n  "2 keys omitted": "…"\n}')
        self.assertEqual((result.report.input_chars, result.report.output_chars), (30, 20))
        self.assertEqual(counter.texts[-1], result.text)
        self.assertLessEqual(len(counter.texts), 2)
        # max_tokens is max_chars in budget_unit "tokens".
        spelled = quendra.shrink(ADA, max_chars=20, budget_unit="tokens", token_counter=word_tokens)
        self.assertEqual(spelled.envelope, result.envelope)

    def test_built_in_encodings_count_without_a_counter(self):
        doc = records(40)
        for tokenizer in (None, "o200k_base", "CL100K_BASE"):
            with self.subTest(tokenizer=tokenizer):
                extra = {} if tokenizer is None else {"tokenizer": tokenizer}
                r = quendra.shrink(doc, max_tokens=120, indent=0, **extra)
                name = (tokenizer or "o200k_base").lower()
                self.assertEqual(r.report.output_chars, quendra.count_tokens(r.text, name))
                self.assertEqual((r.report.budget_unit, r.report.tokenizer), ("tokens", name))
                self.assertTrue(r.report.fits and r.report.pruned)
                self.assertLessEqual(r.report.token_counts, 25)
        counter = Recorder()
        hosted = quendra.shrink(doc, max_tokens=120, token_counter=counter).report
        self.assertEqual((hosted.tokenizer, hosted.token_counts), ("host", len(counter.texts)))
        self.assertIsNone(quendra.shrink(doc, max_chars=120).report.tokenizer)

    def test_refusals(self):
        def counter_returning(value):
            def tokens(text):
                return value
            return tokens

        cases = [
            (TypeError, dict(max_tokens=5, max_chars=5, token_counter=len), "got both 'max_tokens' and 'max_chars'"),
            (TypeError, dict(max_tokens=5, budget_unit="bytes", token_counter=len), "max_tokens with budget_unit='bytes'"),
            (TypeError, dict(max_tokens=5, token_counter=len, tokenizer="o200k_base"),
             "got both 'tokenizer' and 'token_counter'"),
            (TypeError, dict(max_tokens=5, token_counter="len"), "token_counter that is not callable"),
            (quendra.QuendraError, dict(max_tokens=-1, token_counter=len), "invalid options: max_tokens must be"),
            (TypeError, dict(max_tokens=1, token_counter=counter_returning(True)),
             "counter_returning.<locals>.tokens returned bool True; it must return an int"),
            (TypeError, dict(max_tokens=1, token_counter=counter_returning(2.0)), "returned float 2.0"),
            (ValueError, dict(max_tokens=1, token_counter=counter_returning(-3)), "returned -3; it must return a count"),
            (ValueError, dict(max_tokens=1, token_counter=counter_returning(2 ** 64)), "returned 18446744073709551616"),
        ]
        for error, options, message in cases:
            with self.subTest(message=message), self.assertRaisesRegex(error, re.escape(message)):
                quendra.shrink("[1, 2, 3]", **options)

    def test_an_exception_in_the_counter_is_raised_as_itself(self):
        counter = Recorder(fail_on=2)
        try:
            quendra.shrink(records(20), max_tokens=10, token_counter=counter)
        except LookupError as error:
            caught = error
        self.assertIs(caught, Recorder.fail_on_error)
        self.assertEqual(len(counter.texts), 2)  # nothing was counted after it
        # Its traceback still ends where it was raised, inside the counter.
        frames, tb = [], caught.__traceback__
        while tb:
            frames.append(tb.tb_frame.f_code.co_name)
            tb = tb.tb_next
        self.assertEqual(frames[-1], "__call__")

    def test_batches_count_on_the_worker_threads_and_stop_at_a_failure(self):
        docs = [records(n % 17 + 3) for n in range(60)]
        want = [quendra.shrink(d, max_tokens=40, token_counter=word_tokens).envelope for d in docs]
        counter = Recorder()
        got = quendra.shrink_many(docs, workers=4, max_tokens=40, token_counter=counter)
        self.assertEqual([r.envelope for r in got], want)
        self.assertGreater(len(counter.threads), 1)
        self.assertNotIn(threading.get_ident(), counter.threads)
        for workers in (1, 3):
            with self.subTest(workers=workers):
                counter = Recorder(fail_on=30)
                with self.assertRaises(LookupError):
                    quendra.shrink_many(docs, workers=workers, errors="return", max_tokens=40,
                                        token_counter=counter)
                # Documents not yet started were not shrunk.
                self.assertLess(len(counter.texts), 30 + 2 * workers * 25)

    def test_a_library_without_token_budgets_serves_other_calls(self):
        old = quendra._Library(support.LIBRARY)
        old._lib = types.SimpleNamespace(quendra_shrink=old._lib.quendra_shrink)
        with mock.patch.object(quendra, "_loaded", [old]):
            self.assertTrue(quendra.shrink("[1]").report.fits)
            with self.assertRaisesRegex(quendra.QuendraError, "too old for token budgets"):
                quendra.shrink("[1]", max_tokens=5, token_counter=len)
            with self.assertRaisesRegex(quendra.QuendraError, "too old to count tokens"):
                quendra.count_tokens("x")


class CountTokensTest(unittest.TestCase):
    """count_tokens: the library's own o200k_base and cl100k_base counts."""

    def test_counts(self):
        rows = [
            ("hello world", None, 2),
            ("日本語のテキスト", "o200k_base", 6),
            ("日本語のテキスト", "CL100K_BASE", 8),
            (b"<|endoftext|>", "cl100k_base", 7),
            (memoryview(b"Don't STOP'LL"), "o200k_base", 4),
            ("", "", 0),
        ]
        for text, tokenizer, want in rows:
            with self.subTest(text=text, tokenizer=tokenizer):
                got = quendra.count_tokens(text) if tokenizer is None else quendra.count_tokens(text, tokenizer)
                self.assertEqual(got, want)

    def test_refusals(self):
        with self.assertRaisesRegex(ValueError, "unknown tokenizer 'p50k_base'"):
            quendra.count_tokens("x", "p50k_base")
        with self.assertRaisesRegex(ValueError, "not UTF-8"):
            quendra.count_tokens(b"\xed\xa0\x80")
        with self.assertRaisesRegex(ValueError, "not UTF-8"):
            quendra.count_tokens("lone \ud800 surrogate")
        with self.assertRaises(TypeError):
            quendra.count_tokens(42)
        with self.assertRaises(TypeError):
            quendra.count_tokens("x", tokenizer=None)
