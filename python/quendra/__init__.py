"""Shrink a JSON or YAML document so that its rendered text fits a character budget.

A thin ctypes binding of the quendra shared library::

    >>> import quendra
    >>> result = quendra.shrink(big_json_text, max_chars=2000)
    >>> result.text            # the shrunk document, JSON or YAML text
    >>> result.report.items_omitted

Options are the library's option keys, given as keyword arguments
(``max_chars``, ``indent``, ``format``, ``input_format``, ``field_scorer``,
``array_strategy``, ``max_samples``, ``keep_last_item``, ``string_head_chars``,
``string_section_chars``, ``string_min_section_chars``, ``min_partial_chars``,
``explain``, ``protect``, ``arguments``). The library validates them; a bad
option, like a bad document, raises :class:`QuendraError` with the library's
message.

The library is looked up in this order: the path in the environment variable
``QUENDRA_LIBRARY``; a ``libquendra.so`` next to this package; the system's
dynamic loader (``libquendra.so.0``). Calls release the GIL and may run in
several threads at once.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import dataclasses
import json
import os
import threading
from dataclasses import dataclass
from pathlib import Path
from typing import Any, List, Optional, Tuple, Union

__all__ = [
    "DroppedField",
    "FieldDecision",
    "QuendraError",
    "Report",
    "Result",
    "library_version",
    "shrink",
    "shrink_value",
]

_LIBRARY_NAMES = ("libquendra.so", "libquendra.so.0")


class QuendraError(Exception):
    """The library answered with an error envelope; ``message`` is its text."""

    def __init__(self, message: str) -> None:
        super().__init__(message)
        self.message = message


@dataclass(frozen=True)
class FieldDecision:
    """How condensing (with ``explain=True``) scored one field of a record array."""

    path: str
    score: float
    kept: bool
    relevance: float


@dataclass(frozen=True)
class DroppedField:
    """A field that condensing left out of the records of an array."""

    path: str
    items: int


@dataclass(frozen=True)
class Report:
    """What shrinking did: the report of the envelope, one attribute per member."""

    input_chars: int
    output_chars: int
    max_chars: int
    format: str
    input_format: str
    pruned: bool
    fits: bool
    strings_truncated: int
    arrays_sampled: int
    items_omitted: int
    objects_trimmed: int
    keys_omitted: int
    containers_collapsed: int
    arrays_condensed: int
    protected_omitted: int
    field_decisions: Tuple[FieldDecision, ...]
    fields_dropped: int
    dropped_fields: Tuple[DroppedField, ...]

    @classmethod
    def from_dict(cls, report: dict) -> "Report":
        """Builds the record from the envelope's "report" object."""
        names = {f.name for f in dataclasses.fields(cls)}
        fields = {key: value for key, value in report.items() if key in names}
        fields["field_decisions"] = tuple(FieldDecision(**d) for d in report["field_decisions"])
        fields["dropped_fields"] = tuple(DroppedField(**d) for d in report["dropped_fields"])
        return cls(**fields)


@dataclass(frozen=True)
class Result:
    """A successful shrink: the rendered ``text``, its ``report`` and the raw ``envelope``."""

    text: str
    report: Report
    envelope: str

    def __str__(self) -> str:
        return self.text


class _Library:
    """The loaded shared library with its four functions typed."""

    def __init__(self, path: str) -> None:
        self.path = path
        lib = ctypes.CDLL(path)
        lib.quendra_shrink.argtypes = [
            ctypes.c_char_p,
            ctypes.c_size_t,
            ctypes.c_char_p,
            ctypes.c_size_t,
            ctypes.POINTER(ctypes.c_size_t),
        ]
        lib.quendra_shrink.restype = ctypes.c_void_p
        lib.quendra_free.argtypes = [ctypes.c_void_p, ctypes.c_size_t]
        lib.quendra_free.restype = None
        lib.quendra_version.argtypes = []
        lib.quendra_version.restype = ctypes.c_char_p
        self._lib = lib

    def shrink(self, document: bytes, options: bytes) -> bytes:
        """Calls quendra_shrink and returns the envelope bytes, freeing the library's buffer."""
        length = ctypes.c_size_t(0)
        pointer = self._lib.quendra_shrink(
            document, len(document), options, len(options), ctypes.byref(length)
        )
        try:
            return ctypes.string_at(pointer, length.value)
        finally:
            self._lib.quendra_free(pointer, length.value)

    def version(self) -> str:
        return self._lib.quendra_version().decode("ascii")


