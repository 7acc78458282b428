"""The TAV panels' settings: kept by a .blend save and reload, read by the
accessors as panel value, else custom property, else default, bad values
refused with a message naming owner and setting, every setting drawn in a
panel, and the add-on's classes registered and unregistered cleanly."""

import os
from types import SimpleNamespace

import bpy

import io_scene_tav
from io_scene_tav import panels, properties, settings
from io_scene_tav.settings import MaterialSettings, SettingError
from support import OUT, empty, empty_scene, export_and_read, mesh_object, node, run, warnings


def owners():
    """An empty "Rig" with a child, a cube "Box", a material "Paint" with an
    Image Texture node "Dirt", and an action "Swing"; all settings default."""
    empty_scene()
    rig = empty("Rig")
    empty("Level0", parent=rig)
    paint = bpy.data.materials.new("Paint")
    paint.use_nodes = True
    paint.node_tree.nodes.new("ShaderNodeTexImage").name = "Dirt"
    paint.node_tree.nodes["Dirt"].image = bpy.data.images.new("dirt", 4, 4)
    rig.animation_data_create().action = bpy.data.actions.new("Swing")
    return SimpleNamespace(rig=rig, box=mesh_object("Box", material=paint), material=paint,
                           action=rig.animation_data.action, image=bpy.data.images.new("tex", 4, 4))


def fill(group, image, seed=0):
    """Sets every setting of ``group`` (nested groups too) to a value other than its default."""
    for prop in group.bl_rna.properties:
        key, kind = prop.identifier, prop.type
        if key in ("rna_type", "name"):
            continue
        if kind == "POINTER" and prop.fixed_type.identifier != "Image":
            fill(getattr(group, key), image, seed + 1)
        elif kind == "COLLECTION":
            [fill(getattr(group, key).add(), image, seed + i) for i in range(2)]
        elif kind in ("POINTER", "ENUM", "BOOLEAN", "STRING"):
            setattr(group, key, {"POINTER": lambda p: image, "ENUM": lambda p: p.enum_items[-1].identifier,
                                 "BOOLEAN": lambda p: not p.default, "STRING": lambda p: f"s{seed}"}[kind](prop))
        else:
            base = prop.default + 3 + seed if kind == "INT" else 0.25 + 0.01 * seed
            values = [min(prop.hard_max, base * (i + 1)) for i in range(max(prop.array_length, 1))]
            setattr(group, key, values if prop.array_length else values[0])


def snapshot(group):
    out = {}
    for prop in group.bl_rna.properties[1:]:  # past rna_type
        value = getattr(group, prop.identifier)
        if prop.type == "POINTER":
            value = value.name if isinstance(value, bpy.types.ID) else None if value is None else snapshot(value)
        elif prop.type == "COLLECTION":
            value = [snapshot(item) for item in value]
        elif getattr(prop, "array_length", 0):
            value = tuple(round(v, 5) for v in value)
        out[prop.identifier] = value
    return out


def test_settings_lost_when_the_blend_is_saved_and_reloaded():
    o = owners()
    groups = lambda: (bpy.data.objects["Box"].tav_settings, bpy.data.materials["Paint"].tav_settings,
                      bpy.data.actions["Swing"].tav_settings)  # noqa: E731
    defaults = [snapshot(g) for g in groups()]
    for group in groups():
        fill(group, o.image)
    before = [snapshot(g) for g in groups()]
    assert all(a != b for a, b in zip(before, defaults))
    path = os.path.join(OUT, "settings.blend")
    bpy.ops.wm.save_as_mainfile(filepath=path)
    bpy.ops.wm.open_mainfile(filepath=path)
    assert [snapshot(g) for g in groups()] == before


class Refused(tuple):
    """The words a SettingError's text must hold."""

    def __new__(cls, *words):
        return super().__new__(cls, words)


