"""Reads what the model knows of a material beyond the Principled BSDF: the
blocks and render-node settings of its TAV Material panel, and its keyed
emission.

Blocks: damage (albedo and normal maps with their UV maps, mask, RGBA
mask, argument), decal and AO (map, UV map, shift), FLIR (map) and glass
(colour map, instrumental), each map an image of its own read on its own
UV map (empty: the mesh's render layer); the panel's Shadows, Transparent
Mode, Decal ID and Emissive Type, and its Two-Sided over Backface Culling.
A panel whose settings cannot be read (a map naming no Image Texture node)
is reported and the material is exported as its shader shows it.

Keyed emission: F-curves on the Emission Strength or Emission Color of the
material's shader (the node tree's action) are sampled at every frame of
the scene's range and become keys on the argument of the action's own
``tav_argument``, else the object's. A material shared by objects of
different arguments gives one material per argument. Curves on other
inputs or nodes are reported.
"""

from dataclasses import replace
from typing import Any

import numpy as np

from . import action_export, compat, material_export, settings
from .tavtools.scene import Blocks, Clip, Damage, Glass, Material, MapBlock, Texture, Track

EMISSION_INPUTS = (("Emission Color", "emission", 3), ("Emission Strength", "emission_strength", 1))


def read_blocks(reader: Any, material: Any, result: Material) -> None:
    """Fills ``result.blocks`` (and ``two_sided``) from the material's panel."""
    try:
        own = settings.material_settings(material)
    except settings.SettingError as error:
        reader.notes.append((result.where, f"{error}; the TAV material settings are not exported"))
        return

    def texture(found: settings.Map | None, label: str) -> Texture | None:
        if found is None:
            return None
        made: Texture = reader.texture_of(found.image, f"{result.where} {label}", found.uv_map or None)
        return made

    blocks = Blocks(own.shadow_caster, own.transparent_mode, own.decal_id, own.emissive_type)
    if own.damage is not None:
        d = own.damage
        blocks.damage = Damage(d.argument, texture(d.albedo, "damage albedo"), texture(d.normal, "damage normal map"),
                               texture(d.mask, "damage mask"), texture(d.mask_rgba, "damage RGBA mask"))
    if own.decal is not None:
        blocks.decal = MapBlock(texture(own.decal.map, "decal map"), own.decal.shift)
    if own.ao is not None:
        blocks.ao = MapBlock(texture(own.ao.map, "AO map"), own.ao.shift)
    if own.flir is not None:
        blocks.flir = MapBlock(texture(own.flir.map, "FLIR map"))
    if own.glass is not None:
        blocks.glass = Glass(texture(own.glass.color_map, "glass colour map"), own.glass.instrumental)
    result.blocks = blocks
    if own.two_sided is not None:
        result.two_sided = own.two_sided


class MaterialExtras:
    """The material records of one export run with their panel blocks and
    keyed emission: one record per Blender material, and one per material
    and argument where its emission is keyed."""

    def __init__(self, reader: Any) -> None:
        self.reader = reader
        self.with_blocks: set[str | None] = set()
        self.keyed: dict[tuple[str, int], Material] = {}

    def material(self, obj: Any, material: Any, frames: list[int], clip_range: tuple[int, int]) -> Material:
        record: Material = self.reader.material(material)
        if material is None:
            return record
        if material.name not in self.with_blocks:
            self.with_blocks.add(material.name)
            read_blocks(self.reader, material, record)
        found = self._emission_curves(material)
        if not found:
            return record
        try:
            argument = settings.animation_argument(obj, material.node_tree.animation_data.action)
        except settings.SettingError as error:
            self.reader.notes.append((record.where, f"{error}; the emission animation is not exported"))
            return record
        key = (record.name, argument)
        if key not in self.keyed:
            span = action_export.action_span(material.node_tree.animation_data.action,
                                             lambda where, text: self.reader.notes.append((where, text)))
            clip = Clip(argument, float(clip_range[0]), float(clip_range[1]), *span)
            tracks = []
            for name, path, width in EMISSION_INPUTS:
                if path in found:
                    socket, curves = found[path]
                    still = [socket.default_value] if width == 1 else list(socket.default_value)[:width]
                    values = [[curves[i].evaluate(f) if i in curves else still[i] for i in range(width)]
                              for f in frames]
                    tracks.append(Track(f"{record.where} {name}", path, clip, np.array(frames, dtype=np.float64),
                                        np.array(values, dtype=np.float64)))
            self.keyed[key] = replace(record, tracks=tracks)
        return self.keyed[key]

    def _emission_curves(self, material: Any) -> dict[str, tuple[Any, dict[int, Any]]]:
        """{track path: (socket, {component: F-curve})} of the keyed emission
        inputs of the material's shader; other curves of its tree are noted."""
        tree = compat.material_node_tree(material)
        left_out = action_export.strips_left_out(tree, "keys") if tree is not None else ""
        if left_out:
            self.reader.notes.append((f"material {material.name}", left_out))
        curves = compat.action_curves(tree) if tree is not None else []
        if not curves:
            return {}
        shader = material_export._shader(tree)
        wanted: dict[str, tuple[str, Any]] = {}
        for name, path, _ in EMISSION_INPUTS:
            socket = compat.principled_input(shader, name) if shader is not None else None
            if socket is not None and not socket.is_linked:
                wanted[socket.path_from_id("default_value")] = (path, socket)
        found: dict[str, tuple[Any, dict[int, Any]]] = {}
        other = set()
        for curve in curves:
            if curve.mute:
                continue
            if curve.data_path in wanted:
                path, socket = wanted[curve.data_path]
                found.setdefault(path, (socket, {}))[1][curve.array_index] = curve
            else:
                other.add(curve.data_path)
        if other:
            self.reader.notes.append((f"material {material.name}",
                                      f"animation of {', '.join(sorted(other))} is not exported"))
        return found
