"""Special nodes by TAV role and animated light values: one scene, exported,
decoded and held to what Blender shows."""

import math

import bpy
import numpy as np
from io_scene_tav import compat

from support import (CANDELA, corners, empty, empty_scene, export_and_read, frames, image, light, mesh_object, placed,
                     pushed_to_strip, renders, rounded, run, texcoords, value_at, vertex_rows, warnings)

FRAMES = (1, 21)
DECK_MAPS = {"deck_base_tiled": 0, "deck_normal_tiled": 1, "deck_aorms_tiled": 2, "deck_base": 3, "deck_aorms": 4,
             "deck_rain_mask": 5}
# Digit_d's settings are left as the panel starts them: no argument, value 1.
DIGITS = {"Digit_a": (2, 0.1, -1, 0.0), "Digit_b": (5, 0.01, 6, 0.5), "Digit_c": (7, 1.0, -1, 0.0),
          "Digit_d": (-1, 1.0, -1, 0.0)}


def keyed(owner, path, frames_values, interpolation="LINEAR"):
    target, _, last = path.rpartition(".")
    for frame, value in frames_values:
        setattr(owner.path_resolve(target) if target else owner, last, value)
        owner.keyframe_insert(path, frame=frame)
    for curve in compat.action_curves(owner):
        for point in curve.keyframe_points:
            point.interpolation = interpolation
    return owner


def special(name, role, mesh=None, location=(0, 0, 0), parent=None, **values):
    obj = mesh_object(name, mesh=mesh) if role != "NUMBER_ROOT" else empty(name)
    obj.location, obj.parent, obj.tav_settings.role = location, parent, role
    for key, value in values.items():
        setattr(obj.tav_settings, key, value)
    return obj


def build_scene():
    empty_scene(FRAMES)
    points = bpy.data.meshes.new("points")
    points.from_pydata([(0, 0, 1), (2, 0, 1), (0, 3, 1)], [], [])
    beacons = special("Beacons", "FAKE_OMNI", points.copy(), fake_texture=image("sprite"), fake_size=0.5,
                      fake_uv_min=(0.25, 0.25), fake_uv_max=(0.75, 1.0), fake_animated=True, fake_min_pixels=8.0)
    beacons["tav_argument"] = 9
    keyed(beacons, "tav_settings.fake_brightness", ((1, 0.0), (11, 1.0), (21, 0.25)))
    keyed(beacons, "tav_settings.fake_luminance", ((1, 2.0), (21, 4.0)))
    beacons.animation_data.action["tav_argument_range"] = (1.0, 0.0)
    special("NavLights", "FAKE_SPOT", points.copy(), fake_texture=image("nav"), fake_direction=(1, 0, 0),
            fake_back_side=True, fake_back_uv_min=(0.0, 0.5), fake_back_uv_max=(0.5, 1.0), fake_cone=(1, 0.5, 0.1))
    special("Mirror", "MIRROR", location=(0, 5, 0), mirror_texture=image("mirror"))
    special("Panel", "COLOR", location=(0, 8, 0), color=(0.2, 0.4, 0.6))
    deck = special("Deck", "DECK", location=(5, 0, 0), deck_transparent_mode="2", deck_decal_id=3,
                   deck_use_argument=True, deck_argument=7, deck_tiled_uv="tiled")
    for key in DECK_MAPS:
        setattr(deck.tav_settings, key, image(key))
    tiled = deck.data.uv_layers.new(name="tiled")
    tiled.data.foreach_set("uv", [4 * c for c in np.ravel([d.uv for d in deck.data.uv_layers[0].data])])
    counter = special("Counter", "NUMBER_ROOT", location=(0, 0, 4))
    shared = bpy.data.materials.new("digits")
    for k, name in enumerate(reversed(DIGITS)):     # made out of name order
        controls = dict(zip(("digit_argument", "digit_value", "digit_argument2", "digit_value2"),
                            DIGITS[name] if name != "Digit_d" else ()))
        special(name, "NUMBER_DIGIT", location=(10 * (len(DIGITS) - 1 - k), 0, 0), parent=counter,
                **controls).data.materials.append(shared)
    light("Blink", "POINT")["tav_argument"] = 3
    keyed(bpy.data.lights["Blink"], "energy", ((1, 10.0), (6, 0.0), (11, 10.0), (16, 0.0)), "CONSTANT")
    spot = keyed(light("Spot", "SPOT", spot_size=math.radians(60)).data, "spot_blend", ((1, 0.3), (21, 0.8)))
    spot.animation_data.action["tav_argument"], spot.animation_data.action["tav_argument_range"] = 4, [-1.0, 1.0]
    # Keys that play only from NLA strips: a lamp's power and a light set's brightness.
    drift = special("Drift", "FAKE_OMNI", points.copy(), fake_texture=image("sprite"), fake_animated=True)
    keyed(drift, "tav_settings.fake_brightness", ((1, 0.0), (21, 1.0)))
    pushed_to_strip(keyed(light("Pushed", "POINT").data, "energy", ((1, 10.0), (11, 0.0))), "PushedBlink")
    pushed_to_strip(drift, "DriftPulse")
    special("Stray", "NUMBER_DIGIT", location=(0, -5, 0))
    special("Unmirrored", "MIRROR", location=(0, -9, 0))
    special("Flat", "DECK", location=(0, -12, 0))
    empty("EmptyMirror").tav_settings.role = "MIRROR"
    bpy.context.view_layer.update()


build_scene()
DATA, REPORTS = export_and_read("special.tav")
RECORDS = {r["name"]: r for r in renders(DATA)}
OBJ = bpy.data.objects


def material(record):
    return DATA["materials"][record["material"]]