def check(rows):
    """Each row: (accessor of the owners, owner attribute, panel settings,
    custom properties, expected value or ``Refused``)."""
    for read, owner, panel, custom, expected in rows:
        o = owners()
        target = getattr(o, owner)
        for key, value in panel.items():
            if key == "lod_distances":
                for distance in value:
                    target.tav_settings.lod_distances.add().value = distance
            else:
                setattr(target.tav_settings, key, value)
        for key, value in custom.items():
            target[key] = value
        row = (owner, panel, custom)
        try:
            got = read(o)
        except SettingError as error:
            assert isinstance(expected, Refused) and all(w in str(error) for w in expected), (row, str(error))
        else:
            assert not isinstance(expected, Refused) and got == expected, (row, got, expected)


role = lambda o: settings.object_role(o.rig)  # noqa: E731
argument = lambda o: settings.object_argument(o.rig)  # noqa: E731
lod = lambda o: settings.lod_distances(o.rig, levels=1)  # noqa: E731
action_argument = lambda o: settings.animation_argument(o.rig, o.action)  # noqa: E731
argument_range = lambda o: settings.action_argument_range(o.action)  # noqa: E731


def decal_map(o, image=False):
    decal = o.material.tav_settings.decal
    decal.enabled, decal.map.node, decal.map.uv_map = True, "Dirt", "UVMap"
    decal.map.image = o.image if image else None
    found = settings.material_settings(o.material).decal.map
    return found.image.name, found.uv_map


def test_panel_custom_property_and_default_taken_in_the_wrong_order():
    check([
        (role, "rig", {"role": "LOD"}, {"tav": "connector"}, "lod"),
        (role, "rig", {"role": "PLAIN"}, {"tav": "connector"}, None),
        (role, "rig", {}, {"tav": "connector"}, "connector"),
        (role, "rig", {}, {}, None),
        (argument, "rig", {"use_argument": True, "argument": 5}, {"tav_argument": 3}, 5),
        (argument, "rig", {"use_argument": False, "argument": 5}, {"tav_argument": 3}, 3),
        (argument, "rig", {"use_argument": False, "argument": 5}, {}, 0),
        (lod, "rig", {"lod_distances": [5.0]}, {"tav_lod_distances": [10.0]}, [5.0]),
        (lod, "rig", {}, {"tav_lod_distances": [10.0]}, [10.0]),
        (lambda o: settings.lod_distances(o.rig), "rig", {}, {}, None),
        (action_argument, "action", {"use_argument": True, "argument": 2}, {"tav_argument": 7}, 2),
        (action_argument, "action", {"use_argument": False, "argument": 2}, {"tav_argument": 7}, 7),
        (lambda o: o.rig.__setitem__("tav_argument", 3) or action_argument(o), "action", {}, {}, 3),
        (lambda o: o.rig.__setitem__("tav_argument", 3) or action_argument(o), "action", {}, {"tav_argument": 1}, 1),
        (action_argument, "action", {}, {}, 0),
        (argument_range, "action", {"use_argument_range": True, "argument_range": (-1, 1)},
         {"tav_argument_range": [0.0, 2.0]}, (-1.0, 1.0)),
        (argument_range, "action", {"argument_range": (-1, 1)}, {"tav_argument_range": [0.0, 2.0]}, (0.0, 2.0)),
        (argument_range, "action", {}, {}, (0.0, 1.0)),
        (lambda o: settings.material_settings(o.material), "material", {}, {}, MaterialSettings()),
        (lambda o: settings.material_settings(o.material), "material",
         {"transparent_mode": "2", "two_sided": "OFF", "shadow_caster": "0"}, {},
         MaterialSettings(transparent_mode=2, two_sided=False, shadow_caster=0)),
        (decal_map, "material", {}, {}, ("dirt", "UVMap")),  # the named node's image
        (lambda o: decal_map(o, image=True), "material", {}, {}, ("tex", "UVMap")),  # the chosen image wins
    ])


