"""Reader of glTF 2.0 assets: JSON ``.gltf`` and binary ``.glb``.

``load(path)`` returns a ``Document``: the parsed JSON plus the buffers it
refers to (embedded ``data:`` URIs, external files next to the asset, or the
GLB binary chunk).  ``Document.accessor(index)`` decodes an accessor into a
NumPy array of shape (count, components) -- or (count, rows, columns) for the
matrix types -- honouring byte strides, normalized integers and sparse
substitution.  Every malformed input raises ``GltfError`` with one line of
text; nothing here raises IndexError, KeyError or struct.error on a hostile
file.
"""

import base64
import json
import os
import stat
import struct
import urllib.parse
from typing import Any, TypeVar, overload

import numpy as np
import numpy.typing as npt

GLB_MAGIC = b"glTF"
GLB_JSON_CHUNK = 0x4E4F534A
GLB_BIN_CHUNK = 0x004E4942

# componentType -> little-endian NumPy dtype
COMPONENT_TYPES: dict[int, np.dtype[Any]] = {
    5120: np.dtype("<i1"),
    5121: np.dtype("<u1"),
    5122: np.dtype("<i2"),
    5123: np.dtype("<u2"),
    5125: np.dtype("<u4"),
    5126: np.dtype("<f4"),
}
# type -> (columns, rows); a vector is one column
ELEMENT_SHAPES = {
    "SCALAR": (1, 1),
    "VEC2": (1, 2),
    "VEC3": (1, 3),
    "VEC4": (1, 4),
    "MAT2": (2, 2),
    "MAT3": (3, 3),
    "MAT4": (4, 4),
}
INDEX_TYPES = (5121, 5123, 5125)

# A JSON object as parsed: its values are whatever the file holds, checked
# where they are read (``_get`` and the readers' own tests).
JsonObject = dict[str, Any]
T = TypeVar("T")


class GltfError(ValueError):
    """A file that is not a readable glTF 2.0 asset (one line of text)."""


@overload
def _get(obj: object, key: str, kind: type[T], default: T, where: str = "asset") -> T: ...
@overload
def _get(obj: object, key: str, kind: type[T], default: None = None, where: str = "asset") -> T | None: ...


def _get(obj: object, key: str, kind: type[T], default: T | None = None, where: str = "asset") -> T | None:
    """obj[key] checked against kind; default when absent."""
    if not isinstance(obj, dict):
        raise GltfError(f"{where} is not a JSON object")
    value = obj.get(key, default)
    if value is None:
        return default
    if kind is float and isinstance(value, int) and not isinstance(value, bool):
        value = float(value)
    if kind is int and isinstance(value, bool):
        raise GltfError(f"{where}.{key} must be an integer")
    if not isinstance(value, kind):
        raise GltfError(f"{where}.{key} has the wrong type")
    return value


