"""Reads the objects whose TAV role makes them special nodes.

- Fake Omni / Fake Spot Lights (a mesh): one light sprite at each vertex of
  the evaluated mesh, in the object's space, with the panel's texture,
  size, UV corners, back side, direction and cone; Animated Brightness
  samples the keyframed Brightness at every frame on the object's (or its
  action's) argument, and a keyframed Luminance animates the set's
  luminance the same way.
- Mirror, Colour and Deck (a mesh): all its triangles as one render node
  of that material; a deck reads its tiled and regular coordinates from the
  UV maps the panel names (empty: the render UV map).
- Number Display (an empty): its exported mesh children with the role
  Number Digit, in name order, are its digits, each in the display's space
  with its digit control; a Number Digit elsewhere is exported as a mesh.
A role on the wrong object type or a setting that cannot be used is
reported and the object exported as a plain one.
"""

from __future__ import annotations

from typing import TYPE_CHECKING, Any

import numpy as np

from . import action_export, compat, mesh_export, settings
from .material_export import describe_image
from .tavtools import builder
from .tavtools.scene import Clip, Digit, FakeLights, Image, Mesh, Node, SpecialMesh, Track

if TYPE_CHECKING:
    from .scene_export import SceneExporter

ROLES = ("fake_omni", "fake_spot", "mirror", "color", "deck", "number_root", "number_digit")
BRIGHTNESS, LUMINANCE = "tav_settings.fake_brightness", "tav_settings.fake_luminance"
# Object settings that a fake light set reads keyframed.
ANIMATED_SETTINGS = (BRIGHTNESS, LUMINANCE)


def describe(exporter: SceneExporter, o: Any, record: Node, role: str) -> bool:
    """Fills ``record`` for an object with a special role; False when the
    object is to be exported as a plain one (the reason is noted)."""
    fits = settings.ROLE_OBJECT_TYPES[role]
    if o.type not in fits:
        kind = "an empty" if fits is settings.EMPTY else "a mesh"
        exporter.note(o.name, f"role {role!r} needs {kind}; exported as a plain object")
        return False
    try:
        if role in ("fake_omni", "fake_spot"):
            return _fake_lights(exporter, o, record, "spot" if role == "fake_spot" else "omni")
        if role == "number_root":
            return _number_display(exporter, o, record)
        if role == "number_digit":
            return _in_display(exporter, o)
        return _special_mesh(exporter, o, record, role)
    except settings.SettingError as error:
        where, _, text = str(error).partition(": ")
        exporter.note(where, f"{text}; exported as a plain object")
        return False


def sampled_track(exporter: SceneExporter, where: str, path: str, argument: int, curves: dict[int, Any],
                  current: list[float], scale: float = 1.0, span: tuple[float, float] = (0.0, 1.0)) -> Track:
    """The channel sampled at every frame of the scene's range: the F-curve
    of each component where there is one, else its current value; the range
    plays from argument value ``span[0]`` to ``span[1]``."""
    frames = exporter.frames
    values = np.array([[curves[i].evaluate(f) if i in curves else current[i] for i in range(len(current))]
                       for f in frames], dtype=np.float64) * scale
    clip = Clip(argument, float(exporter.clip_range[0]), float(exporter.clip_range[1]), *span)
    return Track(where, path, clip, np.array(frames, dtype=np.float64), values)


def _three(v: tuple[float, ...]) -> tuple[float, float, float]:
    return (v[0], v[1], v[2])


def _corners(c: tuple[tuple[float, ...], tuple[float, ...]]) -> tuple[tuple[float, float], tuple[float, float]]:
    return ((c[0][0], c[0][1]), (c[1][0], c[1][1]))


def _image(exporter: SceneExporter, image: Any) -> Image | None:
    if image is None:
        return None
    images = exporter.materials.images
    if image.name not in images:
        images[image.name] = describe_image(image)
    found: Image = images[image.name]
    return found


def _fake_lights(exporter: SceneExporter, o: Any, record: Node, kind: str) -> bool:
    owner, mesh = exporter.mesh_data(o)
    try:
        co = compat.vertex_positions(mesh)
    finally:
        owner.to_mesh_clear()
    if len(co) == 0:
        exporter.note(o.name, "light sprites without vertices; skipped")
        return True
    made = FakeLights(o.name, kind, co.astype(np.float64))
    s = settings.fake_lights(o)
    if s is None:
        record.fake_lights = made
        return True
    made.texture = _image(exporter, s.texture)
    made.size, made.uv, made.back_side, made.back_uv = s.size, _corners(s.uv), s.back_side, _corners(s.back_uv)
    made.direction, made.cone, made.min_pixels = _three(s.direction), _three(s.cone), s.min_pixels
    made.max_distance, made.shift_to_camera, made.luminance = s.max_distance, s.shift_to_camera, s.luminance
    if kind == "omni" and s.back_side:
        exporter.note(o.name, "Back Side is for fake spot lights; omni lights have no back side")
    keyed = {c.data_path: c for c in compat.action_curves(o) if c.data_path in ANIMATED_SETTINGS and not c.mute}
    left_out = action_export.strips_left_out(o, "light-set keys", ANIMATED_SETTINGS)
    if left_out:
        exporter.note(o.name, left_out)
    action = o.animation_data.action if keyed else None
    argument = settings.animation_argument(o, action) if keyed else settings.object_argument(o)
    # The keys play over the action's argument range, as an object's own keys do.
    span = action_export.action_span(action, exporter.note)
    if LUMINANCE in keyed:
        made.luminance_track = sampled_track(exporter, o.name, "luminance", argument, {0: keyed[LUMINANCE]},
                                             [s.luminance], span=span)
    if s.animated:
        brightness = {0: keyed[BRIGHTNESS]} if BRIGHTNESS in keyed else {}
        made.brightness = sampled_track(exporter, o.name, "brightness", argument, brightness, [s.brightness],
                                        span=span)
    elif BRIGHTNESS in keyed:
        exporter.note(o.name, "Brightness is keyframed but Animated Brightness is off; the keys are not exported")
    record.fake_lights = made
    return True