def ao_on_node_nope(o, enabled=True):
    ao = o.material.tav_settings.ao
    ao.enabled, ao.map.node = enabled, "Nope"
    return settings.material_settings(o.material).ao


def test_bad_setting_values_slip_through():
    check([
        (argument, "rig", {}, {"tav_argument": -1}, Refused("Rig", "tav_argument", "-1")),
        (argument, "rig", {}, {"tav_argument": 1.5}, Refused("Rig", "tav_argument")),
        (argument, "rig", {}, {"tav_argument": 4294967295.0}, Refused("Rig", "tav_argument")),
        (argument, "rig", {"use_argument": True, "argument": -5}, {}, 0),  # the panel clamps to 0
        (role, "rig", {}, {"tav": "tower"}, Refused("Rig", "tower")),
        (lod, "rig", {}, {"tav_lod_distances": [10.0, 20.0]}, Refused("Rig", "one distance per child (1)")),
        (lod, "rig", {"lod_distances": [10.0, 20.0]}, {}, Refused("Rig", "one distance per child (1)")),
        (lambda o: settings.lod_distances(o.rig), "rig", {}, {"tav_lod_distances": [50.0, 10.0]},
         Refused("Rig", "grow")),
        (lod, "rig", {}, {"tav_lod_distances": [-1.0]}, Refused("Rig", "grow")),
        (lod, "rig", {}, {"tav_lod_distances": "far"}, Refused("Rig", "list of numbers")),
        (action_argument, "action", {}, {"tav_argument": -2}, Refused("Swing", "tav_argument")),
        (argument_range, "action", {"use_argument_range": True, "argument_range": (0.5, 0.5)}, {},
         Refused("Swing", "two different numbers")),
        (argument_range, "action", {}, {"tav_argument_range": [1.0, 1.0]}, Refused("Swing", "two different")),
        (argument_range, "action", {}, {"tav_argument_range": [0.0, float("inf")]}, Refused("Swing", "two different")),
        (argument_range, "action", {}, {"tav_argument_range": [0.0, 1.0, 2.0]}, Refused("Swing", "two numbers")),
        (ao_on_node_nope, "material", {}, {}, Refused("Paint", "AO map", "'Nope'")),
        (lambda o: ao_on_node_nope(o, enabled=False), "material", {}, {}, None),  # a block that is off
    ])


class Layout(SimpleNamespace):
    """Stands in for a panel's layout: records the settings drawn and the labels."""

    def row(self, **_):
        return Layout(seen=self.seen, labels=self.labels, active=True, use_property_split=False)

    column = box = row

    def prop(self, data, name, **_):
        assert name in data.bl_rna.properties, (data, name)
        self.seen.add((type(data).__name__, name))

    def prop_search(self, data, name, search_data, search_name, **_):
        assert hasattr(search_data, search_name), search_name
        self.prop(data, name)

    def label(self, text="", icon="NONE"):
        self.labels.append((icon, text))

    def operator(self, idname, **_):
        assert hasattr(getattr(bpy.ops, idname.split(".")[0]), idname.split(".")[1]), idname
        return SimpleNamespace()


def draw(panel, **context):
    layout = Layout(seen=set(), labels=[]).row()
    panel.draw(SimpleNamespace(layout=layout, **{k: getattr(panel, k) for k in dir(panel) if k.startswith("_draw")}),
               SimpleNamespace(**context))
    return layout.seen, layout.labels


