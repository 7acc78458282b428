"""The effective TAV settings of objects, materials and actions.

Each accessor answers with the setting the export uses: the panel's value
(``tav_settings``, ``properties``) when the artist set it there, else the
custom property scripts set (``obj["tav"]``, ``tav_argument``,
``tav_lod_distances``, and on actions ``tav_argument`` and
``tav_argument_range``), else the default. A value that cannot be used
raises ``SettingError``, whose text names the object and the setting, ready
for the export's report. The accessors only read; they work on objects
whose add-on settings are not registered (custom properties only).
"""

import math
from collections.abc import Iterable
from dataclasses import dataclass
from typing import Any

# A vector of a setting (a UV corner, a direction, a colour) as floats.
Vector = tuple[float, ...]

ARGUMENT_NONE = 0xFFFFFFFF
DEFAULT_ARGUMENT = 0
DEFAULT_RANGE = (0.0, 1.0)

ROLES = ("connector", "shell", "segments", "lod", "fake_omni", "fake_spot", "mirror", "color", "deck",
         "number_root", "number_digit")
# The object types each role fits; the exporter reports a role on another type.
EMPTY = frozenset({"EMPTY"})
MESH = frozenset({"MESH", "CURVE", "SURFACE", "FONT", "META"})
ROLE_OBJECT_TYPES = {"connector": EMPTY, "lod": EMPTY, "number_root": EMPTY, "shell": MESH, "segments": MESH,
                     "fake_omni": MESH, "fake_spot": MESH, "mirror": MESH, "color": MESH, "deck": MESH,
                     "number_digit": MESH}


class SettingError(ValueError):
    """A setting that cannot be exported; the text names owner and setting."""


def _panel(owner: Any) -> Any:
    """The owner's settings group, or None when the add-on's groups are not
    registered (a script reading a file without the add-on)."""
    return getattr(owner, "tav_settings", None)


def _whole(owner: Any, name: str, value: object) -> int:
    """``value`` as an argument number: a whole number from 0 to 2^32 - 2."""
    if isinstance(value, bool) or not isinstance(value, (int, float)) or not math.isfinite(value) \
            or value != int(value) or not 0 <= value < ARGUMENT_NONE:
        raise SettingError(f"{owner.name}: {name} must be a whole number of 0 or more, not {value!r}")
    return int(value)


# -- objects -------------------------------------------------------------------------------
def object_role(obj: Any) -> str | None:
    """The object's role (one of ``ROLES``), or None for a plain object."""
    panel = _panel(obj)
    if panel is not None and panel.role != "AUTO":
        return None if panel.role == "PLAIN" else panel.role.lower()
    role = obj.get("tav")
    if role is None:
        return None
    if role not in ROLES:
        raise SettingError(f"{obj.name}: unknown tav role {role!r}")
    return str(role)


def object_argument(obj: Any) -> int:
    """The argument number the object's animation drives (default 0)."""
    panel = _panel(obj)
    if panel is not None and panel.use_argument:
        return _whole(obj, "tav_argument", panel.argument)
    return _whole(obj, "tav_argument", obj.get("tav_argument", DEFAULT_ARGUMENT))


def lod_distances(obj: Any, levels: int | None = None) -> list[float] | None:
    """The LOD distances of a "lod" object, one per level, or None when none
    are set. Each must be a number of 0 or more, larger than the one before;
    with ``levels`` given, there must be that many."""
    panel = _panel(obj)
    if panel is not None and len(panel.lod_distances):
        raw = [item.value for item in panel.lod_distances]
    else:
        raw = obj.get("tav_lod_distances")
        if raw is None:
            return None
    try:
        distances = [float(d) for d in raw]
    except (TypeError, ValueError):
        raise SettingError(f"{obj.name}: tav_lod_distances must be a list of numbers, not {raw!r}") from None
    if not all(math.isfinite(d) and d >= 0 for d in distances) or \
            any(b <= a for a, b in zip(distances, distances[1:])):
        raise SettingError(f"{obj.name}: tav_lod_distances must grow from 0 or more, not {distances}")
    if levels is not None and len(distances) != levels:
        raise SettingError(f"{obj.name}: tav_lod_distances needs one distance per child ({levels}), "
                           f"not {len(distances)}")
    return distances


