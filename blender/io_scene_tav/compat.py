"""The places where Blender's Python API differs between the versions the
add-on supports (3.4 to 5.x), one function per thing read.

Each function finds the API it needs by feature (``hasattr``, a socket or
a property that exists or not) rather than by version number, so that the
rest of the add-on reads the same in every version. The module imports only
NumPy and ``bpy`` and reads the objects it is handed; the setters at the end are
for scripts and tests that build scenes.

Two changes need no entry here: the add-on reads the bone hierarchy and rest
matrices, the same in every version, and no bone layers or collections; and
the material walk passes through any node between an image and a shader
input, so Separate RGB (before 3.3) and Separate Color read alike.
"""

from collections.abc import Sequence
from typing import Any

import bpy
import numpy as np
import numpy.typing as npt

# -- meshes ------------------------------------------------------------------


def corner_normals(mesh: Any) -> npt.NDArray[np.float32]:
    """The normal of every face corner (loop) of ``mesh`` as Blender shades
    it (flat faces, sharp edges, auto smooth and custom normals included): a
    (loops, 3) float32 array. Auto smooth is the mesh's own setting before
    4.1 and a modifier whose sharp edges are in the evaluated mesh after.
    Blender 4.1 and later compute them on demand (``corner_normals``);
    before, ``calc_normals_split`` fills ``loops[].normal``."""
    normals = np.empty(len(mesh.loops) * 3, dtype=np.float32)
    if hasattr(mesh, "corner_normals"):
        mesh.corner_normals.foreach_get("vector", normals)
    else:
        mesh.calc_normals_split()
        mesh.loops.foreach_get("normal", normals)
    return normals.reshape(-1, 3)


def vertex_positions(mesh: Any) -> npt.NDArray[np.float32]:
    """The position of every vertex of ``mesh``: a (vertices, 3) float32
    array. From 3.5 on positions are the generic attribute "position",
    whose bulk read is many times faster than ``vertices[].co``."""
    co = np.empty(len(mesh.vertices) * 3, dtype=np.float32)
    attribute = _attribute(mesh, "position", "POINT", "FLOAT_VECTOR")
    if attribute is not None:
        attribute.data.foreach_get("vector", co)
    else:
        mesh.vertices.foreach_get("co", co)
    return co.reshape(-1, 3)


def corner_vertices(mesh: Any) -> npt.NDArray[np.uint32]:
    """The vertex of every face corner (loop) of ``mesh``: a (loops,)
    uint32 array. Newer Blenders (4.2 does, 3.4 not) keep it as the
    internal attribute ".corner_vert", read in bulk far faster than
    ``loops[].vertex_index``."""
    vertices = np.empty(len(mesh.loops), dtype=np.uint32)
    attribute = _attribute(mesh, ".corner_vert", "CORNER", "INT")
    if attribute is not None:
        signed = vertices.view(np.int32)  # the attribute's own type takes the fast path
        attribute.data.foreach_get("value", signed)
    else:
        mesh.loops.foreach_get("vertex_index", vertices)
    return vertices


def uv_coordinates(mesh: Any, layer: Any) -> npt.NDArray[np.float32]:
    """The coordinates of UV layer ``layer`` of ``mesh`` at every face
    corner: a (loops, 2) float32 array, as Blender stores them (v up). From
    3.5 on a UV layer is a corner attribute of the same name, read in bulk
    far faster than through ``layer.data``."""
    uvs = np.empty(len(mesh.loops) * 2, dtype=np.float32)
    attribute = _attribute(mesh, layer.name, "CORNER", "FLOAT2")
    if attribute is not None:
        attribute.data.foreach_get("vector", uvs)
    else:
        layer.data.foreach_get("uv", uvs)
    return uvs.reshape(-1, 2)


def face_materials(mesh: Any) -> npt.NDArray[np.int32]:
    """The material slot number of every face of ``mesh``: a (faces,)
    int32 array. From 3.4 on it is the face attribute "material_index"
    where any face has a slot other than the first; ``polygons[]`` is the
    slow way round."""
    slots = np.empty(len(mesh.polygons), dtype=np.int32)
    attribute = _attribute(mesh, "material_index", "FACE", "INT")
    if attribute is not None:
        attribute.data.foreach_get("value", slots)
    else:
        mesh.polygons.foreach_get("material_index", slots)
    return slots


def triangle_faces(mesh: Any) -> npt.NDArray[np.int32]:
    """The face each loop triangle of ``mesh`` belongs to: a (triangles,)
    int32 array (``calc_loop_triangles`` first). Newer Blenders (4.2 does,
    3.4 not) keep them in ``loop_triangle_polygons``, read in bulk far
    faster than ``loop_triangles[].polygon_index``."""
    faces = np.empty(len(mesh.loop_triangles), dtype=np.int32)
    if hasattr(mesh, "loop_triangle_polygons"):
        mesh.loop_triangle_polygons.foreach_get("value", faces)
    else:
        mesh.loop_triangles.foreach_get("polygon_index", faces.view(np.uint32))
    return faces


def _attribute(mesh: Any, name: str, domain: str, data_type: str) -> Any:
    """The generic attribute ``name`` of ``mesh`` when it exists with this
    domain and type, else None (older Blenders keep the data elsewhere)."""
    attributes = getattr(mesh, "attributes", None)
    attribute = attributes.get(name) if attributes is not None else None
    if attribute is None or attribute.domain != domain or attribute.data_type != data_type:
        return None
    return attribute


# -- materials ---------------------------------------------------------------

