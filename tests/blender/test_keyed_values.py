"""Keyed values held to what Blender shows at every frame: an object's
rotation in every rotation mode, and every keyed setting of a spot light."""

import math

import bpy
import numpy as np
from mathutils import Euler

from support import (CANDELA, blender_world, empty_scene, export_and_read, frames, light, mesh_object, node, run,
                     value_at, world)


def test_every_rotation_mode_places_the_object_where_blender_has_it_at_every_frame():
    # One object per mode, keyed through the same three turns at frames 1,
    # 11 and 21: each mode interpolates its own channel its own way.
    empty_scene()
    turns = [Euler([math.radians(a) for a in angles]) for angles in ((0, 0, 0), (30, -60, 120), (170, 10, -150))]
    modes = ("QUATERNION", "AXIS_ANGLE", "XYZ", "ZXY", "YZX")
    for k, mode in enumerate(modes):
        spinner = mesh_object(f"Spin_{mode}", location=(3 * k, 0, 0))
        spinner.rotation_mode = mode
        for frame, turn in zip((1, 11, 21), turns):
            if mode == "QUATERNION":
                spinner.rotation_quaternion, path = turn.to_quaternion(), "rotation_quaternion"
            elif mode == "AXIS_ANGLE":
                axis, angle = turn.to_quaternion().to_axis_angle()
                spinner.rotation_axis_angle, path = (angle, *axis), "rotation_axis_angle"
            else:
                spinner.rotation_euler, path = turn.to_matrix().to_euler(mode), "rotation_euler"
            spinner.keyframe_insert(path, frame=frame)
    data, _ = export_and_read("rotation_modes.tav")
    for frame, t in frames():
        for mode in modes:
            spinner = bpy.data.objects[f"Spin_{mode}"]
            got = world(data["nodes"], node(data, spinner.name)["index"], t)
            assert np.allclose(got, blender_world(spinner), atol=2e-3), (mode, frame)


def test_every_keyed_setting_of_a_spot_light_follows_blender_at_every_frame():
    empty_scene()
    beam = light("Beam", "SPOT", (0, 0, 3), use_custom_distance=True)
    for frame, (energy, color, size, blend, distance) in ((1, (10.0, (1, 0, 0), 40, 0.0, 5.0)),
                                                          (21, (50.0, (0, 0.5, 1), 80, 0.5, 25.0))):
        settings = {"energy": energy, "color": color, "spot_size": math.radians(size), "spot_blend": blend,
                    "cutoff_distance": distance}
        for path, value in settings.items():
            setattr(beam.data, path, value)
            beam.data.keyframe_insert(path, frame=frame)
    data, _ = export_and_read("keyed_light.tav")
    (record,) = data["sections"]["LIGHT_NODES"]
    color, brightness, phi, theta, distance = record["light_properties"][:5]
    for frame, t in frames((1, 6, 13, 21)):
        lamp = beam.data
        outer = math.degrees(lamp.spot_size) / 2
        wanted = [tuple(lamp.color), [lamp.energy * CANDELA], [outer], [outer * (1 - lamp.spot_blend)],
                  [lamp.cutoff_distance]]
        got = [value_at(prop, t) for prop in (color, brightness, phi, theta, distance)]
        for name, g, w in zip(("color", "brightness", "phi", "theta", "distance"), got, wanted):
            assert np.allclose(g, w, rtol=1e-4, atol=1e-5), (name, frame, g, w)


run(globals())
