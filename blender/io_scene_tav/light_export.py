"""Reads Blender lights into the builder's light description.

Colour is the light's colour; intensity the power as luminous intensity in
candela, the conversion Blender's glTF exporter uses: power (W) x 683 /
(4 pi); range the Custom Distance when it is on.  A spot's cone is half its
Spot Size and its blend the Spot Blend, the soft part of the cone.  Sun and
area lights are described by their kind; the builder reports them.
"""

import math
from typing import Any

from .tavtools.scene import Light

WATTS_TO_CANDELA = 683.0 / (4.0 * math.pi)


def describe_light(obj: Any) -> Light:
    light = obj.data
    red, green, blue = (float(c) for c in light.color)
    made = Light(obj.name, obj.name, {"POINT": "point", "SPOT": "spot"}.get(light.type, light.type.lower()),
                 (red, green, blue), float(light.energy) * WATTS_TO_CANDELA,
                 float(light.cutoff_distance) if light.use_custom_distance else None)
    if light.type == "SPOT":
        made.cone, made.blend = float(light.spot_size) / 2.0, float(light.spot_blend)
    return made
