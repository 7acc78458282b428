"""Reads a Blender material into the builder's material description.

The surface shader is the Principled BSDF that feeds the material output,
else the first one in the node tree.  An Image Texture upstream of Base
Color, of a Normal Map node's Color, of Roughness or Metallic (through
Separate RGB/Color), or of Emission gives that texture; an unlinked input
gives its value (metallic and roughness as factors, Alpha as the base
colour's alpha).  A UV Map node before an image names the UV layer it
reads (else the render layer); a Mapping node before it is a texture
transform.  A Mix node in Multiply mode before Emission multiplies the
emission image with its colour, as Blender's glTF importer wires an
emissive factor.  Materials without nodes give their viewport colour.
What the walk does not recognise is reported by the reader.

Image names: a file's base name ("//tex/hull.png" is "hull.png"); an image
held in the .blend (packed or generated) is written beside the model under
its name, with the extension of its format added when missing.
"""

import os
from typing import Any

import bpy
import numpy as np

from . import compat
from .tavtools.preview import png_bytes
from .tavtools.scene import Image, Material, Texture

FORMAT_EXTENSIONS = {"PNG": ".png", "JPEG": ".jpg", "TARGA": ".tga", "TARGA_RAW": ".tga", "BMP": ".bmp",
                     "OPEN_EXR": ".exr", "HDR": ".hdr", "TIFF": ".tif", "WEBP": ".webp"}
DEFAULT_COLOR = (0.8, 0.8, 0.8)
DEFAULT_NAME = "default_material"
# Inputs the walk reads; a link into any other input of the shader is reported.
READ_INPUTS = {"Base Color", "Normal", "Roughness", "Metallic", "Emission Color", "Emission Strength", "Alpha"}
NOT_ONE_FILE = {"TILED": "UDIM tiles", "MOVIE": "a movie", "SEQUENCE": "an image sequence",
                "VIEWER": "a viewer image"}


def texture_name(image: Any) -> str:
    """The file name of a ``bpy.types.Image``: its file's base name, or its
    own name for one without a file."""
    path = image.filepath_raw or image.filepath
    if path and image.source == "FILE":
        absolute: str = bpy.path.abspath(path)
        return os.path.basename(absolute.replace("\\", "/"))
    name: str = image.name
    extension = ".png" if image.source == "GENERATED" else FORMAT_EXTENSIONS.get(image.file_format, "")
    if extension and not name.lower().endswith(extension):
        name += extension
    return name


def _pixels_png(image: Any) -> bytes:
    """A generated image's pixels as PNG bytes (8 bits, top row first): RGBA
    when some pixel is not opaque, so that blended and clipped materials keep
    their cut-outs, else RGB."""
    width, height = image.size
    pixels = np.empty(width * height * image.channels, dtype=np.float32)
    image.pixels.foreach_get(pixels)
    rows = pixels.reshape(height, width, image.channels)[::-1]
    keep = 4 if image.channels == 4 and bool((rows[:, :, 3] < 1.0).any()) else 3
    return png_bytes(np.clip(np.rint(rows[:, :, :keep] * 255.0), 0, 255).astype(np.uint8))


def describe_image(image: Any) -> Image:
    """The builder's Image of a ``bpy.types.Image``."""
    where = f"image {image.name}"
    name = texture_name(image)
    if image.source in NOT_ONE_FILE:
        return Image(where, name, kind=NOT_ONE_FILE[image.source])
    if image.packed_file is not None:
        return Image(where, name, data=bytes(image.packed_file.data))
    if image.source == "GENERATED":
        return Image(where, name, data=_pixels_png(image))
    return Image(where, name, path=bpy.path.abspath(image.filepath_raw or image.filepath))


def _upstream_image_node(socket: Any, depth: int = 0) -> Any:
    """The first Image Texture node (with an image) feeding ``socket``."""
    if socket is None or not socket.is_linked or depth > 8:
        return None
    node = socket.links[0].from_node
    if node.type == "TEX_IMAGE":
        return node if node.image is not None else None
    for child in node.inputs:
        found = _upstream_image_node(child, depth + 1)
        if found is not None:
            return found
    return None


def _coordinates(node: Any) -> tuple[str | None, bool]:
    """(UV layer name or None, transformed) of what feeds an image node's Vector."""
    uv_name, transformed = None, False
    pending = [node.inputs.get("Vector")]
    while pending:
        socket = pending.pop()
        if socket is None or not socket.is_linked:
            continue
        source = socket.links[0].from_node
        if source.type == "MAPPING":
            transformed = True
        elif source.type == "UVMAP" and source.uv_map:
            uv_name = source.uv_map
        pending.extend(source.inputs)
    return uv_name, transformed


def _shader(tree: Any) -> Any:
    for node in tree.nodes:
        if node.type == "OUTPUT_MATERIAL" and node.is_active_output:
            surface = node.inputs.get("Surface")
            if surface is not None and surface.is_linked and surface.links[0].from_node.type == "BSDF_PRINCIPLED":
                return surface.links[0].from_node
    for node in tree.nodes:
        if node.type == "BSDF_PRINCIPLED":
            return node
    return None


