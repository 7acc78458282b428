"""Reads Blender lights into the builder's light description.

Colour is the light's colour; intensity the power as luminous intensity in
candela, the conversion Blender's glTF exporter uses: power (W) x 683 /
(4 pi); range the Custom Distance when it is on.  A spot's cone is half its
Spot Size and its blend the Spot Blend, the soft part of the cone.  Sun and
area lights are described by their kind; the builder reports them.

Keyframed Power, Color, Custom Distance, Spot Size and Spot Blend of the
light data become tracks sampled at every frame of the scene's range, on
the argument of the light data's action, else of the object.
"""

from __future__ import annotations

import math
from typing import TYPE_CHECKING, Any

from . import action_export, compat, settings
from .special_export import sampled_track
from .tavtools.scene import Light

if TYPE_CHECKING:
    from .scene_export import SceneExporter

WATTS_TO_CANDELA = 683.0 / (4.0 * math.pi)
# Light data path -> (track path, factor from Blender's value).
ANIMATED = {"energy": ("intensity", WATTS_TO_CANDELA), "color": ("color", 1.0),
            "cutoff_distance": ("range", 1.0), "spot_size": ("cone", 0.5), "spot_blend": ("blend", 1.0)}


def describe_light(obj: Any) -> Light:
    light = obj.data
    red, green, blue = (float(c) for c in light.color)
    made = Light(obj.name, obj.name, {"POINT": "point", "SPOT": "spot"}.get(light.type, light.type.lower()),
                 (red, green, blue), float(light.energy) * WATTS_TO_CANDELA,
                 float(light.cutoff_distance) if light.use_custom_distance else None)
    if light.type == "SPOT":
        made.cone, made.blend = float(light.spot_size) / 2.0, float(light.spot_blend)
    return made


def animate_light(exporter: SceneExporter, obj: Any, made: Light) -> None:
    """Adds the tracks of the light data's keyframed values to ``made``."""
    light = obj.data
    left_out = action_export.strips_left_out(light, "the light's keys")
    if left_out:
        exporter.note(obj.name, left_out)
    curves: dict[str, dict[int, Any]] = {}
    for curve in compat.action_curves(light):
        if not curve.mute:
            curves.setdefault(curve.data_path, {})[curve.array_index] = curve
    unread = sorted(path for path in curves if path not in ANIMATED)
    if unread:
        exporter.note(obj.name, f"animation of the light's {', '.join(unread)} is not exported")
    if "cutoff_distance" in curves and not light.use_custom_distance:
        exporter.note(obj.name, "Custom Distance is keyframed but off; its keys are not exported")
        del curves["cutoff_distance"]
    if light.type != "SPOT":
        curves.pop("spot_size", None)
        curves.pop("spot_blend", None)
    keyed = [path for path in ANIMATED if path in curves]
    if not keyed:
        return
    try:
        argument = settings.animation_argument(obj, light.animation_data.action)
    except settings.SettingError as error:
        exporter.note(obj.name, f"{error}; the light's keys are not exported")
        return
    span = action_export.action_span(light.animation_data.action, exporter.note)
    for path in keyed:
        name, factor = ANIMATED[path]
        value = getattr(light, path)
        current = [float(v) for v in value] if path == "color" else [float(value)]
        made.tracks.append(sampled_track(exporter, obj.name, name, argument, curves[path], current, factor, span))
