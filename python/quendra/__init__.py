"""Shrink a JSON or YAML document so that its rendered text fits a character budget.

A thin ctypes binding of the quendra shared library::

    >>> import quendra
    >>> result = quendra.shrink(big_json_text, max_chars=2000)
    >>> result.text            # the shrunk document, JSON or YAML text
    >>> result.value           # the same, read back as Python objects (JSON output)
    >>> result.report.items_omitted
    >>> quendra.shrink_many(documents, max_chars=500)   # many documents on threads

Options are keyword arguments, declared with their types in :class:`Options`
(``max_chars``, ``budget_unit``, ``indent``, ``format``, ``input_format``,
``field_scorer``, ``array_strategy``, ``max_samples``, ``keep_last_item``,
``string_head_chars``, ``string_section_chars``, ``string_min_section_chars``,
``min_partial_chars``, ``explain``, ``protect``, ``arguments``, ``root``, ``exclude``,
``redact``, ``redact_paths``, ``tokenizer``). Only the options given are sent to the library.
A keyword that names no option raises :class:`TypeError` at the call; a bad
value, like a bad document, raises :class:`QuendraError` with the library's
message. ``query`` is another name for ``arguments``.

Budgets in a language model's tokens are counted by a built-in encoding
(o200k_base, or ``tokenizer="cl100k_base"``), or by your own counter::

    >>> quendra.shrink(text, max_tokens=500)
    >>> quendra.shrink(text, max_tokens=500, token_counter=my_model_tokens)

The library is looked up in this order: the path in the environment variable
``QUENDRA_LIBRARY``; a ``libquendra.so`` inside this package (where
``pip install`` puts it) or next to it; the system's dynamic loader
(``libquendra.so.0``). Calls release the GIL and may run in several threads
at once.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import dataclasses
import difflib
import json
import os
import sys
import threading
import warnings
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass
from pathlib import Path
from typing import (
    TYPE_CHECKING,
    Any,
    Callable,
    Dict,
    Iterable,
    List,
    Literal,
    Optional,
    Sequence,
    Tuple,
    TypedDict,
    Union,
    overload,
)

if sys.version_info >= (3, 11):
    from typing import Unpack
elif TYPE_CHECKING:
    from typing_extensions import Unpack

__version__ = "0.4.0"

__all__ = [
    "DroppedField",
    "FieldDecision",
    "Options",
    "QuendraError",
    "QuendraWarning",
    "Report",
    "Result",
    "__version__",
    "count_tokens",
    "library_version",
    "shrink",
    "shrink_many",
    "shrink_value",
]

_LIBRARY_NAMES = ("libquendra.so", "libquendra.so.0")

Document = Union[str, bytes, bytearray, memoryview]


class Options(TypedDict, total=False):
    """The library's options: each is an optional keyword argument of
    :func:`shrink`, :func:`shrink_value` and :func:`shrink_many`.

    The string types list the canonical spellings; the library also takes
    them in any ASCII case (and ``field_scorer`` with ``-`` for ``_``). Values
    go to the library unchanged, and it checks them.
    """

    max_chars: int
    budget_unit: Literal["chars", "bytes", "utf16", "tokens"]
    indent: int
    format: Literal["auto", "json", "yaml", "yml"]
    input_format: Literal["auto", "json", "yaml", "yml"]
    field_scorer: Literal["heuristic", "compact", "key_order"]
    array_strategy: Literal["sample", "condense"]
    max_samples: int
    keep_last_item: bool
    string_head_chars: int
    string_section_chars: int
    string_min_section_chars: int
    min_partial_chars: int
    explain: bool
    protect: Union[str, Sequence[str]]
    arguments: Any
    root: str
    exclude: Union[str, Sequence[str]]
    redact: bool
    redact_paths: Union[str, Sequence[str]]
    tokenizer: Literal["o200k_base", "cl100k_base"]


_OPTION_NAMES = frozenset(Options.__annotations__)


class QuendraError(Exception):
    """The library answered with an error envelope; ``message`` is its text.

    From :func:`shrink_many`, ``index`` is the position of the document that
    failed; it is None otherwise.
    """

    def __init__(self, message: str, index: Optional[int] = None) -> None:
        super().__init__(message)
        self.message = message
        self.index = index

    def __reduce__(self) -> Tuple[Any, ...]:
        return (type(self), (self.message, self.index))


class QuendraWarning(UserWarning):
    """Something about a document that the caller likely did not mean, such as
    a text that is not JSON read as one YAML string. Filter it, or turn it into
    an error, with the :mod:`warnings` module."""


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
    """What shrinking did: the report of the envelope, one attribute per member.

    ``values_redacted`` and ``values_excluded`` are None unless the options
    named ``exclude``, ``redact`` or ``redact_paths``; ``budget_unit``,
    ``tokenizer`` (the encoding that counted, or "host" for a
    ``token_counter``) and ``token_counts`` (the distinct texts counted) are
    None unless the budget was in tokens.
    """

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
    values_redacted: Optional[int] = None
    values_excluded: Optional[int] = None
    budget_unit: Optional[str] = None
    tokenizer: Optional[str] = None
    token_counts: Optional[int] = None

    @classmethod
    def from_dict(cls, report: Dict[str, Any]) -> "Report":
        """Builds the record from the envelope's "report" object."""
        fields = {key: value for key, value in report.items() if key in _REPORT_MEMBERS}
        fields["field_decisions"] = tuple(FieldDecision(**d) for d in report["field_decisions"])
        fields["dropped_fields"] = tuple(DroppedField(**d) for d in report["dropped_fields"])
        for key in _OPTIONAL_REPORT_MEMBERS - fields.keys():
            fields[key] = None
        missing = _REPORT_MEMBERS - fields.keys()
        if missing:
            raise QuendraError(f"the library's report lacks {', '.join(sorted(missing))}")
        # Filling the instance's dictionary directly skips the frozen
        # dataclass's per-field __setattr__, which costs more than the parse.
        record = object.__new__(cls)
        record.__dict__.update(fields)
        return record


