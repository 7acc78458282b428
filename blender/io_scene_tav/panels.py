"""The "TAV" panels: Object and Material properties, and the action's
argument in the Graph Editor's and Dope Sheet's sidebar (tab "TAV").

A panel shows the settings of ``properties`` and, under them, what the
export will use (``settings``): the role or argument a custom property
gives when the panel leaves it to it, and the problem with a value the
export cannot use.
"""

from collections.abc import Callable
from typing import Any, TypeVar

import bpy

from . import settings
from .settings import SettingError

T = TypeVar("T")


def _effective(layout: Any, read: Callable[..., T], *args: Any, label: str | None = None) -> T | None:
    """Shows what ``read(*args)`` gives the export (with ``label``) or the
    problem with it; returns the value, None on a problem."""
    try:
        value = read(*args)
    except SettingError as error:
        layout.label(text=str(error), icon="ERROR")
        return None
    if label is not None:
        layout.label(text=label.format(value), icon="INFO")
    return value


def _toggled(layout: Any, data: Any, use: str, name: str, heading: str) -> None:
    """A "Use ..." checkbox with the value beside it, greyed while off."""
    row = layout.row(heading=heading)
    row.prop(data, use, text="")
    sub = row.row()
    sub.active = getattr(data, use)
    sub.prop(data, name, text="")


def _props(layout: Any, data: Any, *names: str, active_if: str | None = None) -> None:
    """The properties ``names`` of ``data``, one per row; greyed while the
    switch property ``active_if`` is off."""
    if active_if is not None:
        layout = layout.column()
        layout.active = getattr(data, active_if)
    for name in names:
        layout.prop(data, name)


def _uv(layout: Any, data: Any, name: str, mesh_owner: Any, text: str = "UV Map") -> None:
    mesh = getattr(mesh_owner, "data", None)
    if mesh is not None and hasattr(mesh, "uv_layers"):
        layout.prop_search(data, name, mesh, "uv_layers", text=text)
    else:
        layout.prop(data, name, text=text)


class TAV_OT_lod_distances(bpy.types.Operator):
    """Gives the LOD distances one entry per child of the object, or clears them"""

    bl_idname = "object.tav_lod_distances"
    bl_label = "LOD Distances"
    bl_options = {"REGISTER", "UNDO"}

    mode: bpy.props.EnumProperty(
        items=(("MATCH", "One per Child", "One distance per child: those set are kept, the custom property "
                                           "'tav_lod_distances' fills an empty list, new ones double the last"),
               ("CLEAR", "Clear", "No distances here: the custom property 'tav_lod_distances' decides")))

    @classmethod
    def poll(cls, context: Any) -> bool:
        return context.object is not None

    def execute(self, context: Any) -> set[str]:
        obj = context.object
        items = obj.tav_settings.lod_distances
        if self.mode == "CLEAR":
            items.clear()
            return {"FINISHED"}
        count = len(obj.children)
        if not len(items):
            for value in list(obj.get("tav_lod_distances", ()))[:count]:
                items.add().value = float(value)
        while len(items) < count:
            last = items[-1].value if len(items) else 0.0
            items.add().value = last * 2.0 if last > 0 else 10.0
        while len(items) > count:
            items.remove(len(items) - 1)
        return {"FINISHED"}


class PropertiesPanel:
    """The panel of one tab of the Properties editor (``bl_context``, also
    the context's member it shows), while the context has that data."""

    bl_label = "TAV"
    bl_space_type = "PROPERTIES"
    bl_region_type = "WINDOW"
    bl_context: str

    @classmethod
    def poll(cls, context: Any) -> bool:
        return getattr(context, cls.bl_context) is not None