def test_setting_missing_from_the_panels_or_problem_not_shown():
    o = owners()
    o.rig.tav_settings.lod_distances.add()
    seen = set()
    for item in properties.ROLE_ITEMS:
        for obj in (o.rig, o.box):
            obj.tav_settings.role = item[0]
            seen |= draw(panels.TAV_PT_object, object=obj)[0]
    for block in ("damage", "decal", "ao", "flir", "glass"):
        getattr(o.material.tav_settings, block).enabled = True
    seen |= draw(panels.TAV_PT_material, material=o.material, object=o.box)[0]
    seen |= draw(panels.TAV_PT_action_graph, active_action=o.action)[0]
    # Nested groups and lists are drawn through their own settings.
    wanted = {(cls.__name__, p.identifier) for cls in properties.CLASSES for p in cls.bl_rna.properties
              if p.identifier not in ("rna_type", "name") and p.type != "COLLECTION" and
              (p.type != "POINTER" or p.fixed_type.identifier == "Image")}
    assert wanted - seen == set(), sorted(wanted - seen)

    o.box.tav_settings.role = "AUTO"
    o.box["tav_argument"], o.box["tav"] = -1, "lod"
    labels = draw(panels.TAV_PT_object, object=o.box)[1]
    assert ("ERROR", "Box: tav_argument must be a whole number of 0 or more, not -1") in labels, labels
    assert ("ERROR", "This role needs an empty") in labels, labels
    o.action.tav_settings.use_argument_range = True
    o.action.tav_settings.argument_range = (2.0, 2.0)
    assert any(icon == "ERROR" and "Swing" in text for icon, text in
               draw(panels.TAV_PT_action_dopesheet, active_action=o.action)[1])


def test_panel_role_argument_and_distances_not_reaching_the_file():
    o = owners()
    o.rig["tav"], o.rig.tav_settings.role = "connector", "LOD"
    o.rig.tav_settings.lod_distances.add().value = 30.0
    level = bpy.data.objects["Level0"]
    for obj, custom, panel in ((o.box, 1, 4), (level, 2, 5)):
        obj["tav_argument"], obj.tav_settings.use_argument, obj.tav_settings.argument = custom, True, panel
        for frame in (1, 21):
            obj.location.z = frame
            obj.keyframe_insert("location", frame=frame)
    level.animation_data.action.tav_settings.use_argument = True
    level.animation_data.action.tav_settings.argument = 6  # the action's wins over its object's
    mirror = mesh_object("Glass")
    mirror["tav"] = "mirror"
    data, reports = export_and_read("panels.tav")
    assert [r[1] for r in node(data, "Rig_lod")["ranges"]] == [900.0]
    assert [node(data, name)["position"][0]["argument"] for name in ("Box", "Level0")] == [4, 6]
    # The custom property's role reaches the export: a mirror without texture.
    assert "Glass: refused by the module: Texture aren't set.; skipped" in warnings(reports)


def test_lod_operator_loses_distances_or_miscounts_children():
    o = owners()
    empty("Level1", parent=o.rig)
    o.rig["tav_lod_distances"] = [15.0]
    items = o.rig.tav_settings.lod_distances
    with bpy.context.temp_override(object=o.rig):
        bpy.ops.object.tav_lod_distances(mode="MATCH")
        assert [i.value for i in items] == [15.0, 30.0]
        items[1].value = 40.0
        empty("Level2", parent=o.rig)
        bpy.ops.object.tav_lod_distances(mode="MATCH")
        assert [i.value for i in items] == [15.0, 40.0, 80.0]
        bpy.ops.object.tav_lod_distances(mode="CLEAR")
    assert settings.lod_distances(o.rig) == [15.0]


def test_unregister_leaves_settings_or_panels_behind():
    o = owners()
    o.rig["tav"] = "connector"
    o.rig.tav_settings.role = "LOD"
    classes = properties.CLASSES + panels.CLASSES
    io_scene_tav.unregister()
    try:
        assert not any(cls.is_registered for cls in classes)
        assert not any(hasattr(t, "tav_settings") for t in (bpy.types.Object, bpy.types.Material,
                                                           bpy.types.Action))
        assert settings.object_role(o.rig) == "connector"  # custom properties alone still read
    finally:
        io_scene_tav.register()
    assert all(cls.is_registered for cls in classes)
    assert settings.object_role(o.rig) == "lod"  # the stored setting is back with the add-on


run(globals())