class MaterialReader:
    """Material descriptions of one export run: one per Blender material,
    images shared.  ``uv_number(name)`` numbers the UV layers that textures
    name (set 0 is always the render layer); ``notes`` collects what the
    walk could not read, as (where, text)."""

    def __init__(self) -> None:
        self.materials: dict[str | None, Material] = {}
        self.images: dict[str, Image] = {}
        self.uv_numbers: dict[str, int] = {}
        self.notes: list[tuple[str, str]] = []

    def uv_number(self, name: str) -> int:
        return self.uv_numbers.setdefault(name, len(self.uv_numbers) + 1)

    def material(self, material: Any) -> Material:
        key = material.name if material is not None else None
        if key not in self.materials:
            self.materials[key] = self._read(material)
        return self.materials[key]

    def texture_of(self, image: Any, where: str, uv_name: str | None = None, transformed: bool = False) -> Texture:
        """The Texture of a ``bpy.types.Image`` read on the named UV layer (None: the render layer)."""
        if image.name not in self.images:
            self.images[image.name] = describe_image(image)
        return Texture(self.images[image.name], where, self.uv_number(uv_name) if uv_name else 0, transformed)

    def _texture(self, node: Any, where: str) -> Texture | None:
        if node is None:
            return None
        uv_name, transformed = _coordinates(node)
        return self.texture_of(node.image, where, uv_name, transformed)

    def _read(self, material: Any) -> Material:
        if material is None:
            return Material(DEFAULT_NAME, DEFAULT_NAME, base_color=(*DEFAULT_COLOR, 1.0))
        where = f"material {material.name}"
        mode = compat.blend_mode(material)
        result = Material(material.name, where, two_sided=not material.use_backface_culling,
                          alpha_mode={"BLEND": "BLEND", "CLIP": "MASK"}.get(mode, "OPAQUE"))
        if mode == "HASHED":
            self.notes.append((where, "blend mode HASHED is not exported; written opaque"))
        tree = compat.material_node_tree(material)
        shader = _shader(tree) if tree is not None else None
        if shader is None:
            result.base_color = (*material.diffuse_color[:3], 1.0)
            if tree is not None:
                self.notes.append((where, "no Principled BSDF; the viewport colour is exported"))
            return result
        self._principled(shader, result, where)
        # Dithered surfaces (4.2 on) show their alpha as HASHED ones did.
        alpha = compat.principled_input(shader, "Alpha")
        if hasattr(material, "surface_render_method") and mode == "OPAQUE" and alpha is not None and \
                (alpha.is_linked or alpha.default_value < 1.0):
            self.notes.append((where, "Alpha under render method Dithered is not exported; written opaque"))
        return result

    def _principled(self, shader: Any, result: Material, where: str) -> None:
        def socket(name: str) -> Any:
            return compat.principled_input(shader, name)

        base = socket("Base Color")
        alpha = socket("Alpha")
        result.base_texture = self._texture(_upstream_image_node(base), where + " Base Color")
        color = (1.0, 1.0, 1.0) if result.base_texture is not None else tuple(base.default_value[:3])
        if result.base_texture is None and base.is_linked:
            self.notes.append((where, "Base Color is driven by nodes other than an image; its own colour is exported"))
        result.base_color = (*color, 1.0 if alpha.is_linked else float(alpha.default_value))
        normal = socket("Normal")
        if normal.is_linked:
            node = normal.links[0].from_node
            image = _upstream_image_node(node.inputs.get("Color")) if node.type == "NORMAL_MAP" else None
            if image is not None:
                result.normal_texture = self._texture(image, where + " Normal")
                result.normal_scale = float(node.inputs["Strength"].default_value)
            else:
                self.notes.append((where, "Normal is not a Normal Map node with an image; not exported"))
        orm = _upstream_image_node(socket("Roughness")) or _upstream_image_node(socket("Metallic"))
        result.metallic_roughness_texture = self._texture(orm, where + " Roughness")
        for name in ("Metallic", "Roughness"):
            value = 1.0 if socket(name).is_linked else float(socket(name).default_value)
            setattr(result, name.lower(), value)
        emission = socket("Emission Color")
        strength = socket("Emission Strength")
        result.emission_strength = float(strength.default_value) if strength is not None else 1.0
        image = _upstream_image_node(emission)
        if image is not None:
            result.emissive_texture = self._texture(image, where + " Emission")
            result.emission = _multiplied_color(emission) or (1.0, 1.0, 1.0)
        elif not emission.is_linked:
            result.emission = tuple(emission.default_value[:3])
        else:
            self.notes.append((where, "Emission is driven by nodes other than an image; not exported"))
        for input_socket in shader.inputs:
            if input_socket.is_linked and compat.principled_input_name(input_socket) not in READ_INPUTS:
                self.notes.append((where, f"the link into {input_socket.name} is not exported"))


def _multiplied_color(socket: Any) -> tuple[float, float, float] | None:
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