_REPORT_MEMBERS = frozenset(f.name for f in dataclasses.fields(Report))
# The members that only some reports have.
_OPTIONAL_REPORT_MEMBERS = frozenset({"values_redacted", "values_excluded", "budget_unit", "tokenizer",
                                      "token_counts"})

# The json module's own string reader (in C): reads a JSON string from the
# character after its opening quote, returns the text and the end index.
_scanstring: Callable[[str, int], Tuple[str, int]] = json.decoder.scanstring  # type: ignore[attr-defined]

# A success envelope starts with these characters, then the text as a JSON
# string, then the report object: the library writes its members in this
# fixed order and without spaces.
_OK_PREFIX = '{"ok":true,"text":"'
_REPORT_PREFIX = ',"report":'


class Result:
    """A successful shrink.

    ``text`` is the shrunk document (JSON or YAML text), ``report`` a
    :class:`Report` of what was done, ``value`` the text read back as Python
    objects (JSON output only) and ``envelope`` the library's raw answer.
    Each is read from the envelope when first used, so that a batch of calls
    does only the library's work while the threads share the GIL.
    """

    __slots__ = ("envelope", "_text", "_report_start", "_report")

    envelope: str

    def __init__(self, envelope: str) -> None:
        self.envelope = envelope
        self._text: Optional[str] = None
        self._report_start = 0
        self._report: Optional[Report] = None

    def _read_text(self) -> str:
        text, end = _scanstring(self.envelope, len(_OK_PREFIX))
        if not self.envelope.startswith(_REPORT_PREFIX, end):
            raise QuendraError(f"unexpected answer from the library: {self.envelope[:80]}")
        self._text, self._report_start = text, end + len(_REPORT_PREFIX)
        return text

    @property
    def text(self) -> str:
        """The shrunk document: JSON without a final newline, or YAML ending in one."""
        text = self._text
        return text if text is not None else self._read_text()

    @property
    def report(self) -> Report:
        """The envelope's report as a :class:`Report`."""
        if self._report is None:
            if self._text is None:
                self._read_text()
            members = json.loads(self.envelope[self._report_start:-1])
            self._report = Report.from_dict(members)
        return self._report

    @property
    def value(self) -> Any:
        """The shrunk document as Python objects (dicts, lists, str, int, float, bool, None).

        Raises ValueError when the output is YAML: ask for ``format="json"``
        to get values from a YAML input.
        """
        if self.report.format != "json":
            raise ValueError(
                f'Result.value reads JSON output, and this result is {self.report.format}; '
                'shrink with format="json" to get values'
            )
        return json.loads(self.text)

    def __str__(self) -> str:
        return self.text

    def __repr__(self) -> str:
        return f"Result(text={self.text!r}, report={self.report!r})"

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Result):
            return NotImplemented
        return self.envelope == other.envelope

    def __hash__(self) -> int:
        return hash(self.envelope)

    def __getstate__(self) -> str:
        return self.envelope

    def __setstate__(self, envelope: str) -> None:
        self.__init__(envelope)  # type: ignore[misc]


