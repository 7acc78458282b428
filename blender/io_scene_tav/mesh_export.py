"""Reads a Blender mesh into NumPy arrays, one part per used material slot.

Mapping rules:
- Geometry is the mesh's loop triangles. Every loop (face corner) that a
  triangle uses becomes one vertex: its vertex position, its split normal
  (custom normals included) and its coordinates in the active UV layer; the
  save welds equal vertices afterwards, so smooth surfaces share them.
- Texture coordinates are written with v flipped (v' = 1 - v): Blender puts
  the image origin at the bottom left, the model at the top left. A mesh
  without UV layer gets zeros.
- A normal of (almost) zero length, as a degenerate face gives, is replaced
  by +Z so that the save does not refuse the mesh; the caller reports it.
- The triangles of each material slot become one part; slots no triangle
  uses give no part.
Everything is read with ``foreach_get``; no Python loop visits vertices.
"""

import numpy as np


class MeshPart:
    """The vertex data of the triangles of one material slot.

    ``loops`` are the mesh loops that are its vertices (in vertex order),
    ``indices`` its triangles as indices into them (uint32, three a
    triangle), ``positions``, ``normals`` and ``uvs`` flat float32 arrays.
    """

    def __init__(self, slot, loops, indices, positions, normals, uvs):
        self.slot = slot
        self.loops = loops
        self.indices = indices
        self.positions = positions
        self.normals = normals
        self.uvs = uvs

    @property
    def triangle_count(self):
        return len(self.indices) // 3


class MeshArrays:
    """A mesh read once: vertex positions, loops and loop triangles.

    ``mesh`` is a ``bpy.types.Mesh`` the caller keeps alive while this
    object reads it (the constructor only); afterwards the arrays are
    independent of it.
    """

    def __init__(self, mesh):
        mesh.calc_loop_triangles()
        mesh.calc_normals_split()
        self.vertex_count = len(mesh.vertices)
        triangles = len(mesh.loop_triangles)
        loop_count = len(mesh.loops)
        self.co = np.empty(self.vertex_count * 3, dtype=np.float32)
        mesh.vertices.foreach_get("co", self.co)
        self.co = self.co.reshape(-1, 3)
        self.tri_loops = np.empty(triangles * 3, dtype=np.int32)
        mesh.loop_triangles.foreach_get("loops", self.tri_loops)
        self.tri_slots = np.empty(triangles, dtype=np.int32)
        mesh.loop_triangles.foreach_get("material_index", self.tri_slots)
        self.loop_vertex = np.empty(loop_count, dtype=np.int32)
        mesh.loops.foreach_get("vertex_index", self.loop_vertex)
        normals = np.empty(loop_count * 3, dtype=np.float32)
        mesh.loops.foreach_get("normal", normals)
        normals = normals.reshape(-1, 3)
        bad = np.einsum("ij,ij->i", normals, normals) < 1e-4
        self.zero_normals = int(np.count_nonzero(bad))
        if self.zero_normals:
            normals[bad] = (0.0, 0.0, 1.0)
        self.loop_normals = normals
        layer = mesh.uv_layers.active
        self.has_uv = layer is not None
        if self.has_uv:
            uvs = np.empty(loop_count * 2, dtype=np.float32)
            layer.data.foreach_get("uv", uvs)
            uvs = uvs.reshape(-1, 2)
            uvs[:, 1] = 1.0 - uvs[:, 1]
        else:
            uvs = np.zeros((loop_count, 2), dtype=np.float32)
        self.loop_uvs = uvs

    @property
    def triangle_count(self):
        return len(self.tri_slots)

    def parts(self, slot_count):
        """The parts of the mesh, one per used slot, in slot order.

        Material indices at or past ``slot_count`` count as the last slot
        (Blender draws them with it); a mesh without slots has one part of
        slot 0.
        """
        slots = self.tri_slots
        if slot_count > 0:
            slots = np.minimum(slots, slot_count - 1)
        else:
            slots = np.zeros_like(slots)
        used_slots = np.unique(slots)
        loop_count = len(self.loop_vertex)
        for slot in used_slots:
            if len(used_slots) == 1:
                corners = self.tri_loops
            else:
                corners = self.tri_loops.reshape(-1, 3)[slots == slot].reshape(-1)
            if len(used_slots) == 1 and len(corners) and np.bincount(corners, minlength=loop_count).all():
                loops = np.arange(loop_count, dtype=np.int32)
                indices = corners.astype(np.uint32)
            else:
                loops = np.flatnonzero(np.bincount(corners, minlength=loop_count)).astype(np.int32)
                remap = np.empty(loop_count, dtype=np.uint32)
                remap[loops] = np.arange(len(loops), dtype=np.uint32)
                indices = remap[corners]
            yield MeshPart(int(slot), loops, indices,
                           np.ascontiguousarray(self.co[self.loop_vertex[loops]]).reshape(-1),
                           np.ascontiguousarray(self.loop_normals[loops]).reshape(-1),
                           np.ascontiguousarray(self.loop_uvs[loops]).reshape(-1))

    def triangle_positions(self):
        """Positions (flat float32) and triangle indices (uint32) of the
        mesh's vertices, for collision shells: no normals or UVs, so the
        vertices are the mesh's own."""
        return self.co.reshape(-1).copy(), self.loop_vertex[self.tri_loops].astype(np.uint32)


def edge_segments(mesh):
    """The mesh's edges as a list of ((x, y, z), (x, y, z)) pairs."""
    co = np.empty(len(mesh.vertices) * 3, dtype=np.float32)
    mesh.vertices.foreach_get("co", co)
    edges = np.empty(len(mesh.edges) * 2, dtype=np.int32)
    mesh.edges.foreach_get("vertices", edges)
    ends = co.reshape(-1, 3).astype(np.float64)[edges].reshape(-1, 2, 3)
    return [(tuple(a), tuple(b)) for a, b in ends.tolist()]
