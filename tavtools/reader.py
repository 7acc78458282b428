"""Bounds-checked little-endian primitive reader.

All byte-order knowledge of the inspector lives here: record decoders ask for
typed values and never touch raw bytes or struct formats themselves.
"""

import struct
from types import TracebackType
from typing import Any

import numpy as np

from .errors import FormatError

_U16 = struct.Struct("<H")
_U32 = struct.Struct("<I")
_I32 = struct.Struct("<i")
_U64 = struct.Struct("<Q")
_F32 = struct.Struct("<f")
_F64 = struct.Struct("<d")

# Element kinds of arrays: (NumPy dtype, struct code), both little-endian.
_U8_ARRAY = (np.dtype("<u1"), "B")
_U16_ARRAY = (np.dtype("<u2"), "H")
_U32_ARRAY = (np.dtype("<u4"), "I")
_F32_ARRAY = (np.dtype("<f4"), "f")
_F64_ARRAY = (np.dtype("<f8"), "d")
_UINT_ARRAYS: dict[int, tuple[np.dtype[Any], str]] = {1: _U8_ARRAY, 2: _U16_ARRAY, 4: _U32_ARRAY}
# Below this many elements struct is cheaper than setting up a NumPy view.
_NUMPY_THRESHOLD = 64


class Reader:
    """A cursor over an immutable byte buffer.

    Every read checks that the bytes exist and raises FormatError naming the
    offset otherwise, so a truncated or hostile file can never surface as an
    IndexError or struct.error, nor make the decoder allocate for a count the
    file cannot hold.  ``strings`` is the string table once the caller has
    decoded it; ``string()`` resolves indices against it.

    With ``collect`` the reader validates instead of decoding strictly:
    problems after which the layout can still be followed (``problem()``)
    are appended to ``issues`` and decoding goes on, and ``mark()`` keeps
    the offsets of records for checks made on the decoded result.
    """

    def __init__(self, data: bytes | bytearray | memoryview, collect: bool = False) -> None:
        self.data = bytes(data)
        self.size = len(self.data)
        self.pos = 0
        self.strings: list[str] | None = None
        self._context: list[str] = []
        self.issues: list[tuple[str, FormatError]] | None = [] if collect else None
        self.offsets: dict[tuple[int, str], int] = {}
        self.used_strings: set[int] = set()

    # -- error reporting -------------------------------------------------
    def error(self, message: str, offset: int | None = None) -> FormatError:
        return FormatError(message, self.pos if offset is None else offset, self._context)

    def problem(self, code: str, message: str, offset: int | None = None) -> None:
        """A deviation the decoder can read past: raised as FormatError when
        decoding strictly, else kept in ``issues`` as (code, FormatError)."""
        error = self.error(message, offset)
        if self.issues is None:
            raise error
        self.issues.append((code, error))

    def mark(self, record: dict[str, Any], offset: int, field: str = "record") -> None:
        """Remembers where a decoded record (or one of its fields) starts."""
        if self.issues is not None:
            self.offsets[(id(record), field)] = offset

    @property
    def context(self) -> tuple[str, ...]:
        return tuple(self._context)

    def within(self, what: str) -> "_Context":
        """Names the record being decoded in any error raised inside."""
        return _Context(self._context, what)

    @property
    def remaining(self) -> int:
        return self.size - self.pos

    def _take(self, size: int) -> int:
        start = self.pos
        end = start + size
        if end > self.size:
            raise self.error(
                f"unexpected end of file: {size} bytes needed, {self.remaining} left"
            )
        self.pos = end
        return start

    # -- scalars -----------------------------------------------------------
    def raw(self, size: int) -> bytes:
        start = self._take(size)
        return self.data[start:start + size]

    def u8(self) -> int:
        return self.data[self._take(1)]

    def u16(self) -> int:
        value: int = _U16.unpack_from(self.data, self._take(2))[0]
        return value

    def u32(self) -> int:
        value: int = _U32.unpack_from(self.data, self._take(4))[0]
        return value

    def i32(self) -> int:
        value: int = _I32.unpack_from(self.data, self._take(4))[0]
        return value

    def u64(self) -> int:
        value: int = _U64.unpack_from(self.data, self._take(8))[0]
        return value

    def f32(self) -> float:
        value: float = _F32.unpack_from(self.data, self._take(4))[0]
        return value

    def f64(self) -> float:
        value: float = _F64.unpack_from(self.data, self._take(8))[0]
        return value

    # -- arrays --------------------------------------------------------------
    def _array(self, kind: tuple[np.dtype[Any], str], count: int) -> list[Any]:
        dtype, code = kind
        start = self._take(dtype.itemsize * count)
        if count < _NUMPY_THRESHOLD:
            return list(struct.unpack_from(f"<{count}{code}", self.data, start))
        values: list[Any] = np.frombuffer(self.data, dtype, count, start).tolist()
        return values

    def f32s(self, count: int) -> list[float]:
        return self._array(_F32_ARRAY, count)

    def f64s(self, count: int) -> list[float]:
        return self._array(_F64_ARRAY, count)

    def uints(self, width: int, count: int) -> list[int]:
        """``count`` unsigned integers of ``width`` bytes each (1, 2 or 4)."""
        return self._array(_UINT_ARRAYS[width], count)

    # -- composite fields ----------------------------------------------------
    def count(self, min_item_size: int) -> int:
        """A u32 element count, refused at once when the items cannot fit."""
        offset = self.pos
        n = self.u32()
        if n * min_item_size > self.remaining:
            raise self.error(
                f"count {n} needs at least {n * min_item_size} bytes, {self.remaining} left",
                offset,
            )
        return n

    def expect_u32(self, expected: int, what: str, code: str | None = None) -> int:
        """A u32 that must equal expected; with a code the file can be read
        past a wrong value (a reserved word), without one it cannot."""
        offset = self.pos
        value = self.u32()
        if value != expected:
            if code is None:
                raise self.error(f"{what} is {value}, expected {expected}", offset)
            self.problem(code, f"{what} is {value}, expected {expected}", offset)
        return value

    def string(self) -> str:
        """A u32 index into the string table."""
        offset = self.pos
        index = self.u32()
        if self.issues is not None:
            self.used_strings.add(index)
        if self.strings is None or index >= len(self.strings):
            size = 0 if self.strings is None else len(self.strings)
            self.problem("STRING_INDEX_OUT_OF_RANGE", f"string index {index} out of range (table holds {size})",
                         offset)
            return f"<string {index}>"
        return self.strings[index]

    def name(self) -> str:
        """A u32 byte length followed by that many bytes, no terminator."""
        size = self.count(1)
        return decode_text(self.raw(size))


class _Context:
    __slots__ = ("stack", "what")

    def __init__(self, stack: list[str], what: str) -> None:
        self.stack = stack
        self.what = what

    def __enter__(self) -> None:
        self.stack.append(self.what)

    def __exit__(self, kind: type[BaseException] | None, error: BaseException | None,
                 trace: TracebackType | None) -> None:
        self.stack.pop()


def decode_text(raw: bytes) -> str:
    # Names come from scripts and may not be UTF-8; surrogateescape keeps the
    # original bytes recoverable instead of failing or guessing a code page.
    return raw.decode("utf-8", "surrogateescape")
