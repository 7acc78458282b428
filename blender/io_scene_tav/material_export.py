"""Maps a Blender material onto the material blocks of a PBR render node.

Mapping rules (the surface shader is the Principled BSDF that feeds the
material output, else the first one in the node tree):
- Base Color: an Image Texture upstream of the input gives a ``BaseBlock``
  with that image as albedo map; otherwise a ``ColorBaseBlock`` with the
  input's colour (the viewport colour for materials without nodes, grey 0.8
  for objects without material).
- Normal: a Normal Map node whose Color comes from an image gives a
  ``NormalBlock`` with that image.
- Roughness or Metallic fed from an image (through Separate RGB/Color, as
  Blender's glTF importer wires an occlusion-roughness-metallic map) gives
  an ``AormsBlock`` with that image.
- Emission: an image upstream gives an ``EmissiveBlock`` with the map,
  Emission Strength as amount and white colour, or the colour that a Mix
  node in Multiply mode right before the input multiplies the image with
  (as Blender's glTF importer wires an emissive factor); else a non-black Emission (Color)
  gives an ``EmissiveColorBlock`` with colour and strength.
- Blend mode Alpha Blend sets transparent mode 1; Backface Culling off makes
  the node two-sided (the back faces are added at save).
- A texture name is the base name of the image's file ("//tex/hull.png" is
  "hull.png"); an image without a file (packed or generated) is named after
  the image, with the extension of its file format added when missing.
What else the shader does (other inputs, textures on other inputs, node
setups the walk does not recognise) is reported, not exported.
"""

import os

import bpy

from . import compat

FORMAT_EXTENSIONS = {"PNG": ".png", "JPEG": ".jpg", "TARGA": ".tga", "TARGA_RAW": ".tga", "BMP": ".bmp",
                     "OPEN_EXR": ".exr", "HDR": ".hdr", "TIFF": ".tif", "WEBP": ".webp"}
DEFAULT_COLOR = (0.8, 0.8, 0.8)
DEFAULT_NAME = "default_material"
# Inputs the mapping reads; a link into any other input of the shader is reported.
READ_INPUTS = {"Base Color", "Normal", "Roughness", "Metallic", "Emission Color", "Emission Strength", "Alpha"}


def texture_name(image):
    """The texture name of a ``bpy.types.Image``: its file's base name."""
    path = image.filepath_raw or image.filepath
    if path and not image.packed_file:
        return os.path.basename(bpy.path.abspath(path).replace("\\", "/"))
    if path:
        return os.path.basename(path.replace("\\", "/"))
    name = image.name
    extension = FORMAT_EXTENSIONS.get(image.file_format, "")
    if extension and not name.lower().endswith(extension):
        name += extension
    return name


def _upstream_image(socket, depth=0):
    """The first Image Texture node (with an image) feeding ``socket``."""
    if socket is None or not socket.is_linked or depth > 8:
        return None
    node = socket.links[0].from_node
    if node.type == "TEX_IMAGE":
        return node.image
    for child in node.inputs:
        image = _upstream_image(child, depth + 1)
        if image is not None:
            return image
    return None


def _multiplied_color(socket):
    """The colour that a Mix node in Multiply mode feeding ``socket``
    multiplies its linked input with (fully mixed), or None."""
    mix = compat.multiply_mix(socket.links[0].from_node)
    if mix is None:
        return None
    factor, colors = mix
    if factor.is_linked or factor.default_value != 1.0:
        return None
    fixed = [s for s in colors if not s.is_linked]
    if len(colors) != 2 or len(fixed) != 1:
        return None
    return tuple(fixed[0].default_value[:3])


def _shader(material):
    tree = compat.material_node_tree(material)
    if tree is None:
        return None
    for node in tree.nodes:
        if node.type == "OUTPUT_MATERIAL" and node.is_active_output:
            surface = node.inputs.get("Surface")
            if surface is not None and surface.is_linked and surface.links[0].from_node.type == "BSDF_PRINCIPLED":
                return surface.links[0].from_node
    for node in tree.nodes:
        if node.type == "BSDF_PRINCIPLED":
            return node
    return None


