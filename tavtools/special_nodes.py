"""The builder's render nodes of fixed material, light sprites, number
displays and animated light values.

Light sprites
    ``FakeOmniLights`` / ``FakeSpotLights``, one light per position, or the
    animated sets when a brightness track drives them: every light gets the
    track's curve over the argument range, on the track's argument.
Mirror, colour and deck
    ``MirrorNode``, ``ColorNode``, ``DeckNode`` under the node; a missing
    texture or required map is the module's own message, and the node is
    left out.
Number displays
    A ``NumberRoot`` "<name>_number" under the node holds the digits' render
    nodes (the save merges them into number nodes).  The save merges only
    1 to 8 digits of one material; other displays are reported and their
    digits written as plain meshes under the node.
Animated values
    A track becomes an animated property on its clip's argument; the values
    are sampled per frame by the reader and reduced by the module.
"""

from __future__ import annotations

import math
from typing import Any

import numpy as np

from . import builder as _b
from .scene import Array, FakeLights, Light, Node, SpecialMesh, Track

MAX_DIGITS = 8
DECK_REQUIRED = ("BaseTiledMap", "NormalTiledMap", "AormsTiledMap", "BaseMap", "AormsMap")


def float_property(b: _b._Builder, value: float, track: Track | None, scale: float = 1.0) -> Any:
    """A ``PropertyFloat``: the track's values times ``scale`` on its
    argument, else the static value."""
    if track is None:
        return b.pt.PropertyFloat(float(value) * scale)
    keys = [(float(t), float(v[0]) * scale) for t, v in zip(b._arguments(track), track.values)]
    return b.pt.PropertyFloat(track.clip.argument, keys)


def _track(light: Light, path: str) -> Track | None:
    return next((t for t in light.tracks if t.path == path), None)


def light_values(b: _b._Builder, light: Light, made: Any) -> None:
    """Colour, brightness, distance and a spot's angles of a light, each
    animated where the light has a track for it."""
    pt = b.pt
    color = _track(light, "color")
    if color is None:
        made.setColor(pt.PropertyFloat3(tuple(float(c) for c in light.color)))
    else:
        made.setColor(pt.PropertyFloat3(color.clip.argument, [
            (float(t), tuple(float(c) for c in v[:3])) for t, v in zip(b._arguments(color), color.values)]))
    intensity = _track(light, "intensity")
    made.setBrightness(float_property(b, light.intensity, intensity))
    distance_track = _track(light, "range")
    if light.range is not None:
        made.setDistance(float_property(b, light.range, distance_track))
    else:
        # Where the brightest value over d^2 falls to 1/256.
        brightest = max([light.intensity] + ([float(np.max(intensity.values))] if intensity is not None else []))
        made.setDistance(pt.PropertyFloat(math.sqrt(256.0 * max(brightest, 0.0))))
    if light.kind != "spot":
        return
    cone, blend = _track(light, "cone"), _track(light, "blend")
    degrees = math.degrees(1.0)
    phi = float_property(b, light.cone, cone, degrees)
    if cone is None:
        fraction = (pt.PropertyFloat(min(max(float(light.blend), 0.0), 1.0)) if blend is None else
                    pt.PropertyFloat(blend.clip.argument, [
                        (float(t), min(max(float(v[0]), 0.0), 1.0))
                        for t, v in zip(b._arguments(blend), blend.values)]))
        made.setAngles(phi, fraction)
        return
    # setAngles keeps theta to phi's value at 0; a cone that changes needs
    # theta of its own, the hard inner cone at every key.
    times = b._arguments(cone)
    blends = (np.full(len(times), float(light.blend)) if blend is None else
              np.interp(times, b._arguments(blend), np.asarray(blend.values, dtype=np.float64)[:, 0]))
    thetas = np.asarray(cone.values, dtype=np.float64)[:, 0] * degrees * (1.0 - np.clip(blends, 0.0, 1.0))
    made.setPhi(phi)
    made.setTheta(pt.PropertyFloat(cone.clip.argument, [(float(t), float(v)) for t, v in zip(times, thetas)]))


def add(b: _b._Builder, node: Node, control: Any) -> None:
    """The node's light sprites, special mesh and number display."""
    if node.fake_lights is not None:
        _fake_lights(b, node, node.fake_lights, control)
    if node.special is not None:
        _special_mesh(b, node, node.special, control)
    if node.digits:
        _digits(b, node)