def uniforms(record):
    return {u["name"]: u["value"] for u in material(record)["uniforms"]}


def test_light_sprites_sit_on_the_vertices_with_their_settings():
    for name, cls in (("Beacons", "model::AnimatedFakeOmniLightsNode"), ("NavLights", "model::FakeSpotLightsNode")):
        record = RECORDS[name]
        assert record["class"] == cls
        assert [tuple(s["position"]) for s in record["lights"]] == [tuple(v.co) for v in OBJ[name].data.vertices]
        assert [t["file"] for t in material(record)["textures"]] == [OBJ[name].tav_settings.fake_texture.name + ".png"]
    beacons, nav = RECORDS["Beacons"], RECORDS["NavLights"]
    assert all(np.allclose(light["uv"], [(0.25, 0.75), (0.75, 0.0)]) and light["size"] == 0.5
               for light in beacons["lights"])
    assert np.allclose(uniforms(beacons)["sizeFactors"], (8, 1000, 0))
    assert np.allclose(nav["parents"][0]["direction"], (1, 0, 0))
    assert all(light["back_side"] == 1 and np.allclose(light["back_uv"], [(0, 0.5), (0.5, 0)])
               for light in nav["lights"])
    assert np.allclose(uniforms(nav)["coneSetup"], (1, 0.5, 0.1))
    # Every sprite's 128 brightness samples over [0, 1] are the keyed curve's,
    # played backwards as the action's argument range asks.
    (fcurve,) = [c for c in compat.action_curves(OBJ["Beacons"]) if c.data_path.endswith("fake_brightness")]
    expected = [fcurve.evaluate(FRAMES[1] - (FRAMES[1] - FRAMES[0]) * i / 127) for i in range(128)]
    assert beacons["argument"] == 9 and np.allclose(np.reshape(beacons["animation"], (3, 128)), expected, atol=2e-3)
    (luminance,) = material(beacons)["animated_uniforms"]
    assert (luminance["name"], luminance["argument"]) == ("luminance", 9)
    assert np.allclose(luminance["keys"], [(0.0, 4.0), (1.0, 2.0)])


def test_mirror_colour_and_deck_carry_geometry_textures_and_settings():
    mirror, panel, deck = RECORDS["Mirror"], RECORDS["Panel"], RECORDS["Deck"]
    for record in (mirror, panel, deck):
        assert rounded(placed(DATA, record)) == corners(OBJ[record["name"]]), record["name"]
    assert (material(mirror)["material_name"], [t["file"] for t in material(mirror)["textures"]]) == \
        ("mirror_material", ["mirror.png"])
    assert material(panel)["material_name"] == "color_material" and np.allclose(uniforms(panel)["color"],
                                                                                (0.2, 0.4, 0.6))
    deck_material = material(deck)
    assert {t["slot"]: t["file"] for t in deck_material["textures"]} == \
        {slot: f"{key}.png" for key, slot in DECK_MAPS.items()}
    assert (deck_material["blending"], deck_material["decal"], deck["parents"][0]["damage_argument"]) == (2, 3, 7)
    tiled, regular = texcoords(DATA, deck), texcoords(DATA, deck, 1)
    # The tiled map is the regular one scaled by four (v measured from the top).
    assert np.allclose(tiled[:, 0], 4 * regular[:, 0]) and np.allclose(1 - tiled[:, 1], 4 * (1 - regular[:, 1]))


def test_number_display_digits_keep_name_order_and_controls():
    (number,) = [r for r in renders(DATA) if r["class"] == "model::NumberNode"]
    assert np.allclose([list(c.values()) for c in number["controls"][0]], list(DIGITS.values()))
    index = vertex_rows(number)[:, sum(material(number)["vertex_format"][:21])]
    # Digit i stands at x = 10 i, its cube's corners within 1 of it.
    points = placed(DATA, number)
    assert np.allclose(np.round(points[:, 0] / 10), index) and np.allclose(points[:, 2], 4, atol=1.001)


def test_blinking_lamp_or_blended_spot_off_blenders_values_or_argument():
    lights = {n["name"]: n["light_properties"] for n in DATA["sections"]["LIGHT_NODES"]}
    assert np.isclose(lights["Spot"][2]["value"], 30.0)
    # Power 10 W keyed on and off (held); Spot Size 60 degrees, Blend keyed from 0.3: theta from 21.
    # The spot's action plays on (-1, 1).
    for name, index, argument, blender, (low, high) in (
            ("Blink", 1, 3, lambda light: light.energy * CANDELA, (0.0, 1.0)),
            ("Spot", 3, 4, lambda light: 30.0 * (1 - light.spot_blend), (-1.0, 1.0))):
        prop = lights[name][index]
        assert prop["argument"] == argument, name
        for frame, t in frames((1, 5, 6, 8, 10, 11, 16, 21)):
            got = value_at(prop, low + (high - low) * t)[0]
            assert np.isclose(got, blender(OBJ[name].data), atol=1e-2), (name, frame)
    assert np.isclose(value_at(lights["Spot"][3], -1.0)[0], 21.0, atol=1e-3)


def test_unusable_roles_and_missing_maps_are_reported_not_fatal():
    texts = warnings(REPORTS)
    for name, what in (("Stray", "needs a Number Display"), ("Unmirrored", "Texture aren't set."),
                       ("Flat", "baseTiledMap isn't set."), ("EmptyMirror", "needs a mesh"),
                       ("Pushed", "keys in NLA strips (PushedBlink) are not exported"),
                       ("Drift", "keys in NLA strips (DriftPulse) are not exported")):
        assert any(t.startswith(name + ":") and what in t for t in texts), (name, texts)
    assert "Stray" in RECORDS and "Unmirrored" not in RECORDS


run(globals())