class MaterialInfo:
    """What the export takes from one material (or from no material).

    Fields: ``name``; ``albedo`` (texture name or None) and ``color``;
    ``normal_map``, ``aorms_map``, ``emissive_map`` (texture names or None);
    ``emission`` colour and ``emission_strength``; ``transparent`` and
    ``two_sided`` flags; ``notes``, texts of what was not exported.
    """

    def __init__(self, material):
        self.notes = []
        self.albedo = self.normal_map = self.aorms_map = self.emissive_map = None
        self.color = DEFAULT_COLOR
        self.emission = (0.0, 0.0, 0.0)
        self.emission_strength = 1.0
        if material is None:
            self.name = DEFAULT_NAME
            self.transparent = False
            self.two_sided = False
            return
        self.name = material.name
        blend = compat.blend_mode(material)
        self.transparent = blend == "BLEND"
        self.two_sided = not material.use_backface_culling
        if blend in ("CLIP", "HASHED"):
            self.notes.append(f"blend mode {blend} is not exported; written opaque")
        shader = _shader(material)
        if shader is None:
            self.color = tuple(material.diffuse_color[:3])
            if compat.material_node_tree(material) is not None:
                self.notes.append("no Principled BSDF; the viewport colour is exported")
            return
        self._read(shader)

    def _read(self, shader):
        inputs = shader.inputs
        base = inputs["Base Color"]
        image = _upstream_image(base)
        if image is not None:
            self.albedo = texture_name(image)
        else:
            if base.is_linked:
                self.notes.append("Base Color is driven by nodes other than an image; its own colour is exported")
            self.color = tuple(base.default_value[:3])
        normal = inputs["Normal"]
        if normal.is_linked:
            node = normal.links[0].from_node
            image = _upstream_image(node.inputs.get("Color")) if node.type == "NORMAL_MAP" else None
            if image is not None:
                self.normal_map = texture_name(image)
            else:
                self.notes.append("Normal is not a Normal Map node with an image; not exported")
        image = _upstream_image(inputs["Roughness"]) or _upstream_image(inputs["Metallic"])
        if image is not None:
            self.aorms_map = texture_name(image)
        emission = compat.principled_input(shader, "Emission Color")
        self.emission_strength = float(inputs["Emission Strength"].default_value)
        image = _upstream_image(emission)
        if image is not None:
            self.emissive_map = texture_name(image)
            self.emission = _multiplied_color(emission) or (1.0, 1.0, 1.0)
        elif not emission.is_linked:
            self.emission = tuple(emission.default_value[:3])
        else:
            self.notes.append("Emission is driven by nodes other than an image; not exported")
        for socket in inputs:
            if socket.is_linked and compat.principled_input_name(socket) not in READ_INPUTS:
                self.notes.append(f"the link into {socket.name} is not exported")

    @property
    def emissive(self):
        return self.emissive_map is not None or (any(self.emission) and self.emission_strength > 0)

    def textures(self):
        return [t for t in (self.albedo, self.normal_map, self.aorms_map, self.emissive_map) if t]

    def add_blocks(self, pytav, render, part):
        """Adds the material's blocks for ``part`` (a MeshPart) to ``render``
        (a ``pytav.PBRNode``) and sets its modes."""
        if self.albedo:
            base = pytav.BaseBlock()
            base.setAlbedoMap(self.albedo)
            base.setAlbedoMapUV(part.uvs)
        else:
            base = pytav.ColorBaseBlock()
            base.setColor(pytav.PropertyFloat3(tuple(float(c) for c in self.color)))
        base.setPositions(part.positions)
        base.setNormals(part.normals)
        render.addBlock(base)
        if self.normal_map:
            block = pytav.NormalBlock()
            block.setNormalMap(self.normal_map)
            block.setNormalMapUV(part.uvs)
            render.addBlock(block)
        if self.aorms_map:
            block = pytav.AormsBlock()
            block.setAormsMap(self.aorms_map)
            block.setAormsMapUV(part.uvs)
            render.addBlock(block)
        if self.emissive_map:
            block = pytav.EmissiveBlock()
            block.setEmissiveMap(self.emissive_map)
            block.setEmissiveMapUV(part.uvs)
            block.setColor(pytav.PropertyFloat3(tuple(float(c) for c in self.emission)))
            block.setAmount(pytav.PropertyFloat(self.emission_strength))
            render.addBlock(block)
        elif self.emissive:
            block = pytav.EmissiveColorBlock()
            block.setColor(pytav.PropertyFloat3(tuple(float(c) for c in self.emission)))
            block.setAmount(pytav.PropertyFloat(self.emission_strength))
            render.addBlock(block)
        if self.transparent:
            render.setTransparentMode(1)
        if self.two_sided:
            render.setTwoSided(True)
