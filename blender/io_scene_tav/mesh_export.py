"""Reads a Blender mesh into NumPy arrays, one part per used material slot.

Mapping rules:
- Geometry is the mesh's loop triangles. A vertex is a loop (face corner):
  its vertex position, its corner normal (custom normals included) and its
  coordinates in the UV layers: the one Blender renders with (the camera
  icon in the list) first, the others after. Loops of one mesh vertex that agree
  with that vertex's first loop in normal and coordinates are one vertex,
  so smooth surfaces share them; the save's weld merges what is left.
- Texture coordinates are written with v flipped (v' = 1 - v): Blender puts
  the image origin at the bottom left, the model at the top left. A mesh
  without UV layer gets zeros.
- A normal of (almost) zero length, as a degenerate face gives, is replaced
  by +Z so that the save does not refuse the mesh; the caller reports it.
- The triangles of each material slot become one part; slots no triangle
  uses give no part.
Everything is read in bulk (``foreach_get``); no Python loop visits vertices.
"""

from collections.abc import Iterator
from typing import Any

import numpy as np
import numpy.typing as npt

from . import compat


class MeshPart:
    """The vertex data of the triangles of one material slot.

    ``loops`` are the mesh loops that are its vertices (in vertex order),
    ``indices`` its triangles as indices into them (uint32, three a
    triangle), ``positions`` and ``normals`` (N, 3) arrays and ``uvs`` the
    (N, 2) coordinates of each UV layer by name.
    """

    def __init__(self, slot: int, loops: npt.NDArray[np.int32], indices: npt.NDArray[np.uint32],
                 positions: npt.NDArray[np.float64], normals: npt.NDArray[np.float64],
                 uvs: dict[str, npt.NDArray[np.float64]]):
        self.slot = slot
        self.loops = loops
        self.indices = indices
        self.positions = positions
        self.normals = normals
        self.uvs = uvs

    @property
    def triangle_count(self) -> int:
        return len(self.indices) // 3


