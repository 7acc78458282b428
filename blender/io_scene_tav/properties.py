"""The add-on's settings on objects, materials and actions, saved in the .blend.

Each is a property group reached through ``tav_settings`` (``obj.tav_settings``,
``material.tav_settings``, ``action.tav_settings``); the panels of ``panels``
show them and ``settings`` reads them. A setting the artist has not turned on
("Auto", an unticked "Use ..." box, an empty list) leaves the decision to the
custom properties scripts set (``obj["tav"]``, ``tav_argument``,
``tav_lod_distances``) and then to the default, so the groups add to the
custom properties rather than replace them.

The groups do not take the custom properties' names: a registered property
would share its storage with the custom property of the same name, and a
script's ``obj["tav"] = "shell"`` would then overwrite the panel's setting.
"""

from typing import Any

import bpy
from bpy.props import (BoolProperty, CollectionProperty, EnumProperty, FloatProperty, FloatVectorProperty,
                       IntProperty, PointerProperty, StringProperty)

# Argument numbers are unsigned 32-bit in the file, with all bits set meaning
# "none"; Blender's integer properties are signed 32-bit.
ARGUMENT_MAX = 2 ** 31 - 1

ROLE_ITEMS = (
    ("AUTO", "Auto", "No role set here: the custom property 'tav' decides, else the object is exported as what "
                     "it is"),
    ("PLAIN", "Plain", "Exported as what it is (a mesh as a render node, an empty as a transform), whatever "
                       "the custom property 'tav' says"),
    ("CONNECTOR", "Connector", "An empty: an attachment point named after it; its number and text custom "
                               "properties become the connector's properties"),
    ("SHELL", "Collision Shell", "A mesh: its triangles become a collision shell, not rendered"),
    ("SEGMENTS", "Segments", "A mesh: its edges become a set of line segments, not rendered"),
    ("LOD", "Level of Detail", "An empty: its children, in name order, are the levels of detail, switched "
                               "at the LOD distances"),
    ("FAKE_OMNI", "Fake Omni Lights", "A mesh: one light sprite glowing in all directions at each vertex"),
    ("FAKE_SPOT", "Fake Spot Lights", "A mesh: one directed light sprite at each vertex"),
    ("MIRROR", "Mirror", "A mesh: a mirror surface showing the mirror texture"),
    ("COLOR", "Colour", "A mesh: a plain surface of one colour"),
    ("DECK", "Deck", "A mesh: a tiled deck surface with damage and rain masks"),
    ("NUMBER_ROOT", "Number Display", "An empty: a number display; its mesh children with the role Number "
                                      "Digit are its digits, in name order"),
    ("NUMBER_DIGIT", "Number Digit", "A mesh under a Number Display: one digit, driven by its digit control"),
)

TRANSPARENT_ITEMS = (
    ("AUTO", "Auto", "From the material's blend mode: Alpha Blend is mode 1, anything else mode 0"),
    ("0", "Opaque", "Transparent mode 0"),
    ("1", "Blended", "Transparent mode 1, alpha blending"),
    ("2", "Mode 2", "Transparent mode 2, as the game defines it"),
    ("3", "Mode 3", "Transparent mode 3, as the game defines it"),
)


def _argument(description: str, default: int = 0) -> Any:
    return IntProperty(name="Argument", description=description, default=default, min=0, max=ARGUMENT_MAX)


def _image(name: str, description: str) -> Any:
    return PointerProperty(name=name, type=bpy.types.Image, description=description)


def _uv(description: str = "UV map the texture reads; empty: the mesh's active UV map") -> Any:
    return StringProperty(name="UV Map", description=description)


class TAVDistance(bpy.types.PropertyGroup):
    """One LOD distance."""

    value: FloatProperty(name="Distance", description="Distance up to which this level shows (from the previous "
                                                        "level's distance, the first from 0)",
                         default=10.0, min=0.0, unit="LENGTH")


class TAVMap(bpy.types.PropertyGroup):
    """A texture of a material block: an image, or the image of an Image
    Texture node of the material named here; and the UV map it reads."""

    image: _image("Image", "The texture's image; when empty, the image of the node named below")
    node: StringProperty(name="Node", description="Name of an Image Texture node of this material whose "
                                                   "image is the texture (used when no image is chosen)")
    uv_map: _uv()


