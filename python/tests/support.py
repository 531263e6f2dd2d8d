"""Locations shared by the tests: the repository, the built library and command.

``make pytest`` sets QUENDRA_LIBRARY and QUENDRA_CLI to the build's files; run
by hand, the tests fall back to the default build directory.
"""

import os
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
BUILD = ROOT / "build"

os.environ.setdefault("QUENDRA_LIBRARY", str(BUILD / "libquendra.so"))
CLI = os.environ.get("QUENDRA_CLI", str(BUILD / "quendra"))
LIBRARY = os.environ["QUENDRA_LIBRARY"]

if str(ROOT / "python") not in sys.path:
    sys.path.insert(0, str(ROOT / "python"))
