"""Inspector for saved TAV model files.

``read(source)`` decodes a model file into plain dicts and lists; ``source``
is a path (str or os.PathLike) or the file's bytes.  Decoding is strict: any
deviation from the layout raises ``FormatError`` naming the byte offset.
"""

import os
from collections.abc import Callable
from typing import Any

from . import format10, format20
from .errors import FormatError
from .summary import summarize

__all__ = ["FormatError", "read", "summarize"]

# Longest magic first: a format 2.0 file also starts with the format 10 magic.
_DECODERS: tuple[tuple[bytes, Callable[[bytes], dict[str, Any]] | None], ...] = (
    (format20.MAGIC, format20.decode),
    (format10.MAGIC, format10.decode),
)


def read(source: str | os.PathLike[str] | bytes | bytearray | memoryview) -> dict[str, Any]:
    """Decodes a model file given by path or as bytes; raises FormatError."""
    if isinstance(source, (bytes, bytearray, memoryview)):
        data = bytes(source)
    elif isinstance(source, (str, os.PathLike)):
        with open(source, "rb") as handle:
            data = handle.read()
    else:
        raise TypeError(f"expected a path or bytes, got {type(source).__name__}")
    for magic, decode in _DECODERS:
        if data.startswith(magic):
            if decode is None:
                raise FormatError(f"files with magic {magic!r} are not supported yet", 0)
            return decode(data)
    raise FormatError(f"bad magic {data[:4]!r}, not a TAV model file", 0)