class TAVObjectSettings(bpy.types.PropertyGroup):
    role: EnumProperty(name="Role", items=ROLE_ITEMS, default="AUTO",
                       description="What the object becomes in the model")
    use_argument: BoolProperty(name="Use Argument", default=False,
                               description="Set the argument here instead of through the custom property "
                                           "'tav_argument'")
    argument: _argument("Argument number that the object's animation (location, rotation, scale, render "
                        "visibility, light and material values) drives")
    lod_distances: CollectionProperty(type=TAVDistance, name="LOD Distances",
                                      description="One distance per child, in the children's name order; "
                                                  "empty: the custom property 'tav_lod_distances' decides")
    # Fake light sets: one light per vertex of the mesh.
    fake_texture: _image("Texture", "The sprite texture of the lights")
    fake_size: FloatProperty(name="Size", description="Size of each light sprite", default=1.0, min=0.0,
                             unit="LENGTH")
    fake_uv_min: FloatVectorProperty(name="UV Min", size=2, default=(0.0, 0.0),
                                     description="Lower left corner of the sprite's part of the texture")
    fake_uv_max: FloatVectorProperty(name="UV Max", size=2, default=(1.0, 1.0),
                                     description="Upper right corner of the sprite's part of the texture")
    fake_back_side: BoolProperty(name="Back Side", default=False,
                                 description="Spot lights: the lights show a second sprite from behind")
    fake_back_uv_min: FloatVectorProperty(name="Back UV Min", size=2, default=(0.0, 0.0),
                                          description="Lower left corner of the back sprite's part of the texture")
    fake_back_uv_max: FloatVectorProperty(name="Back UV Max", size=2, default=(1.0, 1.0),
                                          description="Upper right corner of the back sprite's part of the "
                                                      "texture")
    fake_direction: FloatVectorProperty(name="Direction", size=3, default=(0.0, 0.0, -1.0), subtype="DIRECTION",
                                        description="Spot lights: the direction the lights shine in, in the "
                                                    "object's space")
    fake_cone: FloatVectorProperty(name="Cone Setup", size=3, default=(1.0, 0.8, 0.05),
                                   description="Spot lights: the three cone values the game's shader reads")
    fake_min_pixels: FloatProperty(name="Min Size in Pixels", default=20.0, min=0.0,
                                   description="Smallest size of a sprite on screen, in pixels")
    fake_max_distance: FloatProperty(name="Max Distance", default=1000.0, min=0.0, unit="LENGTH",
                                     description="Distance beyond which the lights are not drawn")
    fake_shift_to_camera: FloatProperty(name="Shift to Camera", default=0.0, unit="LENGTH",
                                        description="How far each sprite is moved towards the camera")
    fake_luminance: FloatProperty(name="Luminance", default=1.0, min=0.0,
                                  description="Brightness of the lights; keyframe it to animate it on the "
                                              "object's argument")
    fake_animated: BoolProperty(name="Animated Brightness", default=False,
                                description="Every light's brightness follows the keyframed Brightness over "
                                            "the object's argument (an animated light set)")
    fake_brightness: FloatProperty(name="Brightness", default=1.0, min=0.0,
                                   description="Brightness of each light of an animated set; keyframe it")
    # Mirror and colour nodes.
    mirror_texture: _image("Mirror Texture", "The texture the mirror shows")
    color: FloatVectorProperty(name="Colour", size=3, subtype="COLOR", default=(1.0, 1.0, 1.0), min=0.0, max=1.0,
                               description="The colour of the surface")
    # Deck nodes.
    deck_base_tiled: _image("Base Tiled", "Tiled base colour map (required)")
    deck_normal_tiled: _image("Normal Tiled", "Tiled normal map (required)")
    deck_aorms_tiled: _image("AORMS Tiled", "Tiled occlusion-roughness-metallic map (required)")
    deck_base: _image("Base", "Base colour map over the whole deck (required)")
    deck_aorms: _image("AORMS", "Occlusion-roughness-metallic map over the whole deck (required)")
    deck_damage: _image("Damage", "Damage map (optional)")
    deck_damage_mask: _image("Damage Mask", "Damage mask (optional)")
    deck_damage_mask_rgba: _image("Damage RGBA Mask", "Damage RGBA mask (optional)")
    deck_rain_mask: _image("Rain Mask", "Rain mask (optional)")
    deck_tiled_uv: _uv("UV map of the tiled maps; empty: the active UV map")
    deck_regular_uv: _uv("UV map of the maps over the whole deck; empty: the active UV map")
    deck_transparent_mode: EnumProperty(name="Transparent Mode", items=TRANSPARENT_ITEMS[1:], default="0",
                                        description="How the deck blends")
    deck_decal_id: IntProperty(name="Decal ID", default=0, min=0, max=255, description="Decal id of the deck")
    deck_use_argument: BoolProperty(name="Use Damage Argument", default=False,
                                    description="Drive the deck's damage by an argument")
    deck_argument: _argument("Argument number of the deck's damage")
    # Number display digits.
    digit_argument: IntProperty(name="Argument", default=-1, min=-1, max=ARGUMENT_MAX,
                                description="Argument that drives this digit; -1: none")
    digit_value: FloatProperty(name="Value", default=1.0,
                               description="The value of the digit's control that goes with the argument")
    digit_argument2: IntProperty(name="Second Argument", default=-1, min=-1, max=ARGUMENT_MAX,
                                 description="A second argument that drives this digit; -1: none")
    digit_value2: FloatProperty(name="Second Value", default=0.0,
                                description="The value of the digit's control that goes with the second "
                                            "argument")