# Principled BSDF inputs renamed in Blender 4.0: current name -> earlier name.
PRINCIPLED_RENAMED = {
    "Emission Color": "Emission",
    "Subsurface Weight": "Subsurface",
    "Specular IOR Level": "Specular",
    "Transmission Weight": "Transmission",
    "Coat Weight": "Clearcoat",
    "Coat Roughness": "Clearcoat Roughness",
    "Coat Normal": "Clearcoat Normal",
    "Sheen Weight": "Sheen",
}
_CURRENT_NAME = {old: new for new, old in PRINCIPLED_RENAMED.items()}


def principled_input(shader: Any, name: str) -> Any:
    """The input socket ``name`` (its current name, e.g. "Emission Color")
    of a Principled BSDF node, under whichever name this Blender gives it;
    None when the node has no such input."""
    socket = shader.inputs.get(name)
    if socket is None and name in PRINCIPLED_RENAMED:
        socket = shader.inputs.get(PRINCIPLED_RENAMED[name])
    return socket


def principled_input_name(socket: Any) -> str:
    """The current name of a Principled BSDF input socket, whatever this
    Blender calls it ("Emission" in 3.4 is "Emission Color")."""
    name: str = socket.name
    return _CURRENT_NAME.get(name, name)


def blend_mode(material: Any) -> str:
    """How the material's surface blends: "OPAQUE", "BLEND", "CLIP" or
    "HASHED". From 4.2 on the material has a render method (Dithered or
    Blended) in place of a blend mode; dithered reads as "OPAQUE", since
    it is what opaque materials use there."""
    if hasattr(material, "surface_render_method"):
        return "BLEND" if material.surface_render_method == "BLENDED" else "OPAQUE"
    return str(material.blend_method)


def material_node_tree(material: Any) -> Any:
    """The material's shader node tree, or None when it uses no nodes. From
    5.0 on every material renders with its nodes; ``use_nodes`` stays only
    as a deprecated switch that does nothing, which nothing else tells
    apart, so this one test is by version."""
    if material.node_tree is None:
        return None
    if bpy.app.version < (5, 0, 0) and not material.use_nodes:
        return None
    return material.node_tree


def multiply_mix(node: Any) -> tuple[Any, list[Any]] | None:
    """(factor socket, colour sockets) of a colour Mix node in Multiply
    mode: the Mix node of 3.4 and later (``MIX``, colour data type, only the
    enabled sockets count) or the older MixRGB (``MIX_RGB``). None for any
    other node."""
    colour_mix = node.type == "MIX_RGB" or (node.type == "MIX" and node.data_type == "RGBA")
    if not colour_mix or node.blend_type != "MULTIPLY":
        return None
    factor = node.inputs[0]
    colors = [s for s in node.inputs if s.type == "RGBA" and s.enabled]
    return factor, colors


# -- animation ---------------------------------------------------------------


def action_curves(id_data: Any) -> list[Any]:
    """The F-curves of the active action of ``id_data`` (an object or any
    animatable data block) that animate it, as a list ([] without action).

    From 4.4 on an action is layered: its F-curves sit in channel bags per
    slot inside the strips of its layers, and an object reads those of its
    own ``action_slot`` (one action may animate several objects). Before,
    and for an action not yet layered, they are ``action.fcurves``.
    """
    data = getattr(id_data, "animation_data", None)
    action = data.action if data is not None else None
    if action is None:
        return []
    return action_fcurves(action, getattr(data, "action_slot", None))


def action_fcurves(action: Any, slot: Any) -> list[Any]:
    """The F-curves of ``action`` for the user that plays it through
    ``slot`` (the ``action_slot`` of the animation data or of an NLA strip;
    None before 4.4, and for a user whose slot is unassigned: a layered
    action then animates nothing)."""
    layers = getattr(action, "layers", None)
    if layers is not None and len(layers) > 0:
        if slot is None:
            return []
        curves: list[Any] = []
        for layer in layers:
            for strip in layer.strips:
                bag = strip.channelbag(slot) if hasattr(strip, "channelbag") else None
                if bag is not None:
                    curves.extend(bag.fcurves)
        return curves
    return list(getattr(action, "fcurves", ()))


# -- for scripts and tests that build scenes ---------------------------------


def set_blend_mode(material: Any, blended: bool) -> None:
    """Makes the material alpha blended (True) or opaque (False)."""
    if hasattr(material, "surface_render_method"):
        material.surface_render_method = "BLENDED" if blended else "DITHERED"
    else:
        material.blend_method = "BLEND" if blended else "OPAQUE"


def set_sharp_by_angle(mesh: Any, angle: float) -> None:
    """Shades the edges of ``mesh`` whose faces meet at more than ``angle``
    (radians) sharp and the others smooth, with every face smooth: Auto
    Smooth before 4.1, sharp edge marks from 4.1 on."""
    mesh.polygons.foreach_set("use_smooth", [True] * len(mesh.polygons))
    if hasattr(mesh, "set_sharp_from_angle"):
        mesh.set_sharp_from_angle(angle=angle)
    else:
        mesh.use_auto_smooth = True
        mesh.auto_smooth_angle = angle
    mesh.update()


def set_custom_normals(mesh: Any, normals: Sequence[Sequence[float]]) -> None:
    """Sets one custom normal per face corner (a sequence of 3-vectors);
    before 4.1 Blender uses them only with Auto Smooth on."""
    if hasattr(mesh, "use_auto_smooth"):
        mesh.use_auto_smooth = True
        mesh.auto_smooth_angle = 3.14159
    mesh.normals_split_custom_set(normals)
    mesh.update()