class MeshArrays:
    """A mesh read once: vertex positions, loops and loop triangles.

    ``mesh`` is a ``bpy.types.Mesh`` the caller keeps alive while this
    object reads it (the constructor only); afterwards the arrays are
    independent of it.
    """

    def __init__(self, mesh: Any):
        mesh.calc_loop_triangles()
        self.vertex_count = len(mesh.vertices)
        triangles = len(mesh.loop_triangles)
        self.co = compat.vertex_positions(mesh)
        # Buffers of the exact type Blender stores (unsigned for loop and
        # vertex numbers) take foreach_get's fast path, many times faster.
        self.tri_loops = np.empty(triangles * 3, dtype=np.uint32)
        mesh.loop_triangles.foreach_get("loops", self.tri_loops)
        self.tri_slots: npt.NDArray[np.int32] = np.zeros(triangles, dtype=np.int32)
        if len(mesh.materials) > 1:
            self.tri_slots = compat.face_materials(mesh)[compat.triangle_faces(mesh)]
        self.loop_vertex = compat.corner_vertices(mesh)
        normals = compat.corner_normals(mesh)
        bad = np.einsum("ij,ij->i", normals, normals) < 1e-4
        self.zero_normals = int(np.count_nonzero(bad))
        if self.zero_normals:
            normals[bad] = (0.0, 0.0, 1.0)
        self.loop_normals = normals
        layers = sorted(mesh.uv_layers, key=lambda layer: not layer.active_render)
        self.uv_names = [layer.name for layer in layers]
        self.has_uv = bool(layers)
        self.loop_uvs: list[npt.NDArray[np.float32]] = []
        for layer in layers:
            uvs = compat.uv_coordinates(mesh, layer)
            uvs[:, 1] = 1.0 - uvs[:, 1]
            self.loop_uvs.append(uvs)

    @property
    def triangle_count(self) -> int:
        return len(self.tri_slots)

    def parts(self, slot_count: int) -> Iterator[MeshPart]:
        """The parts of the mesh, one per used slot, in slot order.

        Material indices at or past ``slot_count`` count as the last slot
        and those below 0 as the first (Blender draws them so); a mesh
        without slots has one part of slot 0.
        """
        slots: npt.NDArray[np.int32] = np.clip(self.tri_slots, 0, max(slot_count - 1, 0))
        # One slot or none: every triangle is drawn with slot 0.
        used_slots = np.unique(slots) if slot_count > 1 else [0]
        for slot in used_slots:
            if len(used_slots) == 1:
                corners = self.tri_loops
            else:
                corners = self.tri_loops.reshape(-1, 3)[slots == slot].reshape(-1)
            loops, indices = self._shared(corners)
            # Rows are gathered with take(): for (N, k) arrays it is several
            # times faster than fancy indexing, which walks them element-wise.
            yield MeshPart(int(slot), loops, indices,
                           np.take(self.co, self.loop_vertex[loops], axis=0).astype(np.float64),
                           np.take(self.loop_normals, loops, axis=0).astype(np.float64),
                           {name: np.take(uvs, loops, axis=0).astype(np.float64)
                            for name, uvs in zip(self.uv_names, self.loop_uvs)})

    def _shared(self, corners: npt.NDArray[np.uint32]) -> tuple[npt.NDArray[np.int32], npt.NDArray[np.uint32]]:
        """(loops, indices): the distinct vertices that the triangle corners
        ``corners`` (loop numbers) use, as loop numbers, and the triangles as
        indices into them. A loop equal to the first loop of its mesh vertex
        (same normal and coordinates) is replaced by that loop."""
        loop_count = len(self.loop_vertex)
        used: npt.NDArray[np.int32]
        whole = len(corners) == len(self.tri_loops)
        if whole:
            # All triangles: the triangles of a face use all its loops.
            used = np.arange(loop_count, dtype=np.int32)
            vertex = self.loop_vertex
        else:
            used = np.flatnonzero(np.bincount(corners, minlength=loop_count)).astype(np.int32)
            vertex = self.loop_vertex[used]
        first = np.empty(self.vertex_count, dtype=np.int32)
        first[vertex[::-1]] = used[::-1]          # the last write wins: each vertex's first loop
        lead = first[vertex]
        same = np.ones(len(used), dtype=bool)
        for values in [self.loop_normals, *self.loop_uvs]:
            mine = values if whole else np.take(values, used, axis=0)
            theirs = np.take(values, lead, axis=0)
            # Column by column: a reduction along the short rows is several times slower.
            for column in range(values.shape[1]):
                same &= mine[:, column] == theirs[:, column]
        target = np.where(same, lead, used)
        kept = np.zeros(loop_count, dtype=bool)
        kept[target] = True
        loops = np.flatnonzero(kept).astype(np.int32)
        remap = np.empty(loop_count, dtype=np.uint32)
        remap[loops] = np.arange(len(loops), dtype=np.uint32)
        remap[used] = remap[target]
        return loops, remap[corners]

    def triangle_positions(self) -> tuple[npt.NDArray[np.float32], npt.NDArray[np.uint32]]:
        """Positions (flat float32) and triangle indices (uint32) of the
        mesh's vertices, for collision shells: no normals or UVs, so the
        vertices are the mesh's own."""
        return self.co.reshape(-1).copy(), self.loop_vertex[self.tri_loops].astype(np.uint32)


def edge_segments(mesh: Any) -> list[tuple[tuple[float, float, float], tuple[float, float, float]]]:
    """The mesh's edges as a list of ((x, y, z), (x, y, z)) pairs."""
    co = compat.vertex_positions(mesh)
    edges = np.empty(len(mesh.edges) * 2, dtype=np.int32)
    mesh.edges.foreach_get("vertices", edges)
    ends = co.astype(np.float64)[edges].reshape(-1, 2, 3)
    return [((ax, ay, az), (bx, by, bz)) for (ax, ay, az), (bx, by, bz) in ends.tolist()]