def _result(envelope: str, index: Optional[int] = None) -> Result:
    """Reads an envelope: the Result, or QuendraError for an error envelope."""
    if envelope.startswith(_OK_PREFIX):
        return Result(envelope)
    parsed = json.loads(envelope)
    if not parsed["ok"]:
        raise QuendraError(parsed["error"], index)
    raise QuendraError(f"unexpected answer from the library: {envelope[:80]}", index)


# The library's token counter: text pointer, length in bytes, context -> count.
_COUNTER = ctypes.CFUNCTYPE(ctypes.c_size_t, ctypes.c_void_p, ctypes.c_size_t, ctypes.c_void_p)
_SIZE_MAX = ctypes.c_size_t(-1).value
TokenCounter = Callable[[str], int]


class _Counter:
    """A token counter as the library calls it. ctypes would print and drop an
    exception raised in a callback, and cut an odd return value down to a
    machine word, so each count is checked here; on a failure the callback
    keeps the exception and answers SIZE_MAX, which ends the library's call,
    and :meth:`take_error` hands the exception to the caller."""

    def __init__(self, count: TokenCounter) -> None:
        self.count = count
        self.error: Optional[BaseException] = None
        self.callback = _COUNTER(self._call)

    def _call(self, text: Optional[int], length: int, _context: Optional[int]) -> int:
        try:
            n = self.count(ctypes.string_at(text, length).decode("utf-8") if text and length else "")
            if not isinstance(n, int) or isinstance(n, bool):
                raise TypeError(f"token_counter {self._name()} returned {type(n).__name__} "
                                f"{n!r}; it must return an int")
            if not 0 <= n < _SIZE_MAX:
                raise ValueError(f"token_counter {self._name()} returned {n}; "
                                 f"it must return a count from 0 to {_SIZE_MAX - 1}")
            return n
        except BaseException as error:  # noqa: B902 - every failure goes back to the caller
            self.error = error
            return _SIZE_MAX

    def _name(self) -> str:
        return getattr(self.count, "__qualname__", None) or repr(self.count)

    def take_error(self) -> Optional[BaseException]:
        error, self.error = self.error, None
        return error


def _probe_count(_text: str) -> int:
    return 0