class Document:
    """A parsed asset: ``json`` (dict) and ``buffers`` (list of bytes)."""

    def __init__(self, gltf: JsonObject, buffers: list[bytes], base_dir: str):
        self.json = gltf
        self.buffers = buffers
        self.base_dir = base_dir
        self._accessor_cache: dict[int, npt.NDArray[Any]] = {}

    # -- lists of the top-level arrays -------------------------------------
    def items(self, name: str) -> list[JsonObject]:
        value = self.json.get(name, [])
        if not isinstance(value, list) or not all(isinstance(item, dict) for item in value):
            raise GltfError(f"'{name}' must be an array of objects")
        return value

    def item(self, name: str, index: object, where: str) -> JsonObject:
        items = self.items(name)
        if not isinstance(index, int) or isinstance(index, bool) or not 0 <= index < len(items):
            raise GltfError(f"{where} refers to {name}[{index}], which does not exist")
        return items[index]

    # -- accessors ---------------------------------------------------------
    def accessor(self, index: object, referrer: str | None = None) -> npt.NDArray[Any]:
        """The accessor's elements; floats for normalized or float data.

        ``referrer`` is the glTF path of the field holding ``index`` (say
        "meshes[0].primitives[0].attributes.POSITION"); a missing accessor is
        reported as referred to from there.  Raises GltfError.
        """
        if isinstance(index, int) and index in self._accessor_cache:
            return self._accessor_cache[index]
        where = f"accessors[{index}]"
        acc = self.item("accessors", index, referrer or where)
        ctype = _get(acc, "componentType", int, where=where)
        if ctype not in COMPONENT_TYPES:
            raise GltfError(f"{where}: unknown componentType {ctype}")
        etype = _get(acc, "type", str, where=where)
        if etype not in ELEMENT_SHAPES:
            raise GltfError(f"{where}: unknown type {etype!r}")
        count = _get(acc, "count", int, where=where)
        if count is None or count < 0:
            raise GltfError(f"{where}: missing or negative count")
        normalized = bool(_get(acc, "normalized", bool, False, where))
        dtype = COMPONENT_TYPES[ctype]
        columns, rows = ELEMENT_SHAPES[etype]

        view_index = acc.get("bufferView")
        if view_index is None:
            # Without a buffer view the elements start as zeros (sparse data may follow).
            data = np.zeros((count, columns * rows), dtype)
        else:
            data = self._strided(view_index, _get(acc, "byteOffset", int, 0, where), count,
                                 dtype, columns, rows, where, where + ".bufferView")
        sparse = acc.get("sparse")
        if sparse is not None:
            data = data.copy()
            self._apply_sparse(data, sparse, count, dtype, columns, rows, where)
        values = _normalize(data, dtype) if normalized else data
        if columns > 1:
            # Stored column by column; return [element, row, column].
            values = values.reshape(count, columns, rows).transpose(0, 2, 1)
        if isinstance(index, int):
            self._accessor_cache[index] = values
        return values

    def _view_bytes(self, view_index: object, referrer: str) -> tuple[JsonObject, bytes, int, int]:
        view = self.item("bufferViews", view_index, referrer)
        vwhere = f"bufferViews[{view_index}]"
        buffer = self.buffers[_checked_index(_get(view, "buffer", int, where=vwhere), len(self.buffers),
                                             vwhere + ".buffer")]
        offset = _get(view, "byteOffset", int, 0, vwhere)
        length = _get(view, "byteLength", int, where=vwhere)
        if length is None or offset < 0 or length < 0 or offset + length > len(buffer):
            raise GltfError(f"{vwhere} lies outside its buffer of {len(buffer)} bytes")
        return view, buffer, offset, length

    def view_data(self, view_index: object, referrer: str) -> bytes:
        """The bytes of a buffer view; referrer is the path of the field naming it."""
        _view, buffer, offset, length = self._view_bytes(view_index, referrer)
        return bytes(buffer[offset:offset + length])

    def _strided(self, view_index: object, byte_offset: int, count: int, dtype: np.dtype[Any], columns: int,
                 rows: int, where: str, referrer: str) -> npt.NDArray[Any]:
        view, buffer, offset, length = self._view_bytes(view_index, referrer)
        size = dtype.itemsize
        # Matrix columns of 1- and 2-byte components are padded to 4 bytes.
        column_size = rows * size
        column_stride = (column_size + 3) & ~3 if columns > 1 else column_size
        element_size = column_stride * (columns - 1) + column_size
        # Tightly packed elements lie a whole padded element apart; the last
        # one need not carry its padding.
        stride = _get(view, "byteStride", int, 0, f"bufferViews[{view_index}]") or column_stride * columns
        if stride < element_size:
            raise GltfError(f"{where}: byteStride {stride} is smaller than an element ({element_size} bytes)")
        if byte_offset < 0 or byte_offset % size:
            raise GltfError(f"{where}: byteOffset {byte_offset} is not aligned to its components")
        if count and byte_offset + stride * (count - 1) + element_size > length:
            raise GltfError(f"{where}: {count} elements do not fit in bufferViews[{view_index}]")
        out = np.empty((count, columns * rows), dtype)
        if not count:
            return out
        raw = np.frombuffer(buffer, np.uint8, length, offset)[byte_offset:]
        for column in range(columns):
            for row in range(rows):
                start = column * column_stride + row * size
                picked = np.lib.stride_tricks.as_strided(
                    raw[start:], shape=(count, size), strides=(stride, 1), writeable=False)
                out[:, column * rows + row] = np.ascontiguousarray(picked).view(dtype)[:, 0]
        return out

    def _apply_sparse(self, data: npt.NDArray[Any], sparse: object, count: int, dtype: np.dtype[Any], columns: int,
                      rows: int, where: str) -> None:
        swhere = where + ".sparse"
        n = _get(sparse, "count", int, where=swhere)
        indices = _get(sparse, "indices", dict, where=swhere)
        values = _get(sparse, "values", dict, where=swhere)
        if n is None or n < 1 or indices is None or values is None:
            raise GltfError(f"{swhere} needs count, indices and values")
        itype = _get(indices, "componentType", int, where=swhere + ".indices")
        if itype not in INDEX_TYPES:
            raise GltfError(f"{swhere}.indices: componentType {itype} is not an index type")
        positions = self._strided(_get(indices, "bufferView", int, where=swhere + ".indices"),
                                  _get(indices, "byteOffset", int, 0, swhere), n,
                                  COMPONENT_TYPES[itype], 1, 1, swhere + ".indices",
                                  swhere + ".indices.bufferView")[:, 0].astype(np.int64)
        if positions.size and positions.max() >= count:
            raise GltfError(f"{swhere}: index {int(positions.max())} is not below count {count}")
        substitutes = self._strided(_get(values, "bufferView", int, where=swhere + ".values"),
                                    _get(values, "byteOffset", int, 0, swhere), n,
                                    dtype, columns, rows, swhere + ".values", swhere + ".values.bufferView")
        data[positions] = substitutes

    def image_bytes(self, image: JsonObject, where: str) -> bytes | None:
        """The encoded bytes of an embedded image, or None for an external one.

        ``where`` is the image's path ("images[2]"); raises GltfError.
        """
        if "bufferView" in image:
            return self.view_data(image["bufferView"], where + ".bufferView")
        uri = image.get("uri")
        if isinstance(uri, str) and uri.startswith("data:"):
            return _decode_data_uri(uri, where)[0]
        return None


