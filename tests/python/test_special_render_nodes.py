# ColorNode, MirrorNode and DeckNode: build checks, materials and vertex data.

import pytest

from support import (DECK_DAMAGE_MAPS, DECK_MAPS, POSITIONS, REGULAR, TILED, _set, build_message, color_node,
                     deck_node, mirror_node, rows, saved_single, textures)

QUAD = POSITIONS.tolist()
NONE = 0xFFFFFFFF


# --- build checks --------------------------------------------------------

@pytest.mark.parametrize("make, message", [
    (lambda: color_node(positions=None), "Vetex attribute POSITION0 isn't set."),
    (lambda: color_node(normals=None), "Vetex attribute NORMAL0 isn't set."),
    (lambda: color_node(normals=None, indices=None), "Vetex attribute NORMAL0 isn't set."),
    (lambda: color_node(indices=None), "Indices aren't set."),
    (lambda: color_node(indices=[]), "Indices aren't set."),
    (lambda: color_node(indices=[0, 1, 4]), "Index 4 is out of range for 4 vertices."),
    (lambda: color_node(indices=[0, 1, 2, 3, 0xFFFFFFFF, 0]), "Index 4294967295 is out of range for 4 vertices."),
    (lambda: color_node(normals=[0, 0, 1] * 3), "Vertex attribute NORMAL0 has 9 values, expected 12 for 4 vertices."),
    (lambda: color_node(normals=[0, 0, 1] * 5), "Vertex attribute NORMAL0 has 15 values, expected 12 for 4 vertices."),
    (lambda: mirror_node(positions=None), "Vetex attribute POSITION0 isn't set."),
    (lambda: mirror_node(uv=None, indices=None), "Vetex attribute TEXCOORD0 isn't set."),
    (lambda: mirror_node(indices=None, texture=None), "Indices are empty."),
    (lambda: mirror_node(texture=None), "Texture aren't set."),
    (lambda: mirror_node(texture=""), "Texture aren't set."),
    (lambda: mirror_node(indices=[3, 2, 9]), "Index 9 is out of range for 4 vertices."),
    (lambda: mirror_node(uv=TILED[:7]), "Vertex attribute TEXCOORD0 has 7 values, expected 8 for 4 vertices."),
    (lambda: deck_node(normals=None), "Vetex attribute NORMAL0 isn't set."),
    (lambda: deck_node(regular=None, indices=None), "Vetex attribute TEXCOORD1 isn't set."),
    (lambda: deck_node(indices=None, skip=DECK_MAPS), "Indices aren't set."),
    (lambda: deck_node(indices=[0, 1, 2, 0, 2, 4]), "Index 4 is out of range for 4 vertices."),
    (lambda: deck_node(tiled=TILED[:6]), "Vertex attribute TEXCOORD0 has 6 values, expected 8 for 4 vertices."),
])
def test_incomplete_node_reports_the_first_problem(make, message):
    assert build_message(make()) == message


@pytest.mark.parametrize("make", [color_node, mirror_node, deck_node])
def test_node_without_control_node_is_refused(make):
    assert build_message(make(), control=False) == "Control node isn't set."


# --- NumPy input ---------------------------------------------------------


# --- ColorNode -----------------------------------------------------------


# --- MirrorNode ----------------------------------------------------------


# --- DeckNode ------------------------------------------------------------

def test_deck_node_saves_material_textures_and_settings(tmp_path):
    node = _set(deck_node(), *DECK_DAMAGE_MAPS, ("setTransparentMode", 2), ("setDecalId", 5), ("setArgument", 12))
    record, material = saved_single(tmp_path, node)
    assert (material["material_name"], material["name"]) == ("deck_material", "deck_mat")
    assert (material["blending"], material["decal"]) == (2, 5)
    assert record["parents"][0]["damage_argument"] == 12
    assert material["vertex_format"] == [4, 3, 3, 3, 2, 2] + [0] * 20
    assert sorted(row[:4] + row[13:] for row in rows(record)) == sorted(
        QUAD[3 * i:3 * i + 3] + [0] + TILED[2 * i:2 * i + 2] + REGULAR[2 * i:2 * i + 2] for i in range(4))
    assert material["texture_coordinates_channels"] == [0, 0, 0, 1, 1, NONE, NONE, 1] + [NONE] * 5
    assert textures(material) == {0: "BaseTiledMap.dds", 1: "NormalTiledMap.dds", 2: "AormsTiledMap.dds",
                                  3: "BaseMap.dds", 4: "AormsMap.dds", 5: "RainMask.dds", 6: "DamageMask.dds",
                                  7: "DamageMap.dds", 9: "DamageMaskRGBA.dds"}