class _Library:
    """The loaded shared library with its functions typed."""

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
        # Freeing and the version are quick: called through a PyDLL handle
        # they keep the GIL, which spares a thread switch per document when
        # several threads shrink at once. Only the shrinking calls release it.
        quick = ctypes.PyDLL(path)
        for handle in (lib, quick):
            handle.quendra_free.argtypes = [ctypes.c_void_p, ctypes.c_size_t]
            handle.quendra_free.restype = None
            handle.quendra_version.argtypes = []
            handle.quendra_version.restype = ctypes.c_char_p
        self._lib = lib
        self._quick = quick
        self._bound_functions: Dict[str, Any] = {}

    def _bound(self, name: str, purpose: str, since: str, argtypes: List[Any], restype: Any) -> Any:
        """The exported function ``name``, typed on first use: a library from
        before it still serves every other call, and says so for this one."""
        function = self._bound_functions.get(name)
        if function is None:
            try:
                function = getattr(self._lib, name)
            except AttributeError:
                raise QuendraError(
                    f"the quendra library {self.path} (version {self.version()}) is too old "
                    f"{purpose}: it has no {name} ({since} or later has)"
                ) from None
            function.argtypes = argtypes
            function.restype = restype
            self._bound_functions[name] = function
        return function

    def count_tokens(self) -> Any:
        """quendra_count_tokens, bound on first use."""
        return self._bound("quendra_count_tokens", "to count tokens", "0.4.0",
                           [ctypes.c_char_p, ctypes.c_size_t, ctypes.c_char_p, ctypes.c_size_t],
                           ctypes.c_size_t)

    def shrink_with_counter(self) -> Any:
        """quendra_shrink_with_counter, bound on first use."""
        return self._bound("quendra_shrink_with_counter", "for token budgets", "0.3.0",
                           [ctypes.c_char_p, ctypes.c_size_t, ctypes.c_char_p, ctypes.c_size_t,
                            _COUNTER, ctypes.c_void_p, ctypes.POINTER(ctypes.c_size_t)],
                           ctypes.c_void_p)

    def caller(self, options: bytes, count: Optional[TokenCounter] = None) -> Callable[[bytes], str]:
        """A function that shrinks one UTF-8 document under ``options`` and
        returns the envelope text; with ``count``, texts measured in tokens are
        counted by it, and an exception it raised is raised from the call. The
        function keeps its own length cell, so one caller must serve one thread
        at a time."""
        free = self._quick.quendra_free
        string_at = ctypes.string_at
        length = ctypes.c_size_t(0)
        length_ref = ctypes.byref(length)
        options_len = len(options)

        def answer(pointer: int) -> str:
            n = length.value
            try:
                return string_at(pointer, n).decode("utf-8")
            finally:
                free(pointer, n)

        if count is None:
            shrink = self._lib.quendra_shrink
            return lambda document: answer(shrink(document, len(document), options, options_len,
                                                  length_ref))

        shrink_counted = self.shrink_with_counter()
        counter = _Counter(count)

        def call(document: bytes) -> str:
            envelope = answer(shrink_counted(document, len(document), options, options_len,
                                             counter.callback, None, length_ref))
            error = counter.take_error()
            if error is not None:
                raise error
            return envelope

        return call

    def version(self) -> str:
        return str(self._quick.quendra_version().decode("ascii"))


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
    if _loaded:
        return _loaded[0]
    with _load_lock:
        if not _loaded:
            path = find_library()
            try:
                _loaded.append(_Library(path))
            except OSError as error:
                raise QuendraError(
                    f"cannot load the quendra library ({path}): {error}; "
                    "install the package with pip, or set QUENDRA_LIBRARY to the path of "
                    "libquendra.so"
                ) from None
        return _loaded[0]


_COUNT_FAILED = ctypes.c_size_t(-1).value


def count_tokens(text: Document, tokenizer: str = "o200k_base") -> int:
    """The number of tokens of ``text`` (a str, or UTF-8 bytes) in the
    byte-pair encoding ``tokenizer``: "o200k_base" (the default) or
    "cl100k_base", in any ASCII case. Counted by the library exactly as
    tiktoken's ``encode_ordinary`` counts ("<|endoftext|>" is ordinary text).

    Raises ValueError for an unknown tokenizer or bytes that are not UTF-8,
    TypeError for arguments of other types.
    """
    if not isinstance(tokenizer, str):
        raise TypeError(f"tokenizer must be a str such as 'o200k_base', not {type(tokenizer).__name__}")
    if isinstance(text, str):
        data = text.encode("utf-8", "surrogatepass")
    elif isinstance(text, (bytes, bytearray, memoryview)):
        data = bytes(text)
    else:
        raise TypeError(f"text must be a str or bytes, not {type(text).__name__}")
    name = tokenizer.encode("utf-8", "surrogatepass")
    count = _library().count_tokens()
    # The empty text counts in every known encoding, and in no other.
    if count(b"", 0, name, len(name)) == _COUNT_FAILED:
        raise ValueError(f"unknown tokenizer {tokenizer!r}: 'o200k_base' or 'cl100k_base'")
    n = int(count(data, len(data), name, len(name)))
    if n == _COUNT_FAILED:
        raise ValueError("the text is not UTF-8")
    return n