def _checked_index(value: int | None, size: int, referrer: str) -> int:
    if value is None or not 0 <= value < size:
        raise GltfError(f"{referrer} refers to buffers[{value}], which does not exist")
    return value


def _normalize(data: npt.NDArray[Any], dtype: np.dtype[Any]) -> npt.NDArray[Any]:
    if dtype.kind == "f":
        return data
    info = np.iinfo(dtype)
    values = data.astype(np.float64) / info.max
    if dtype.kind == "i":
        values = np.maximum(values, -1.0)
    return values.astype(np.float32)


def _decode_data_uri(uri: str, where: str) -> tuple[bytes, str]:
    header, comma, payload = uri.partition(",")
    if not comma:
        raise GltfError(f"{where}: data URI without a comma")
    mime = header[5:].split(";")[0]
    try:
        if header.endswith(";base64"):
            return base64.b64decode(payload, validate=True), mime
        return urllib.parse.unquote_to_bytes(payload), mime
    except ValueError as error:
        raise GltfError(f"{where}: bad base64 data ({error})") from None


def uri_to_path(uri: str) -> str:
    """A relative URI reference as a file-system path fragment."""
    return urllib.parse.unquote(uri)


def _parse_glb(data: bytes) -> tuple[bytes, bytes | None]:
    if len(data) < 20:
        raise GltfError("file too short for a binary glTF header")
    magic, version, length = struct.unpack_from("<4sII", data, 0)
    if magic != GLB_MAGIC:
        raise GltfError("not a binary glTF file (bad magic)")
    if version != 2:
        raise GltfError(f"binary glTF version {version} is not supported (only 2)")
    if length > len(data):
        raise GltfError(f"header length {length} exceeds the file size {len(data)}")
    offset = 12
    json_bytes = None
    binary = None
    while offset + 8 <= length:
        chunk_length, chunk_type = struct.unpack_from("<II", data, offset)
        offset += 8
        if offset + chunk_length > length:
            raise GltfError(f"chunk at byte {offset - 8} runs past the end of the file")
        chunk = data[offset:offset + chunk_length]
        offset += chunk_length
        if json_bytes is None:
            if chunk_type != GLB_JSON_CHUNK:
                raise GltfError("the first chunk of a binary glTF file must be JSON")
            json_bytes = chunk
        elif chunk_type == GLB_BIN_CHUNK and binary is None:
            binary = chunk
        # Other chunk types are skipped, as the format asks.
    if json_bytes is None:
        raise GltfError("binary glTF file without a JSON chunk")
    return json_bytes, binary


