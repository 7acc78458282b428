"""The scene a front end hands to the builder: what the source holds, before
anything is decided about what the file will hold.

A reader (the glTF reader of ``tavtools convert``, the Blender add-on) fills
these records from its source and nothing more; ``tavtools.builder`` turns
them into a ``pytav.Model`` and the list of what the file cannot carry.

Conventions: matrices are 4x4 float64 arrays in the column-vector
convention (a point is ``m @ (x, y, z, 1)``); rotations are unit
quaternions (w, x, y, z); texture coordinates have their origin at the top
left (v down), as the file stores them.  Every record carries ``where``, the
path of the object in its source ("meshes[0].primitives[1]", "Cube"), which
names it in loss lines and errors.
"""

from __future__ import annotations

from dataclasses import dataclass, field

import numpy as np
from numpy.typing import NDArray

Array = NDArray[np.float64]


def identity() -> Array:
    return np.eye(4)


@dataclass
class Image:
    """The picture a texture shows.  ``path`` is a file on disk (it may be
    missing), ``data`` the file's bytes held by the source (embedded, packed,
    generated); ``name`` the file name the source gives it.  ``kind`` names an
    image that is no single file (tiles, a movie, a sequence)."""

    where: str
    name: str
    path: str | None = None
    data: bytes | None = None
    kind: str = ""


@dataclass
class Texture:
    image: Image
    where: str
    uv_set: int = 0
    transformed: bool = False     # the source offsets, scales or turns the coordinates


@dataclass
class Material:
    """Metallic-roughness values.  Factors multiply their texture (1 keeps
    the texture as it is); without a texture they are the value itself."""

    name: str
    where: str
    base_color: tuple[float, float, float, float] = (1.0, 1.0, 1.0, 1.0)
    base_texture: Texture | None = None
    metallic: float = 1.0
    roughness: float = 1.0
    metallic_roughness_texture: Texture | None = None
    occlusion_texture: Texture | None = None
    occlusion_strength: float = 1.0
    normal_texture: Texture | None = None
    normal_scale: float = 1.0
    emission: tuple[float, float, float] = (0.0, 0.0, 0.0)
    emission_strength: float = 1.0
    emissive_texture: Texture | None = None
    alpha_mode: str = "OPAQUE"    # OPAQUE, BLEND or MASK
    two_sided: bool = False
    blocks: Blocks = field(default_factory=lambda: Blocks())
    # Keyed "emission" (K, 3) and "emission_strength" (K, 1).
    tracks: list[Track] = field(default_factory=list)


@dataclass
class Skin:
    """Joints (nodes of the scene) in the order the meshes' joint numbers
    count them, their inverse bind matrices and ``bind``, the matrix that
    takes the mesh's vertices into the space the inverse binds expect."""

    where: str
    joints: list[Node]
    inverse_binds: Array
    bind: Array = field(default_factory=identity)


@dataclass
class Mesh:
    """Triangles of one material.  ``uv_sets`` maps a set number to (N, 2)
    coordinates; ``joints`` (numbers into ``skin.joints``) and ``weights``
    are (N, 4) when ``skin`` is set."""

    name: str
    where: str
    positions: Array
    normals: Array
    indices: NDArray[np.uint32]
    material: Material
    uv_sets: dict[int, Array] = field(default_factory=dict)
    uv_names: dict[int, str] = field(default_factory=dict)
    skin: Skin | None = None
    joints: NDArray[np.int64] | None = None
    weights: Array | None = None


@dataclass
class Clip:
    """The stretch of source time [start, end] that one argument plays: start
    at the argument value ``low``, end at ``high`` (``high`` may be the
    smaller: the clip then plays backwards as the argument grows)."""

    argument: int
    start: float
    end: float
    low: float = 0.0
    high: float = 1.0


@dataclass
class Track:
    """Keys of one channel: ``path`` is "translation", "rotation", "scale" or
    "visibility" (1 shown, 0 hidden); ``values`` is (K, 3), (K, 4) or (K, 1).
    ``step`` holds each value until the next key."""

    where: str
    path: str
    clip: Clip
    times: Array
    values: Array
    step: bool = False


@dataclass
class Light:
    """``kind`` "point" or "spot" (others are reported); intensity in candela;
    ``cone`` the spot's half angle in radians and ``blend`` the fraction of it
    that is the soft edge."""

    name: str
    where: str
    kind: str
    color: tuple[float, float, float] = (1.0, 1.0, 1.0)
    intensity: float = 1.0
    range: float | None = None
    cone: float = float(np.pi / 4)
    blend: float = 0.0
    tracks: list[Track] = field(default_factory=list)   # "color" (K, 3), "intensity", "range", "cone", "blend"


