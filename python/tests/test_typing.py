"""mypy reads the binding's types: a misspelt option or a wrong value type is
an error at the call, and the binding itself passes --strict."""

import os
import re
import subprocess
import sys
import tempfile
import textwrap
import unittest
from pathlib import Path

import support

try:
    import mypy.version
except ImportError:  # pragma: no cover - depends on the machine
    mypy = None

USER_CODE = textwrap.dedent(
    """\
    from typing import List, Union
    import quendra

    good: quendra.Result = quendra.shrink("[]", max_chars=10, format="yaml", protect=["id"])
    many: List[quendra.Result] = quendra.shrink_many([b"[]"], workers=2, arguments={"q": 1})
    mixed: List[Union[quendra.Result, quendra.QuendraError]] = quendra.shrink_many(
        ["[]"], errors="return")
    quendra.shrink("[]", max_char=10)
    quendra.shrink_value({}, indnt=2)
    quendra.shrink_many(["[]"], array_strategy="random")
    quendra.shrink("[]", keep_last_item="yes")
    bad: List[quendra.Result] = quendra.shrink_many(["[]"], errors="return")
    """
)

# (line, what mypy must say there)
EXPECTED = [
    (8, 'Unexpected keyword argument "max_char" for "shrink"; did you mean "max_chars"?'),
    (9, 'Unexpected keyword argument "indnt" for "shrink_value"; did you mean "indent"?'),
    (10, 'No overload variant of "shrink_many" matches argument types'),
    (11, 'Argument "keep_last_item" to "shrink" has incompatible type "str"; expected "bool"'),
    (12, "Incompatible types in assignment"),
]


@unittest.skipIf(mypy is None, "mypy is not installed (Debian: python3-mypy)")
class MypyTest(unittest.TestCase):
    def mypy(self, *args):
        command = [sys.executable, "-m", "mypy", "--no-incremental", "--cache-dir", os.devnull]
        # Keyword options typed with Unpack are checked by default from mypy 1.7 on.
        if tuple(int(p) for p in re.findall(r"\d+", mypy.version.__version__)[:2]) < (1, 7):
            command.append("--enable-incomplete-feature=Unpack")
        env = dict(os.environ, MYPYPATH=str(support.ROOT / "python"))
        done = subprocess.run(command + list(args), capture_output=True, text=True, env=env,
                              timeout=300)
        return done.returncode, done.stdout

    def test_calls_are_checked(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = Path(tmp) / "user.py"
            path.write_text(USER_CODE)
            status, out = self.mypy(str(path))
        errors = {}
        for line in out.splitlines():
            match = re.match(r".*user\.py:(\d+): error: (.*)", line)
            if match:
                errors.setdefault(int(match.group(1)), match.group(2))
        self.assertEqual(status, 1, out)
        self.assertEqual(sorted(errors), [line for line, _ in EXPECTED], out)
        for line, message in EXPECTED:
            self.assertIn(message, errors[line])

    def test_the_binding_passes_strict(self):
        status, out = self.mypy("--strict", "-p", "quendra")
        self.assertEqual(status, 0, out)


if __name__ == "__main__":
    unittest.main()