def find_library(package_dir: Optional[Path] = None) -> str:
    """Returns the path or name of the library to load, in lookup order.

    ``QUENDRA_LIBRARY`` wins when set (it must name an existing file); then a
    library file inside ``package_dir`` (default: this package's directory)
    or its parent; then the name the system loader resolves.
    """
    configured = os.environ.get("QUENDRA_LIBRARY")
    if configured:
        if not os.path.isfile(configured):
            raise QuendraError(f"QUENDRA_LIBRARY names no file: {configured}")
        return configured
    here = package_dir if package_dir is not None else Path(__file__).resolve().parent
    for directory in (here, here.parent):
        for name in _LIBRARY_NAMES:
            candidate = directory / name
            if candidate.is_file():
                return str(candidate)
    return ctypes.util.find_library("quendra") or "libquendra.so.0"


_loaded: List[_Library] = []
_load_lock = threading.Lock()


def _library() -> _Library:
    """Loads the library on first use."""
    with _load_lock:
        if not _loaded:
            path = find_library()
            try:
                _loaded.append(_Library(path))
            except OSError as error:
                raise QuendraError(
                    f"cannot load the quendra library ({path}): {error}; "
                    "set QUENDRA_LIBRARY to the path of libquendra.so"
                ) from None
        return _loaded[0]


def library_version() -> str:
    """The version text of the loaded library, such as "0.2.1"."""
    return _library().version()


def _options_text(options: dict) -> bytes:
    try:
        return json.dumps(options, ensure_ascii=False, allow_nan=False).encode("utf-8")
    except (TypeError, ValueError) as error:
        raise QuendraError(f"options cannot be written as JSON: {error}") from None


def shrink(document: Union[str, bytes], **options: Any) -> Result:
    """Shrinks a JSON or YAML document so that its rendered text fits ``max_chars``.

    ``document`` is text, or bytes that the library checks to be UTF-8.
    Keyword arguments are the library's options, for example
    ``shrink(text, max_chars=2000, array_strategy="condense", protect=["id"])``.
    Returns a :class:`Result`; a result that cannot be brought within the
    budget is still returned, with ``report.fits`` false. Raises
    :class:`QuendraError` when the library answers with an error (bad options,
    unreadable document).
    """
    if isinstance(document, str):
        data = document.encode("utf-8", "surrogatepass")
    elif isinstance(document, (bytes, bytearray, memoryview)):
        data = bytes(document)
    else:
        raise TypeError(f"document must be str or bytes, not {type(document).__name__}")
    envelope = _library().shrink(data, _options_text(options)).decode("utf-8")
    parsed = json.loads(envelope)
    if not parsed["ok"]:
        raise QuendraError(parsed["error"])
    return Result(text=parsed["text"], report=Report.from_dict(parsed["report"]), envelope=envelope)


def shrink_value(value: Any, **options: Any) -> Result:
    """Shrinks a Python value (dicts, lists, strings, numbers, booleans, None).

    The value is written as JSON with the standard :mod:`json` module (non-finite
    floats are refused with :class:`QuendraError`) and shrunk like
    :func:`shrink`; ``json.loads(result.text)`` gives the shrunk value back
    when the output format is JSON.
    """
    try:
        text = json.dumps(value, ensure_ascii=False, allow_nan=False)
    except (TypeError, ValueError) as error:
        raise QuendraError(f"value cannot be written as JSON: {error}") from None
    return shrink(text, **options)