class TAVDamage(bpy.types.PropertyGroup):
    enabled: BoolProperty(name="Damage", default=False, description="Add a damage block to the material")
    albedo: PointerProperty(type=TAVMap, name="Damage Albedo", description="Colour of the damaged surface")
    normal: PointerProperty(type=TAVMap, name="Damage Normal", description="Normal map of the damaged surface")
    mask: PointerProperty(type=TAVMap, name="Mask", description="Where damage shows (optional)")
    mask_rgba: PointerProperty(type=TAVMap, name="RGBA Mask", description="RGBA damage mask (optional)")
    argument: _argument("Argument number that drives the damage")


class TAVShiftedMap(bpy.types.PropertyGroup):
    enabled: BoolProperty(name="Enabled", default=False, description="Add this block to the material")
    map: PointerProperty(type=TAVMap, name="Map")
    shift: FloatVectorProperty(name="Shift", size=2, default=(0.0, 0.0),
                               description="Offset added to the texture coordinates")


class TAVFlir(bpy.types.PropertyGroup):
    enabled: BoolProperty(name="FLIR", default=False, description="Add a FLIR (thermal view) block")
    map: PointerProperty(type=TAVMap, name="FLIR Map", description="The thermal view texture")


class TAVGlass(bpy.types.PropertyGroup):
    enabled: BoolProperty(name="Glass", default=False,
                          description="Add a glass block (no render node of the format accepts it yet; "
                                      "the export reports it)")
    color_map: PointerProperty(type=TAVMap, name="Glass Colour", description="The glass colour texture")
    instrumental: BoolProperty(name="Instrumental", default=False,
                               description="Instrument glass (the instrumental glass material)")


class TAVMaterialSettings(bpy.types.PropertyGroup):
    shadow_caster: EnumProperty(
        name="Shadows", default="AUTO", description="The material's shadow flags",
        items=(("AUTO", "Default", "Leave the shadow flags as the module sets them (casts shadows)"),
               ("0", "Casts Shadows", "Shadow caster 0: the shadow flag set"),
               ("1", "No Shadows", "Shadow caster 1: the shadow flag cleared"),
               ("2", "Second Flag", "Shadow caster 2: the second shadow flag set as well")))
    transparent_mode: EnumProperty(name="Transparent Mode", items=TRANSPARENT_ITEMS, default="AUTO",
                                   description="How the surface blends")
    decal_id: IntProperty(name="Decal ID", default=0, min=0, max=255,
                          description="Decal id of the material; 0: not a decal")
    two_sided: EnumProperty(
        name="Two-Sided", default="AUTO", description="Whether back faces are drawn",
        items=(("AUTO", "Auto", "From the material's Backface Culling: off makes the surface two-sided"),
               ("ON", "Two-Sided", "Back faces are added to the model"),
               ("OFF", "One-Sided", "Only front faces")))
    emissive_type: EnumProperty(
        name="Emissive Type", default="AUTO", description="The shader family of an emissive material",
        items=(("AUTO", "Auto", "From the shader: an emission map gives the emissive block's type 0"),
               ("0", "Default", "Type 0: the material keeps its own shader"),
               ("2", "Self Illumination", "Type 2"),
               ("3", "Transparent Self Illumination", "Type 3"),
               ("4", "Additive Self Illumination", "Type 4"),
               ("5", "Additive Colour", "Type 5"),
               ("6", "Additive Texture", "Type 6")))
    damage: PointerProperty(type=TAVDamage)
    decal: PointerProperty(type=TAVShiftedMap, name="Decal")
    ao: PointerProperty(type=TAVShiftedMap, name="Ambient Occlusion")
    flir: PointerProperty(type=TAVFlir)
    glass: PointerProperty(type=TAVGlass)


class TAVActionSettings(bpy.types.PropertyGroup):
    use_argument: BoolProperty(name="Use Argument", default=False,
                               description="Give this action its own argument, over its object's")
    argument: _argument("Argument number this action drives")
    use_argument_range: BoolProperty(name="Use Argument Range", default=False,
                                     description="Map the scene's frame range onto another argument interval")
    argument_range: FloatVectorProperty(name="Argument Range", size=2, default=(0.0, 1.0),
                                        description="Argument values at the start and end frame, e.g. (-1, 1) "
                                                    "for a control surface that moves both ways")


# Nested groups before the groups that hold them.
CLASSES = (TAVDistance, TAVMap, TAVObjectSettings, TAVDamage, TAVShiftedMap, TAVFlir, TAVGlass,
           TAVMaterialSettings, TAVActionSettings)
OWNERS = ((bpy.types.Object, TAVObjectSettings), (bpy.types.Material, TAVMaterialSettings),
          (bpy.types.Action, TAVActionSettings))


def attach() -> None:
    """Gives the owners their settings, once the groups are registered."""
    for owner, group in OWNERS:
        owner.tav_settings = PointerProperty(type=group, name="TAV", description="TAV export settings")


def detach() -> None:
    for owner, _ in OWNERS:
        del owner.tav_settings