def read_mesh(exporter: SceneExporter, o: Any, matrix: Any = None, layers: tuple[str, ...] | None = None
              ) -> Mesh | None:
    """All triangles of the object as one mesh of its first material,
    moved by ``matrix`` (4x4, column vectors) when given.  ``layers`` names
    the UV maps of sets 0, 1, ... ("" the render map); else set 0 is the
    render map and the others are numbered as textures name them."""
    owner, data_mesh = exporter.mesh_data(o)
    try:
        data = mesh_export.MeshArrays(data_mesh)
    finally:
        owner.to_mesh_clear()
    if data.triangle_count == 0:
        exporter.note(o.name, "no faces; skipped")
        return None
    if data.zero_normals:
        exporter.note(o.name, f"{data.zero_normals} corners of degenerate faces have no normal; written as +Z")
    slots = o.material_slots
    if len(np.unique(data.tri_slots)) > 1:
        exporter.note(o.name, "drawn with one material: the material of its first slot is used for every face")
    part = next(data.parts(0))
    material = exporter.materials.material(slots[0].material if len(slots) else None)
    names = list(part.uvs)
    if layers is None:
        uv_sets = {0 if k == 0 else exporter.materials.uv_number(n): part.uvs[n] for k, n in enumerate(names)}
    else:
        uv_sets = {}
        for k, layer in enumerate(layers):
            if layer and layer not in part.uvs:
                exporter.note(o.name, f"has no UV map {layer!r}; the render UV map is used")
                layer = ""
            if layer or names:
                uv_sets[k] = part.uvs[layer or names[0]]
    positions, normals, indices = part.positions, part.normals, part.indices
    if matrix is not None:
        positions, normals = builder.transform_points(matrix, positions), builder.transform_normals(matrix, normals)
        if np.linalg.det(matrix[:3, :3]) < 0:
            indices = np.ascontiguousarray(indices.reshape(-1, 3)[:, ::-1].reshape(-1))
    return Mesh(o.name, o.name, positions, normals, indices, material, uv_sets)


def _special_mesh(exporter: SceneExporter, o: Any, record: Node, role: str) -> bool:
    deck = settings.deck(o) if role == "deck" else None
    layers = (deck.tiled_uv, deck.regular_uv) if deck is not None else ("", "") if role == "deck" else None
    mesh = read_mesh(exporter, o, layers=layers)
    if mesh is None:
        return True
    made = SpecialMesh(role, mesh)
    if role == "mirror":
        made.texture = _image(exporter, settings.mirror_texture(o))
    elif role == "color":
        made.color = _three(settings.node_color(o))
    elif deck is not None:
        made.maps = {suffix: _image(exporter, image) for suffix, image in deck.maps.items()}
        made.transparent_mode, made.decal_id = deck.transparent_mode, deck.decal_id
        made.argument = None if deck.argument == settings.ARGUMENT_NONE else deck.argument
    record.special = made
    return True


def _role(o: Any) -> str | None:
    try:
        return settings.object_role(o)
    except settings.SettingError:
        return None


def _number_display(exporter: SceneExporter, o: Any, record: Node) -> bool:
    digits = []
    to_display = np.array(o.matrix_world.inverted_safe(), dtype=np.float64)
    for child in sorted(o.children, key=lambda c: c.name):
        if child.name in exporter.exported and _role(child) == "number_digit" and child.type in settings.MESH:
            mesh = read_mesh(exporter, child, to_display @ np.array(child.matrix_world, dtype=np.float64))
            if mesh is not None:
                digits.append(Digit(mesh, settings.digit_control(child)))
    if not digits:
        exporter.note(o.name, "a Number Display needs mesh children with the role Number Digit; "
                              "exported as a plain object")
        return False
    record.digits = digits
    return True


def _in_display(exporter: SceneExporter, o: Any) -> bool:
    parent = o.parent
    display = exporter.records.get(parent.name) if parent is not None and parent.name in exporter.exported else None
    if display is not None and display.digits:
        return True
    exporter.note(o.name, "role 'number_digit' needs a Number Display empty as its parent; exported as a mesh")
    return False