def library_version() -> str:
    """The version text of the loaded library, such as "0.4.0"."""
    return _library().version()


# Keywords of the package's own, beside the library's options.
_KEYWORDS = ("max_tokens", "token_counter", "query")
_UNSET: Any = object()


class _Request:
    """The keyword arguments of one call made ready for the library: the
    options as a JSON text, and the token counter. Raises TypeError for a
    keyword that names no option and for keywords that contradict each other."""

    def __init__(self, function: str, options: Dict[str, Any],
                 token_counter: Optional[TokenCounter], max_tokens: Optional[int],
                 query: Any) -> None:
        unknown = options.keys() - _OPTION_NAMES
        if unknown:
            name = min(unknown)
            close = difflib.get_close_matches(name, sorted(_OPTION_NAMES | set(_KEYWORDS)), n=1)
            hint = f"; did you mean '{close[0]}'?" if close else ""
            raise TypeError(f"{function}() got an unexpected keyword argument '{name}'{hint}")
        if query is not _UNSET:
            if "arguments" in options:
                raise TypeError(f"{function}() got both 'query' and 'arguments', two names of "
                                "the same option: give one")
            options["arguments"] = query
        if token_counter is not None and not callable(token_counter):
            raise TypeError(f"{function}() got a token_counter that is not callable: "
                            "give a function from str to int")
        if token_counter is not None and "tokenizer" in options:
            raise TypeError(f"{function}() got both 'tokenizer' and 'token_counter': the "
                            "library counts with a built-in tokenizer or with your counter, "
                            "give one")
        if max_tokens is not None:
            if isinstance(max_tokens, bool) or not isinstance(max_tokens, int) or max_tokens < 0:
                raise QuendraError("invalid options: max_tokens must be a non-negative integer")
            unit = options.get("budget_unit", "tokens")
            if "max_chars" in options:
                raise TypeError(f"{function}() got both 'max_tokens' and 'max_chars': give one "
                                "budget (max_tokens is max_chars in budget_unit \"tokens\")")
            if not isinstance(unit, str) or unit.lower() != "tokens":
                raise TypeError(f"{function}() got max_tokens with budget_unit={unit!r}: "
                                "max_tokens is a budget in tokens")
            options["max_chars"] = max_tokens
            options["budget_unit"] = "tokens"
        self.options = options
        self.count = token_counter
        try:
            self.text = json.dumps(options, ensure_ascii=False, allow_nan=False).encode("utf-8")
        except (TypeError, ValueError) as error:
            raise QuendraError(f"options cannot be written as JSON: {error}") from None

    def caller(self, library: _Library) -> Callable[[bytes], str]:
        return library.caller(self.text, self.count)

    def check(self, library: _Library) -> None:
        """Raises the library's error when the options themselves are refused:
        one call on a tiny document, whose counter (if any) is not the caller's."""
        envelope = library.caller(self.text, _probe_count if self.count else None)(b"null")
        if envelope.startswith('{"ok":false'):
            message = json.loads(envelope)["error"]
            if message.startswith(("invalid options", "options are not valid UTF-8")):
                raise QuendraError(message)


def _document_bytes(document: Document) -> bytes:
    if isinstance(document, str):
        return document.encode("utf-8", "surrogatepass")
    if isinstance(document, bytes):
        return document
    if isinstance(document, (bytearray, memoryview)):
        return bytes(document)
    raise TypeError(f"document must be str or bytes, not {type(document).__name__}")