@dataclass(frozen=True)
class FakeLights:
    texture: object  # bpy.types.Image or None
    size: float
    uv: tuple[Vector, Vector]  # ((u, v), (u, v)): lower left and upper right
    back_side: bool
    back_uv: tuple[Vector, Vector]
    direction: Vector
    cone: Vector
    min_pixels: float
    max_distance: float
    shift_to_camera: float
    luminance: float
    animated: bool
    brightness: float = 1.0


@dataclass(frozen=True)
class Deck:
    maps: dict[str, Any]  # setter suffix ("BaseTiledMap", ...) -> bpy.types.Image or None
    tiled_uv: str
    regular_uv: str
    transparent_mode: int
    decal_id: int
    argument: int  # ARGUMENT_NONE when the deck has no damage argument


DECK_MAPS = (("BaseTiledMap", "deck_base_tiled"), ("NormalTiledMap", "deck_normal_tiled"),
             ("AormsTiledMap", "deck_aorms_tiled"), ("BaseMap", "deck_base"), ("AormsMap", "deck_aorms"),
             ("DamageMap", "deck_damage"), ("DamageMask", "deck_damage_mask"),
             ("DamageMaskRGBA", "deck_damage_mask_rgba"), ("RainMask", "deck_rain_mask"))


def _pair(vector: Iterable[float]) -> Vector:
    return tuple(float(x) for x in vector)


def fake_lights(obj: Any) -> FakeLights | None:
    """The light-set settings of a fake light object; None without the panel."""
    p = _panel(obj)
    if p is None:
        return None
    return FakeLights(p.fake_texture, p.fake_size, (_pair(p.fake_uv_min), _pair(p.fake_uv_max)),
                      p.fake_back_side, (_pair(p.fake_back_uv_min), _pair(p.fake_back_uv_max)),
                      _pair(p.fake_direction), _pair(p.fake_cone), p.fake_min_pixels, p.fake_max_distance,
                      p.fake_shift_to_camera, p.fake_luminance, p.fake_animated, p.fake_brightness)


def mirror_texture(obj: Any) -> Any:
    """The image a mirror object shows, or None."""
    p = _panel(obj)
    return None if p is None else p.mirror_texture


def node_color(obj: Any) -> Vector:
    """The colour of a colour object (white without the panel)."""
    p = _panel(obj)
    return (1.0, 1.0, 1.0) if p is None else _pair(p.color)


def deck(obj: Any) -> Deck | None:
    p = _panel(obj)
    if p is None:
        return None
    argument = _whole(obj, "deck argument", p.deck_argument) if p.deck_use_argument else ARGUMENT_NONE
    return Deck({setter: getattr(p, name) for setter, name in DECK_MAPS}, p.deck_tiled_uv, p.deck_regular_uv,
                int(p.deck_transparent_mode), p.deck_decal_id, argument)


def digit_control(obj: Any) -> tuple[int, float, int, float]:
    """The control record of a number digit: (argument, value, second
    argument, second value), -1 for an argument that is not set."""
    p = _panel(obj)
    if p is None:
        return (-1, 1.0, -1, 0.0)
    return (p.digit_argument, p.digit_value, p.digit_argument2, p.digit_value2)


# -- actions -------------------------------------------------------------------------------
def action_argument(action: Any) -> int | None:
    """The action's own argument number, or None when it takes its object's."""
    panel = _panel(action)
    if panel is not None and panel.use_argument:
        return _whole(action, "tav_argument", panel.argument)
    value = action.get("tav_argument")
    return None if value is None else _whole(action, "tav_argument", value)


def animation_argument(obj: Any, action: Any) -> int:
    """The argument an object's action drives: the action's own, else the object's."""
    own = action_argument(action) if action is not None else None
    return object_argument(obj) if own is None else own