@dataclass
class FakeLights:
    """Light sprites, one at each of ``positions`` (N, 3) in the node's space;
    ``kind`` "omni" or "spot".  ``uv`` and ``back_uv`` are the lower left and
    upper right corners of the sprite's part of the texture with the origin
    at the bottom left (as the module's ``setUV`` takes them).  ``brightness``
    (K, 1) drives every light's brightness over its clip, ``luminance_track``
    the set's luminance."""

    where: str
    kind: str
    positions: Array
    texture: Image | None = None
    size: float = 1.0
    uv: tuple[tuple[float, float], tuple[float, float]] = ((0.0, 0.0), (1.0, 1.0))
    back_side: bool = False
    back_uv: tuple[tuple[float, float], tuple[float, float]] = ((0.0, 0.0), (1.0, 1.0))
    direction: tuple[float, float, float] = (0.0, 0.0, -1.0)
    cone: tuple[float, float, float] = (1.0, 0.8, 0.05)
    min_pixels: float = 20.0
    max_distance: float = 1000.0
    shift_to_camera: float = 0.0
    luminance: float = 1.0
    luminance_track: Track | None = None
    brightness: Track | None = None


@dataclass
class SpecialMesh:
    """A mesh drawn with a fixed material: ``kind`` "mirror" (``texture``),
    "color" (``color``) or "deck" (``maps`` by the module's setter suffix,
    "BaseTiledMap" ..., the tiled coordinates in UV set 0 and the regular ones
    in set 1, ``argument`` None for no damage argument)."""

    kind: str
    mesh: Mesh
    texture: Image | None = None
    color: tuple[float, float, float] = (1.0, 1.0, 1.0)
    maps: dict[str, Image | None] = field(default_factory=dict)
    transparent_mode: int = 0
    decal_id: int = 0
    argument: int | None = None


@dataclass
class Digit:
    """One digit of a number display: its mesh in the display's space and its
    control (argument, value, second argument, second value; -1 for none)."""

    mesh: Mesh
    control: tuple[float, float, float, float]


@dataclass
class Node:
    """An object of the scene.  Its local matrix is ``offset`` (the source's
    parent inverse) times its own translation, rotation and scale, or
    ``matrix`` when the source gives one instead."""

    name: str
    where: str
    offset: Array = field(default_factory=identity)
    translation: tuple[float, float, float] = (0.0, 0.0, 0.0)
    rotation: tuple[float, float, float, float] = (1.0, 0.0, 0.0, 0.0)
    scale: tuple[float, float, float] = (1.0, 1.0, 1.0)
    matrix: Array | None = None
    children: list[Node] = field(default_factory=list)
    tracks: list[Track] = field(default_factory=list)
    meshes: list[Mesh] = field(default_factory=list)
    light: Light | None = None
    connector: dict[str, str | float] | None = None
    shell: tuple[Array, NDArray[np.uint32]] | None = None
    segments: list[tuple[tuple[float, float, float], tuple[float, float, float]]] | None = None
    lod_distances: list[float] | None = None
    fake_lights: FakeLights | None = None
    special: SpecialMesh | None = None
    digits: list[Digit] | None = None


@dataclass
class Scene:
    """The roots, the files the source was read from (never overwritten) and
    the losses only the reader can see, as "where: what" lines."""

    roots: list[Node] = field(default_factory=list)
    sources: list[str] = field(default_factory=list)
    losses: list[str] = field(default_factory=list)

    def lose(self, where: str, text: str) -> None:
        line = f"{where}: {text}"
        if line not in self.losses:
            self.losses.append(line)


@dataclass
class Damage:
    """Maps of the damaged surface; the masks read the albedo's coordinates."""

    argument: int
    albedo: Texture | None = None
    normal: Texture | None = None
    mask: Texture | None = None
    mask_rgba: Texture | None = None


@dataclass
class MapBlock:
    """A block of one map (None: named but missing); ``shift`` moves its
    coordinates (decal and AO)."""

    texture: Texture | None
    shift: tuple[float, ...] = (0.0, 0.0)


@dataclass
class Glass:
    color: Texture | None
    instrumental: bool = False


@dataclass
class Blocks:
    """The model's own material blocks and render-node settings, as a
    source that knows them names them.  A block None is absent; a mode None
    is derived from the rest of the material."""

    shadow_caster: int | None = None
    transparent_mode: int | None = None
    decal_id: int = 0
    emissive_type: int | None = None
    damage: Damage | None = None
    decal: MapBlock | None = None
    ao: MapBlock | None = None
    flir: MapBlock | None = None
    glass: Glass | None = None