def _count_lines(document: bytes) -> int:
    """The lines of a document, not counting blank space at its end."""
    text = document.rstrip(b" \t\r\n")
    return text.count(b"\n") + 1 if text else 0


def _yaml_string_warning(library: _Library, request: _Request, document: bytes,
                         result: Result) -> Optional[str]:
    """What to warn of when the automatic input format read a text of several
    lines that is not JSON as one YAML string (an HTML error page, say), the
    rule the command follows; None otherwise. The library is asked again only
    when the result may be such a string."""
    # The report's member, near the start of the report, which follows the
    # text (whose own quotes are escaped).
    report = result.envelope.rfind(_REPORT_PREFIX)
    if '"input_format":"yaml"' not in result.envelope[report:report + 200]:
        return None
    if str(request.options.get("input_format", "auto")).lower() != "auto":
        return None
    lines = _count_lines(document)
    if lines < 2:
        return None
    text = result.text
    plain = dict(request.options, budget_unit="chars")
    plain.pop("tokenizer", None)
    if result.report.format == "json":
        if not text.startswith('"'):
            return None
    else:
        # As YAML, a string takes one line or a literal block.
        first = text.split("\n", 1)[0]
        if len(first) + 1 != len(text) and first not in ("|", "|-", "|+"):
            return None
        as_json = library.caller(json.dumps(dict(plain, format="json", indent=0)).encode())(document)
        if not as_json.startswith('{"ok":true,"text":"\\"'):
            return None
    error = json.loads(library.caller(json.dumps(dict(plain, input_format="json")).encode())(document))
    detail = str(error.get("error", "")).replace("invalid JSON input: ", "", 1)
    return (f"the input is not JSON ({detail}); its {lines} lines were read as a single YAML "
            'string; give input_format="json" to refuse such input')


def shrink(document: Document, *, token_counter: Optional[TokenCounter] = None,
           max_tokens: Optional[int] = None, query: Any = _UNSET,
           **options: Unpack[Options]) -> Result:
    """Shrinks a JSON or YAML document so that its rendered text fits ``max_chars``.

    ``document`` is text, or bytes that the library checks to be UTF-8.
    Keyword arguments are the library's options (:class:`Options`), for example
    ``shrink(text, max_chars=2000, array_strategy="condense", protect=["id"])``.
    ``query`` is another name for ``arguments``.

    ``max_tokens=N`` is a budget in a model's tokens, the same as
    ``max_chars=N, budget_unit="tokens"``: counted with the built-in encoding
    ``tokenizer`` ("o200k_base" by default, or "cl100k_base"), or with
    ``token_counter=f``, which takes a text and returns its number of tokens
    (it is called once per distinct text: the whole document and the attempts
    of the search, at most 25 texts). An exception raised by the counter is
    raised from here.

    Returns a :class:`Result`; a result that cannot be brought within the
    budget is still returned, with ``report.fits`` false. Raises
    :class:`QuendraError` when the library answers with an error (bad option
    value, unreadable document) and TypeError for an unknown keyword. When a
    text of several lines that is not JSON was read as one YAML string, warns
    with :class:`QuendraWarning`.
    """
    request = _Request("shrink", dict(options), token_counter, max_tokens, query)
    library = _library()
    data = _document_bytes(document)
    result = _result(request.caller(library)(data))
    warning = _yaml_string_warning(library, request, data, result)
    if warning:
        warnings.warn(warning, QuendraWarning, stacklevel=2)
    return result