def action_argument_range(action: Any) -> tuple[float, float]:
    """The argument values (at start frame, at end frame) of an action:
    two different finite numbers, (0, 1) by default."""
    panel = _panel(action)
    if panel is not None and panel.use_argument_range:
        raw = tuple(panel.argument_range)
    else:
        raw = action.get("tav_argument_range")
        if raw is None:
            return DEFAULT_RANGE
    try:
        low, high = (float(x) for x in raw)
    except (TypeError, ValueError):
        raise SettingError(f"{action.name}: tav_argument_range must be two numbers, not {raw!r}") from None
    if not (math.isfinite(low) and math.isfinite(high)) or low == high:
        raise SettingError(f"{action.name}: tav_argument_range must be two different numbers, not "
                           f"({low}, {high})")
    return (low, high)


# -- materials -----------------------------------------------------------------------------
@dataclass(frozen=True)
class Map:
    image: object  # bpy.types.Image
    uv_map: str  # "" for the mesh's active UV map


@dataclass(frozen=True)
class Damage:
    albedo: Map | None
    normal: Map | None
    mask: Map | None
    mask_rgba: Map | None
    argument: int


@dataclass(frozen=True)
class ShiftedMap:
    map: Map | None
    shift: Vector


@dataclass(frozen=True)
class Flir:
    map: Map | None  # None: the block is on without its map


@dataclass(frozen=True)
class Glass:
    color_map: Map | None
    instrumental: bool


@dataclass(frozen=True)
class MaterialSettings:
    """None in a field means "as the exporter derives it from Blender"
    (modes) or "no such block" (blocks)."""
    shadow_caster: int | None = None
    transparent_mode: int | None = None
    decal_id: int = 0
    two_sided: bool | None = None
    emissive_type: int | None = None
    damage: Damage | None = None
    decal: ShiftedMap | None = None
    ao: ShiftedMap | None = None
    flir: Flir | None = None
    glass: Glass | None = None


def _map(material: Any, what: str, setting: Any) -> Map | None:
    """The image of a map setting: the chosen image, else the image of the
    Image Texture node of that name; None when neither is set."""
    if setting.image is not None:
        return Map(setting.image, setting.uv_map)
    if not setting.node:
        return None
    tree = material.node_tree
    node = tree.nodes.get(setting.node) if tree is not None else None
    if node is None or getattr(node, "image", None) is None:
        raise SettingError(f"{material.name}: {what}: no Image Texture node with an image is named "
                           f"{setting.node!r}")
    return Map(node.image, setting.uv_map)


def _mode(value: str) -> int | None:
    return None if value == "AUTO" else int(value)


def material_settings(material: Any) -> MaterialSettings:
    """The material's TAV settings; the defaults for None or a material
    without the panel."""
    p = _panel(material) if material is not None else None
    if p is None:
        return MaterialSettings()
    damage = decal = ao = flir = glass = None
    if p.damage.enabled:
        d = p.damage
        damage = Damage(_map(material, "damage albedo", d.albedo), _map(material, "damage normal map", d.normal),
                        _map(material, "damage mask", d.mask), _map(material, "damage RGBA mask", d.mask_rgba),
                        _whole(material, "damage argument", d.argument))
    if p.decal.enabled:
        decal = ShiftedMap(_map(material, "decal map", p.decal.map), _pair(p.decal.shift))
    if p.ao.enabled:
        ao = ShiftedMap(_map(material, "AO map", p.ao.map), _pair(p.ao.shift))
    if p.flir.enabled:
        flir = Flir(_map(material, "FLIR map", p.flir.map))
    if p.glass.enabled:
        glass = Glass(_map(material, "glass colour map", p.glass.color_map), p.glass.instrumental)
    two_sided = None if p.two_sided == "AUTO" else p.two_sided == "ON"
    return MaterialSettings(_mode(p.shadow_caster), _mode(p.transparent_mode), p.decal_id, two_sided,
                            _mode(p.emissive_type), damage, decal, ao, flir, glass)