class TAV_PT_object(PropertiesPanel, bpy.types.Panel):
    bl_context = "object"

    def draw(self, context: Any) -> None:
        obj = context.object
        s = obj.tav_settings
        layout = self.layout
        layout.use_property_split = True
        layout.prop(s, "role")
        role = _effective(layout, settings.object_role, obj,
                          label="Role from the custom property: {}" if s.role == "AUTO" and "tav" in obj else None)
        if role is not None and obj.type not in settings.ROLE_OBJECT_TYPES[role]:
            needed = "an empty" if settings.ROLE_OBJECT_TYPES[role] == settings.EMPTY else "a mesh"
            layout.label(text=f"This role needs {needed}", icon="ERROR")
        _toggled(layout, s, "use_argument", "argument", "Argument")
        _effective(layout, settings.object_argument, obj,
                   label="Argument from the custom property: {}" if not s.use_argument and "tav_argument" in obj
                   else None)
        draw = getattr(self, "_draw_" + (role or "plain"), None)
        if draw is not None:
            draw(layout.box().column(), obj, s)

    @staticmethod
    def _draw_lod(layout: Any, obj: Any, s: Any) -> None:
        layout.label(text="LOD Distances")
        children = sorted(obj.children, key=lambda c: c.name)
        for i, item in enumerate(s.lod_distances):
            layout.prop(item, "value", text=children[i].name if i < len(children) else f"Level {i}")
        row = layout.row()
        row.operator(TAV_OT_lod_distances.bl_idname, text="One per Child").mode = "MATCH"
        row.operator(TAV_OT_lod_distances.bl_idname, text="Clear").mode = "CLEAR"
        _effective(layout, settings.lod_distances, obj, len(children))

    @staticmethod
    def _draw_fake_omni(layout: Any, obj: Any, s: Any, spot: bool = False) -> None:
        _props(layout, s, "fake_texture", "fake_size", "fake_uv_min", "fake_uv_max", "fake_min_pixels",
               "fake_max_distance", "fake_shift_to_camera", "fake_luminance")
        if spot:
            _props(layout, s, "fake_direction", "fake_cone", "fake_back_side")
            _props(layout, s, "fake_back_uv_min", "fake_back_uv_max", active_if="fake_back_side")
        layout.prop(s, "fake_animated")
        _props(layout, s, "fake_brightness", active_if="fake_animated")

    @classmethod
    def _draw_fake_spot(cls, layout: Any, obj: Any, s: Any) -> None:
        cls._draw_fake_omni(layout, obj, s, spot=True)

    @staticmethod
    def _draw_mirror(layout: Any, obj: Any, s: Any) -> None:
        layout.prop(s, "mirror_texture")

    @staticmethod
    def _draw_color(layout: Any, obj: Any, s: Any) -> None:
        layout.prop(s, "color")

    @staticmethod
    def _draw_deck(layout: Any, obj: Any, s: Any) -> None:
        _props(layout, s, *(name for _, name in settings.DECK_MAPS))
        _uv(layout, s, "deck_tiled_uv", obj, text="Tiled UV Map")
        _uv(layout, s, "deck_regular_uv", obj, text="Regular UV Map")
        layout.prop(s, "deck_transparent_mode")
        layout.prop(s, "deck_decal_id")
        _toggled(layout, s, "deck_use_argument", "deck_argument", "Damage Argument")

    @staticmethod
    def _draw_number_digit(layout: Any, obj: Any, s: Any) -> None:
        layout.label(text="Digit Control")
        _props(layout, s, "digit_argument", "digit_value", "digit_argument2", "digit_value2")


def _draw_map(layout: Any, material: Any, obj: Any, data: Any, text: str, uv: bool = True) -> None:
    layout.prop(data, "image", text=text)
    if material.node_tree is not None:
        layout.prop_search(data, "node", material.node_tree, "nodes", text="or Node")
    else:
        layout.prop(data, "node", text="or Node")
    if uv:
        _uv(layout, data, "uv_map", obj)


# The material's optional blocks: (setting, title, its maps as (setting,
# text, with a UV map), its other settings).
MATERIAL_BLOCKS = (
    ("damage", "Damage", (("albedo", "Albedo", True), ("normal", "Normal Map", True), ("mask", "Mask", False),
                          ("mask_rgba", "RGBA Mask", False)), ("argument",)),
    ("decal", "Decal", (("map", "Map", True),), ("shift",)),
    ("ao", "Ambient Occlusion", (("map", "Map", True),), ("shift",)),
    ("flir", "FLIR", (("map", "Map", False),), ()),
    ("glass", "Glass", (("color_map", "Colour Map", False),), ("instrumental",)),
)


class TAV_PT_material(PropertiesPanel, bpy.types.Panel):
    bl_context = "material"

    def draw(self, context: Any) -> None:
        material, obj = context.material, context.object
        s = material.tav_settings
        layout = self.layout
        layout.use_property_split = True
        _props(layout, s, "shadow_caster", "transparent_mode", "decal_id", "two_sided", "emissive_type")
        for name, title, maps, others in MATERIAL_BLOCKS:
            block = getattr(s, name)
            box = layout.box().column()
            box.prop(block, "enabled", text=title)
            if not block.enabled:
                continue
            for map_name, text, uv in maps:
                _draw_map(box, material, obj, getattr(block, map_name), text, uv)
            _props(box, block, *others)
        _effective(layout, settings.material_settings, material)


def active_action(context: Any) -> Any:
    """The action the editor shows: the context's, else the active object's."""
    action = getattr(context, "active_action", None)
    if action is None:
        obj = context.active_object
        data = obj.animation_data if obj is not None else None
        action = data.action if data is not None else None
    return action


class ActionPanel:
    layout: Any  # the panel's, once mixed into a bpy.types.Panel
    bl_label = "TAV"
    bl_region_type = "UI"
    bl_category = "TAV"

    @classmethod
    def poll(cls, context: Any) -> bool:
        return active_action(context) is not None

    def draw(self, context: Any) -> None:
        action = active_action(context)
        s = action.tav_settings
        layout = self.layout
        layout.label(text=action.name, icon="ACTION")
        _toggled(layout, s, "use_argument", "argument", "Argument")
        _effective(layout, settings.action_argument, action,
                   label="Argument: {} (custom property)" if not s.use_argument and "tav_argument" in action
                   else None)
        _toggled(layout, s, "use_argument_range", "argument_range", "Range")
        _effective(layout, settings.action_argument_range, action, label="Start to end frame: {}")


class TAV_PT_action_graph(ActionPanel, bpy.types.Panel):
    bl_space_type = "GRAPH_EDITOR"


class TAV_PT_action_dopesheet(ActionPanel, bpy.types.Panel):
    bl_space_type = "DOPESHEET_EDITOR"


CLASSES = (TAV_OT_lod_distances, TAV_PT_object, TAV_PT_material, TAV_PT_action_graph, TAV_PT_action_dopesheet)