def shrink_value(value: Any, *, default: Optional[Callable[[Any], Any]] = None,
                 token_counter: Optional[TokenCounter] = None, max_tokens: Optional[int] = None,
                 query: Any = _UNSET, **options: Unpack[Options]) -> Result:
    """Shrinks a Python value (dicts, lists, strings, numbers, booleans, None).

    The value is written as JSON with the standard :mod:`json` module and shrunk
    like :func:`shrink`; ``default`` is called, as by :func:`json.dumps`, for
    each object the module cannot write and returns a value it can (or raises
    TypeError). Non-finite floats are refused with :class:`QuendraError`.
    ``result.value`` gives the shrunk value back when the output format is JSON.
    """
    request = _Request("shrink_value", dict(options), token_counter, max_tokens, query)
    try:
        text = json.dumps(value, ensure_ascii=False, allow_nan=False, default=default)
    except (TypeError, ValueError) as error:
        raise QuendraError(f"value cannot be written as JSON: {error}") from None
    return _result(request.caller(_library())(text.encode("utf-8", "surrogatepass")))


@overload
def shrink_many(
    documents: Iterable[Document],
    *,
    workers: Optional[int] = ...,
    errors: Literal["raise"] = ...,
    token_counter: Optional[TokenCounter] = ...,
    max_tokens: Optional[int] = ...,
    query: Any = ...,
    **options: Unpack[Options],
) -> List[Result]: ...


@overload
def shrink_many(
    documents: Iterable[Document],
    *,
    workers: Optional[int] = ...,
    errors: Literal["return"],
    token_counter: Optional[TokenCounter] = ...,
    max_tokens: Optional[int] = ...,
    query: Any = ...,
    **options: Unpack[Options],
) -> List[Union[Result, QuendraError]]: ...


def shrink_many(
    documents: Iterable[Document],
    *,
    workers: Optional[int] = None,
    errors: str = "raise",
    token_counter: Optional[TokenCounter] = None,
    max_tokens: Optional[int] = None,
    query: Any = _UNSET,
    **options: Unpack[Options],
) -> Any:
    """Shrinks many documents under the same options, on a pool of threads.

    Returns a list with one :class:`Result` per document, in input order,
    equal to what :func:`shrink` gives for each. ``workers`` is the number of
    threads (default: the number of CPUs; 1 runs every call in the calling
    thread). The options are checked once, before any document: a refused
    option raises :class:`QuendraError` at once, with no index.

    With ``errors="raise"`` (the default) every document is shrunk, and then
    the :class:`QuendraError` of the first document that failed, in input
    order, is raised; its ``index`` is that document's position. With
    ``errors="return"`` nothing is raised for a document: the list holds the
    QuendraError in its place.

    A ``token_counter`` is called from the worker threads, several at once
    when ``workers`` is above 1. An exception it raises stops the batch
    (documents not yet started are not shrunk) and is raised from here as
    itself, whatever ``errors`` says.
    """
    if errors not in ("raise", "return"):
        raise ValueError(f'errors must be "raise" or "return", not {errors!r}')
    request = _Request("shrink_many", dict(options), token_counter, max_tokens, query)
    threads = workers if workers is not None else (os.cpu_count() or 1)
    if threads < 1:
        raise ValueError(f"workers must be at least 1, not {threads}")
    library = _library()
    request.check(library)
    batch = [_document_bytes(document) for document in documents]
    results: List[Any] = [None] * len(batch)
    stopped = threading.Event()

    def work(start: int, stop: int) -> None:
        call = request.caller(library)
        for i in range(start, stop):
            if stopped.is_set():
                return
            try:
                envelope = call(batch[i])
            except BaseException:  # from the token counter: the batch ends
                stopped.set()
                raise
            try:
                results[i] = _result(envelope, i)
            except QuendraError as error:
                results[i] = error

    if threads == 1 or len(batch) <= 1:
        work(0, len(batch))
    else:
        # Several chunks per thread even out documents of different sizes;
        # a chunk at a time keeps the pool's own work per document small.
        chunk = max(1, min(256, -(-len(batch) // (threads * 8))))
        starts = range(0, len(batch), chunk)
        with ThreadPoolExecutor(max_workers=min(threads, len(starts))) as pool:
            for _ in pool.map(lambda s: work(s, min(s + chunk, len(batch))), starts):
                pass
    if errors == "raise":
        for item in results:
            if isinstance(item, QuendraError):
                raise item
    return results