def _parse_json(raw: bytes) -> JsonObject:
    try:
        gltf = json.loads(raw.decode("utf-8-sig"))
    except (UnicodeDecodeError, ValueError) as error:
        raise GltfError(f"invalid JSON: {error}") from None
    except RecursionError:
        raise GltfError("invalid JSON: arrays or objects nested too deeply") from None
    if not isinstance(gltf, dict):
        raise GltfError("the top level of a glTF file must be a JSON object")
    asset = gltf.get("asset")
    if not isinstance(asset, dict) or not isinstance(asset.get("version"), str):
        raise GltfError("missing asset.version")
    major = asset["version"].split(".")[0]
    if major != "2":
        raise GltfError(f"glTF version {asset['version']} is not supported (only 2.x)")
    return gltf


def _read_buffer_file(path: str, length: int, where: str, uri: str) -> bytes:
    """At most ``length`` bytes of the ordinary file at ``path``.

    A buffer's URI is chosen by whoever wrote the asset: a device or a FIFO
    there would be read without end, or block, so only a regular file is
    read, and never past the buffer's declared length.
    """
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_NOCTTY | getattr(os, "O_CLOEXEC", 0))
    except OSError as error:
        raise GltfError(f"{where}: cannot read {uri!r}: {error.strerror or error}") from None
    with os.fdopen(fd, "rb", buffering=0) as handle:
        if not stat.S_ISREG(os.fstat(fd).st_mode):
            raise GltfError(f"{where}: {uri!r} is not a regular file")
        chunks, left = [], length
        try:
            while left > 0:
                chunk = handle.read(min(left, 1 << 24))
                if not chunk:
                    break
                chunks.append(chunk)
                left -= len(chunk)
        except OSError as error:
            raise GltfError(f"{where}: cannot read {uri!r}: {error.strerror or error}") from None
    return b"".join(chunks)


def load(path: str | os.PathLike[str]) -> Document:
    """Reads a .gltf or .glb asset and every buffer it refers to."""
    path = os.fspath(path)
    try:
        with open(path, "rb") as handle:
            data = handle.read()
    except OSError as error:
        raise GltfError(f"cannot read: {error.strerror or error}") from None
    binary = None
    if data[:4] == GLB_MAGIC:
        raw, binary = _parse_glb(data)
    else:
        raw = data
    gltf = _parse_json(raw)
    base_dir = os.path.dirname(os.path.abspath(path))

    declared = gltf.get("buffers", [])
    if not isinstance(declared, list):
        raise GltfError("'buffers' must be an array")
    buffers = []
    for index, buffer in enumerate(declared):
        where = f"buffers[{index}]"
        length = _get(buffer, "byteLength", int, where=where)
        if length is None or length < 0:
            raise GltfError(f"{where}: missing byteLength")
        uri = _get(buffer, "uri", str, where=where)
        if uri is None:
            if index != 0 or binary is None:
                raise GltfError(f"{where} has no uri and there is no binary chunk for it")
            content = binary
        elif uri.startswith("data:"):
            content = _decode_data_uri(uri, where)[0]
        else:
            content = _read_buffer_file(os.path.join(base_dir, uri_to_path(uri)), length, where, uri)
        if len(content) < length:
            raise GltfError(f"{where} holds {len(content)} bytes, byteLength says {length}")
        buffers.append(content[:length])
    return Document(gltf, buffers, base_dir)
