"""The README's examples run, and print what the README says they print.

- A ```console block holds commands after "$ " (a line ending in a backslash
  continues on the next line) each followed by its expected output, standard
  output and standard error together.
- A ```c block is compiled against the built library and run; a ```python
  block is run with the binding by this interpreter, or skipped when a module
  it imports is missing here (Dask, say). When a ```text block follows
  directly, it is the expected output.
- ```sh blocks (set-up commands such as make and cmake) are only shown.

All of them run in one scratch directory that holds a link to examples/, with
the directory of the built command first on PATH, as the README tells.
QUENDRA_UPDATE_README=1 writes the actual outputs into the README instead of
comparing them.
"""

import importlib.util
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
from dataclasses import dataclass
from pathlib import Path
from typing import List, Optional

import support

README = support.ROOT / "README.md"
FENCE = re.compile(r"^```(\w*)\s*$")


@dataclass
class Block:
    lang: str
    start: int  # index of the first content line
    lines: List[str]


def read_blocks(lines):
    blocks, lang, start = [], None, 0
    for i, line in enumerate(lines):
        match = FENCE.match(line)
        if not match:
            continue
        if lang is None:
            lang, start = match.group(1), i + 1
        else:
            blocks.append(Block(lang, start, lines[start:i]))
            lang = None
    return blocks


@dataclass
class Command:
    text: str
    output_start: int  # line index in the README of the first output line
    expected: List[str]


def read_commands(block):
    commands, current, continuing = [], None, False
    for offset, line in enumerate(block.lines):
        if continuing:
            current.text += "\n" + line
            continuing = line.endswith("\\")
            current.output_start = block.start + offset + 1
        elif line.startswith("$ "):
            current = Command(line[2:], block.start + offset + 1, [])
            continuing = line.endswith("\\")
            commands.append(current)
        elif current is not None:
            current.expected.append(line)
    return commands


def output_lines(text):
    lines = text.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    return lines


def missing_modules(block):
    """The top-level modules that a Python block imports and this interpreter lacks."""
    names = []
    for line in block.lines:
        match = re.match(r"(?:import|from)\s+(\w+)", line)
        if match and importlib.util.find_spec(match.group(1)) is None:
            names.append(match.group(1))
    return list(dict.fromkeys(names))


class ReadmeTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = Path(tempfile.mkdtemp(prefix="quendra-readme-"))
        (cls.scratch / "examples").symlink_to(support.ROOT / "examples")
        # As the README says: the build directory first on PATH.
        bin_dir = Path(support.CLI).resolve().parent
        cls.env = dict(
            os.environ,
            PATH=f"{bin_dir}{os.pathsep}{os.environ.get('PATH', '')}",
            PYTHONPATH=str(support.ROOT / "python"),
            HOME=str(cls.scratch),
            LC_ALL="C.UTF-8",
        )
        cls.lines = README.read_text(encoding="utf-8").split("\n")
        cls.replacements = []  # (first line, line count, new lines)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch, ignore_errors=True)
        if os.environ.get("QUENDRA_UPDATE_README") and cls.replacements:
            lines = list(cls.lines)
            for first, count, new in sorted(cls.replacements, reverse=True):
                lines[first:first + count] = new
            README.write_text("\n".join(lines), encoding="utf-8")

    def check(self, expected, actual, first_line):
        if os.environ.get("QUENDRA_UPDATE_README"):
            if expected != actual:
                self.replacements.append((first_line, len(expected), actual))
            return
        self.assertEqual(actual, expected, f"README.md line {first_line + 1}")

    def run_shell(self, command):
        done = subprocess.run(
            ["bash", "-o", "pipefail", "-c", command], cwd=self.scratch, env=self.env,
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300,
        )
        return done.stdout.decode("utf-8")

    def following_text(self, blocks, k) -> Optional[Block]:
        if k + 1 < len(blocks) and blocks[k + 1].lang == "text":
            between = self.lines[blocks[k].start + len(blocks[k].lines) + 1:blocks[k + 1].start - 1]
            if all(not line.strip() for line in between):
                return blocks[k + 1]
        return None

    def test_examples(self):
        blocks = read_blocks(self.lines)
        kinds = {b.lang for b in blocks}
        self.assertTrue({"console", "c", "python"} <= kinds, kinds)
        for k, block in enumerate(blocks):
            if block.lang == "console":
                for command in read_commands(block):
                    with self.subTest(command=command.text):
                        actual = output_lines(self.run_shell(command.text))
                        self.check(command.expected, actual, command.output_start)
            elif block.lang in ("c", "python"):
                with self.subTest(block=f"{block.lang} at line {block.start}"):
                    missing = missing_modules(block) if block.lang == "python" else []
                    if missing:
                        self.skipTest(f"{', '.join(missing)} not installed for {sys.executable}")
                    actual = output_lines(self.run_program(block))
                    expected = self.following_text(blocks, k)
                    if expected is not None:
                        self.check(expected.lines, actual, expected.start)

    def run_program(self, block):
        source = "\n".join(block.lines) + "\n"
        if block.lang == "python":
            path = self.scratch / "example.py"
            path.write_text(source, encoding="utf-8")
            return self.run_shell(f"{sys.executable} {path}")
        path = self.scratch / "example.c"
        path.write_text(source, encoding="utf-8")
        lib_dir = Path(support.LIBRARY).resolve().parent
        include = support.ROOT / "include"
        compiled = self.run_shell(
            f"cc -std=c11 -Wall -Wextra -Werror -I{include} {path} -o {self.scratch}/example "
            f"-L{lib_dir} -lquendra -Wl,-rpath,{lib_dir}"
        )
        self.assertEqual(compiled, "", "the README's C example does not compile")
        return self.run_shell(f"{self.scratch}/example")


if __name__ == "__main__":
    unittest.main()
