"""The README's examples print what it says: ```console commands ("$ ", a final backslash goes
on in the next line), each with its output (stdout and stderr); ```c and ```python programs, with
a ```text block right after one as its output. All run in one scratch directory."""

import importlib.util
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

import support


def read_commands(start, lines):
    """A console block's commands as [command, index of its first output line, output]."""
    commands = []
    for index, line in enumerate(lines, start + 1):
        if commands and commands[-1][0].endswith("\\") and not commands[-1][2]:
            commands[-1][0:2] = [commands[-1][0] + "\n" + line, index]
        elif line.startswith("$ "):
            commands.append([line[2:], index, []])
        elif commands:
            commands[-1][2].append(line)
    return commands


class ReadmeTest(unittest.TestCase):
    def run_shell(self, command):
        done = subprocess.run(["bash", "-o", "pipefail", "-c", command], cwd=self.scratch,
                              env=self.env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=300)
        lines = done.stdout.decode().split("\n")
        return lines[:-1] if lines[-1] == "" else lines

    def run_program(self, lang, lines):
        path = self.scratch / ("example." + lang)
        path.write_text("\n".join(lines) + "\n", encoding="utf-8")
        if lang == "python":
            return self.run_shell(f"{sys.executable} {path}")
        lib = Path(support.LIBRARY).resolve().parent
        self.assertEqual(self.run_shell(f"cc -std=c11 -Wall -Wextra -Werror -I{support.ROOT}/include "
                                        f"{path} -o example -L{lib} -lquendra -Wl,-rpath,{lib}"), [])
        return self.run_shell("./example")

    def test_examples(self):
        self.scratch = Path(tempfile.mkdtemp(prefix="quendra-readme-"))
        self.addCleanup(shutil.rmtree, self.scratch, ignore_errors=True)
        (self.scratch / "examples").symlink_to(support.ROOT / "examples")
        self.env = dict(os.environ, HOME=str(self.scratch), LC_ALL="C.UTF-8",
                        PATH=f"{Path(support.CLI).resolve().parent}{os.pathsep}{os.environ['PATH']}",
                        PYTHONPATH=str(support.ROOT / "python"))
        text = (support.ROOT / "README.md").read_text(encoding="utf-8")
        blocks = list(re.finditer(r"^```(\w*)\n(.*?)^```$", text, re.M | re.S))
        self.assertTrue({"console", "c", "python"} <= {block[1] for block in blocks})
        for block, after in zip(blocks, blocks[1:] + [None]):
            lang, start, body = block[1], text.count("\n", 0, block.start(2)), block[2].split("\n")[:-1]
            if lang == "console":
                for command, first, expected in read_commands(start, body):
                    with self.subTest(command=command):
                        self.assertEqual(self.run_shell(command), expected, f"README.md line {first + 1}")
            elif lang == "python" and "Client(" in block[2]:
                continue  # a dask.distributed client: test_dask.py runs it with its cluster
            elif lang in ("c", "python"):
                with self.subTest(block=f"{lang} at README.md line {start}"):
                    modules = re.findall(r"^(?:import|from)\s+(\w+)", block[2], re.M)
                    missing = [m for m in modules if importlib.util.find_spec(m) is None]
                    if missing:
                        self.skipTest(f"{', '.join(missing)} not installed for {sys.executable}")
                    actual = self.run_program(lang, body)
                    # A text block right after the program (blank lines between) is its output.
                    if after and after[1] == "text" and not text[block.end():after.start()].strip():
                        self.assertEqual(actual, after[2].split("\n")[:-1],
                                         f"README.md line {text.count(chr(10), 0, after.start(2)) + 1}")
