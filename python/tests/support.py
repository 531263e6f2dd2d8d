"""The repository, the built library and command; ``make pytest`` names the
build's files in QUENDRA_LIBRARY and QUENDRA_CLI, else build/ is used."""

import json
import os
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
LIBRARY = os.environ.setdefault("QUENDRA_LIBRARY", str(ROOT / "build" / "libquendra.so"))
CLI = os.environ.get("QUENDRA_CLI", str(ROOT / "build" / "quendra"))
if str(ROOT / "python") not in sys.path:
    sys.path.insert(0, str(ROOT / "python"))


def envelope(document, **options):
    """The library's own answer for a document, errors included, past the binding's checks."""
    import quendra
    return quendra._library().caller(json.dumps(options).encode())(document.encode())