def _fake_lights(b: _b._Builder, node: Node, f: FakeLights, control: Any) -> None:
    pt = b.pt
    spot = f.kind == "spot"
    animated = f.brightness is not None
    if animated:
        made = (pt.AnimatedFakeSpotLight if spot else pt.AnimatedFakeOmniLight)(node.name)
    else:
        made = (pt.FakeSpotLights if spot else pt.FakeOmniLights)(node.name)
    lights = []
    for position in np.asarray(f.positions, dtype=np.float64).reshape(-1, 3):
        light = pt.FakeSpotLight() if spot else pt.FakeOmniLight()
        light.setPos(tuple(float(v) for v in position))
        light.setUV(*f.uv)
        light.setSize(float(f.size))
        if spot:
            light.setBackUV(*f.back_uv)
            light.setBackSide(bool(f.back_side))
        lights.append(light)
    made.set(lights)
    name = b._image_name(f.texture) if f.texture is not None else None
    if name:
        made.setTexture(name)
    else:
        b.lose(f.where, "light sprites without a texture; written without one")
    made.setMinSizeInPixels(float(f.min_pixels))
    made.setMaxDistance(float(f.max_distance))
    made.setShiftToCamera(float(f.shift_to_camera))
    made.setLuminance(float_property(b, f.luminance, f.luminance_track))
    if spot:
        made.setConeSetup(tuple(float(v) for v in f.cone))
        made.setDirection(tuple(float(v) for v in f.direction))
    if f.brightness is not None:
        track = f.brightness
        keys = [(float(t), float(v[0])) for t, v in zip(b._arguments(track), track.values)]
        made.setAnimationArg(float(track.clip.argument))
        made.setLightsAnimation([(k, keys) for k in range(len(lights))])
    made.setControlNode(control)
    _add_render(b, f.where, made)


def _add_render(b: _b._Builder, where: str, made: Any) -> None:
    message = b.model.addRenderNode(made)
    if message:
        b.lose(where, f"refused by the module: {message}; skipped")
    else:
        b._format20_drop(where, "render nodes")


def _flat32(values: Array) -> Any:
    return np.ascontiguousarray(values, dtype=np.float32).reshape(-1)


def _special_mesh(b: _b._Builder, node: Node, s: SpecialMesh, control: Any) -> None:
    pt = b.pt
    mesh = s.mesh
    _b._check_finite(mesh)
    positions = np.asarray(mesh.positions, dtype=np.float64)
    indices = _b.facing_triangles(mesh.indices, b.world[id(node)]).reshape(-1).astype(np.uint32)
    name = b._unique_render_name(mesh.name)
    uv = mesh.uv_sets.get(0, np.zeros((len(positions), 2)))
    if s.kind == "color":
        made = pt.ColorNode(name, mesh.name)
        made.setPositions(_flat32(positions))
        made.setNormals(_flat32(mesh.normals))
        made.setIndices(indices)
        made.setColor(*(float(c) for c in s.color))
    elif s.kind == "mirror":
        made = pt.MirrorNode(name, mesh.name)
        made.setPositions(_flat32(positions))
        made.setNormals(_flat32(mesh.normals))
        made.setIndices(indices.tolist())
        made.setTextureCoordinates(_flat32(uv))
        texture = b._image_name(s.texture) if s.texture is not None else None
        if texture:
            made.setTexture(texture)
    else:
        made = pt.DeckNode(name, mesh.name)
        made.setPositions(_flat32(positions).tolist())
        made.setNormals(_flat32(mesh.normals).tolist())
        made.setIndices(indices.tolist())
        made.setTiledUV(_flat32(uv).tolist())
        made.setRegularUV(_flat32(mesh.uv_sets.get(1, uv)).tolist())
        for suffix, image in s.maps.items():
            texture = b._image_name(image) if image is not None else None
            if texture:
                getattr(made, "set" + suffix)(texture)
        if 0 <= s.transparent_mode <= 3:
            made.setTransparentMode(int(s.transparent_mode))
        else:
            b.lose(mesh.where, f"transparent mode {s.transparent_mode} is not one of 0 to 3; mode 0 written")
        made.setDecalId(int(s.decal_id))
        if s.argument is not None:
            made.setArgument(int(s.argument))
    made.setControlNode(control)
    _add_render(b, mesh.where, made)
    world = b.world[id(node)]
    b.bounds.append(lambda: _b.transform_points(world, positions))


def _digits(b: _b._Builder, node: Node) -> None:
    digits = node.digits or []
    materials = {id(d.mesh.material) for d in digits}
    anchor = b.wrappers[id(node)]
    if len(digits) > MAX_DIGITS or len(materials) != 1:
        b.lose(node.where, f"a number display of {len(digits)} digits with {len(materials)} materials cannot be "
                           f"merged (Can't merge digits.: 1 to {MAX_DIGITS} digits of one material); "
                           "the digits are written as plain meshes")
        for digit in digits:
            b._mesh(node, digit.mesh, anchor)
        return
    root = anchor.addChild(b.pt.NumberRoot(node.name + "_number"))
    root.setControls([tuple(float(v) for v in d.control) for d in digits])
    for digit in digits:
        b._mesh(node, digit.mesh, root)
