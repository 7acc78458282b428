"""Maps Blender point and spot lights onto ``OmniLight`` and ``SpotLight``.

Mapping rules:
- Colour is the light's colour.
- Brightness is the light's power as luminous intensity in candela, the
  conversion Blender's glTF exporter uses: power (W) x 683 / (4 pi).
- Distance is the Custom Distance when it is on; otherwise the distance at
  which brightness / d^2 falls to 1/256, sqrt(256 x brightness).
- A spot light's phi is half its Spot Size in degrees (the cone's half
  angle) and its theta, the width of the soft edge, phi x Spot Blend
  (``setAngles`` with the fraction 1 - Spot Blend).
- Sun and area lights have no counterpart; the caller reports and skips them.
"""

import math

WATTS_TO_CANDELA = 683.0 / (4.0 * math.pi)


def brightness_of(light):
    return float(light.energy) * WATTS_TO_CANDELA


def distance_of(light):
    if light.use_custom_distance:
        return float(light.cutoff_distance)
    return math.sqrt(256.0 * max(brightness_of(light), 0.0))


def make_light(pytav, obj):
    """The pytav light for the light object ``obj`` (type POINT or SPOT);
    the caller sets its control node and adds it."""
    light = obj.data
    if light.type == "POINT":
        made = pytav.OmniLight(obj.name)
    else:
        made = pytav.SpotLight(obj.name)
        phi = math.degrees(light.spot_size) / 2.0
        made.setAngles(pytav.PropertyFloat(phi), pytav.PropertyFloat(1.0 - float(light.spot_blend)))
    made.setColor(pytav.PropertyFloat3(tuple(float(c) for c in light.color)))
    made.setBrightness(pytav.PropertyFloat(brightness_of(light)))
    made.setDistance(pytav.PropertyFloat(distance_of(light)))
    return made
