"""mypy reads the binding's types: a misspelt option or a wrong type is an error at the call,
and the binding itself passes --strict."""

import os
import re
import subprocess
import sys
import unittest

import support

try:
    import mypy.version
except ImportError:  # pragma: no cover - depends on the machine
    mypy = None

# User code; "# E: text" marks a line where mypy must report an error with that text.
USER_CODE = """\
from typing import List, Optional, Union
import quendra
a: quendra.Result = quendra.shrink("[]", max_chars=10, format="yaml", protect=["id"])
b: List[quendra.Result] = quendra.shrink_many([b"[]"], workers=2, arguments={"q": 1})
c: List[Union[quendra.Result, quendra.QuendraError]] = quendra.shrink_many([], errors="return")
e: Optional[int] = quendra.shrink("[]", root="", exclude=["a"], redact=True).report.values_redacted
quendra.shrink("[]", redact="yes")  # E: incompatible type "str"; expected "bool"
quendra.shrink("[]", max_char=10)  # E: "shrink"; did you mean "max_chars"?
quendra.shrink_value({}, indnt=2)  # E: "shrink_value"; did you mean "indent"?
quendra.shrink_many(["[]"], array_strategy="random")  # E: No overload variant of "shrink_many"
quendra.shrink("[]", keep_last_item="yes")  # E: incompatible type "str"; expected "bool"
d: List[quendra.Result] = quendra.shrink_many([], errors="return")  # E: Incompatible types
g: quendra.Result = quendra.shrink("[]", max_tokens=50, token_counter=lambda s: len(s.split()))
f: List[quendra.Result] = quendra.shrink_many(["[]"], max_tokens=9, token_counter=len, query="q")
quendra.shrink("[]", max_tokens=50, token_counter=lambda s: s)  # E: incompatible type "Callable[[str], str]"
quendra.shrink_value({}, max_tokens="50", token_counter=len)  # E: incompatible type "str"
"""


@unittest.skipIf(mypy is None, "mypy is not installed (Debian: python3-mypy)")
class MypyTest(unittest.TestCase):
    def test_calls_are_checked_and_the_binding_passes_strict(self):
        command = [sys.executable, "-m", "mypy", "--no-incremental", "--cache-dir", os.devnull]
        # Keyword options typed with Unpack are checked by default from mypy 1.7 on.
        if tuple(int(p) for p in re.findall(r"\d+", mypy.version.__version__)[:2]) < (1, 7):
            command.append("--enable-incomplete-feature=Unpack")
        marked = {str(n): line.split("# E: ")[1]
                  for n, line in enumerate(USER_CODE.splitlines(), 1) if "# E: " in line}
        for args, want in ((["--strict", "-p", "quendra"], {}), (["-c", USER_CODE], marked)):
            with self.subTest(args=args[0]):
                done = subprocess.run(command + args, capture_output=True, text=True, timeout=300,
                                      env=dict(os.environ, MYPYPATH=str(support.ROOT / "python")))
                # The first error of each line.
                errors = dict(reversed(re.findall(r"^\S+?:(\d+): error: (.*)", done.stdout, re.M)))
                self.assertEqual((done.returncode, sorted(errors)), (1 if want else 0, sorted(want)),
                                 done.stdout)
                for n, message in errors.items():
                    self.assertIn(want[n], message)
