"""shrink_many as the function of a Dask bag over an NDJSON file: partitions
in parallel threads, results in file order, a bad line kept as its error."""

import json
import tempfile
import unittest
from pathlib import Path

import support  # noqa: F401  (sets up the import path and library)
import quendra

try:
    import dask
    import dask.bag as db
except ImportError:  # pragma: no cover - depends on the machine
    dask = None


def envelope(line, **options):
    try:
        return quendra.shrink(line, **options).envelope
    except quendra.QuendraError as error:
        return "error: " + error.message


@unittest.skipIf(dask is None, "Dask is not installed (Debian: python3-dask)")
class DaskBagTest(unittest.TestCase):
    def test_bag_over_ndjson(self):
        lines = [json.dumps({"id": i, "note": "word " * (i % 40), "n": list(range(i % 30))})
                 for i in range(3000)]
        lines[1234] = '{"id": 1234, "n": [1, 2'
        options = {"max_chars": 80, "indent": 0}
        with tempfile.TemporaryDirectory() as tmp:
            path = Path(tmp) / "docs.ndjson"
            path.write_text("\n".join(lines) + "\n")
            bag = db.read_text(str(path), blocksize="32kB")
            self.assertGreater(bag.npartitions, 4)
            shrunk = bag.map_partitions(quendra.shrink_many, workers=2, errors="return",
                                        **options)
            got = shrunk.map(lambda r: r.envelope if isinstance(r, quendra.Result)
                             else "error: " + r.message)
            with dask.config.set(scheduler="threads"):
                result = got.compute()
        # Each line comes with its newline, which JSON takes as white space.
        self.assertEqual(result, [envelope(line + "\n", **options) for line in lines])
        self.assertTrue(result[1234].startswith("error: invalid JSON input"))


if __name__ == "__main__":
    unittest.main()
