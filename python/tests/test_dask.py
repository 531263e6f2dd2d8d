"""shrink_many over a Dask bag of NDJSON lines: threads, line order, a bad line as its error."""

import json
import unittest

import support  # noqa: F401  (sets up the import path and library)
import quendra

try:
    import dask
    import dask.bag as db
except ImportError:  # pragma: no cover - depends on the machine
    dask = None


def answer(result):
    return result.envelope if isinstance(result, quendra.Result) else "error: " + result.message


@unittest.skipIf(dask is None, "Dask is not installed (Debian: python3-dask)")
class DaskBagTest(unittest.TestCase):
    def test_partitions_on_threads(self):
        lines = [json.dumps({"id": i, "note": "word " * (i % 40), "n": list(range(i % 30))}) + "\n"
                 for i in range(3000)]
        lines[1234] = '{"id": 1234, "n": [1, 2\n'
        options = {"errors": "return", "max_chars": 80, "indent": 0}
        bag = db.from_sequence(lines, npartitions=12)
        with dask.config.set(scheduler="threads"):
            got = bag.map_partitions(quendra.shrink_many, workers=2, **options).map(answer).compute()
        self.assertEqual(got, [answer(result) for result in quendra.shrink_many(lines, **options)])
