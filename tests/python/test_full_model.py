# The model of every class saves as format 10 and decodes completely, each
# record in its section in call order and each mesh holding what the script
# set, moved by the transforms the save folds into it.

import pytest

import support
from support import POSITIONS, rows, save_and_read, textures


@pytest.fixture(scope="module")
def saved(tmp_path_factory):
    return save_and_read(support.build()[0], tmp_path_factory.mktemp("full") / "full.tav")


def test_every_record_kind_is_in_its_section_in_call_order(saved):
    assert {name: [(r["class"], r["name"]) for r in records] for name, records in saved["sections"].items()} == {
        "RENDER_NODES": [("model::RenderNode", "hull"), ("model::SkinNode", "skin"), ("model::RenderNode", "paint"),
                         ("model::RenderNode", "color"), ("model::RenderNode", "mirror"),
                         ("model::RenderNode", "deck"), ("model::FakeOmniLightsNode", "fakeomnilights"),
                         ("model::AnimatedFakeOmniLightsNode", "animatedfakeomnilight"),
                         ("model::FakeSpotLightsNode", "fakespotlights"),
                         ("model::AnimatedFakeSpotLightsNode", "animatedfakespotlight"),
                         # The two digits have materials of their own, so each makes a number node.
                         ("model::NumberNode", "counter"), ("model::NumberNode", "counter")],
        "SHELL_NODES": [("model::ShellNode", "shell"), ("model::SegmentsNode", "segments")],
        "CONNECTORS": [("model::Connector", "connector")],
        "LIGHT_NODES": [("model::LightNode", "lamp"), ("model::LightNode", "beam")]}


# Mesh -> (material kind, the quad's offset in the script, x shift of the transforms folded into it).
MESHES = {"skin": ("def_material", 0.9, 1.5), "paint": ("self_illum_material", 4, 0),
          "color": ("color_material", 10, 0), "mirror": ("mirror_material", 12, 0),
          "deck": ("deck_material", 14, 1.5)}


@pytest.mark.parametrize("name", sorted(MESHES))
def test_every_vertex_of_a_mesh_is_saved_where_the_script_put_it(saved, name):
    (record,) = [r for r in saved["sections"]["RENDER_NODES"] if r["name"] == name]
    material_name, offset, shift = MESHES[name]
    material = saved["materials"][record["material"]]
    assert (material["material_name"], material["name"]) == (material_name, name + "_mat")
    expected = sorted([round(x + offset + shift, 5), round(y + offset, 5), round(z + offset, 5)]
                      for x, y, z in POSITIONS.reshape(4, 3).tolist())
    assert sorted([round(c, 5) for c in row[:3]] for row in rows(record)) == expected


def test_hull_keeps_every_texture_of_its_blocks(saved):
    (hull,) = [r for r in saved["sections"]["RENDER_NODES"] if r["name"] == "hull"]
    assert sorted(textures(saved["materials"][hull["material"]]).values()) == sorted(
        ["albedo.dds", "normal.dds", "ao.dds", "decal.dds", "aorms.dds", "flir.dds", "damage.dds",
         "damage_normal.dds", "mask.dds", "mask_rgba.dds", "glow.dds"])
