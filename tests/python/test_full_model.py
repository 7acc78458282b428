"""A model holding every kind of render node, shell, light and connector saves
as format 10 and decodes completely, each record holding what the script set."""

import numpy as np
import pytest

import pytav
from support import INDICES, NORMALS, POSITIONS, ao_block, base_block, normal_block, pbr_node, rows, textures
from support import sample_fake_lights
from support import save_and_read

QUAD = POSITIONS.tolist()
UP = NORMALS.tolist()
UV = [0, 0, 1, 0, 1, 1, 0, 1]
REGULAR_UV = [0.5, 0.5, 0.75, 0.5, 0.75, 0.75, 0.5, 0.75]


def build_model():
    model = pytav.Model()
    root = model.getRootTransform()
    model.setBBox((-10, -10, -10, 10, 10, 10))

    bone = pytav.Bone("bone")
    root.addChild(bone)
    skin_block = pytav.BoneBlock()
    skin_block.setBoneWeights(np.full(16, 1.0, dtype=np.float32))
    skin_block.setBoneIndices(np.zeros(16, dtype=np.uint32))
    skin_block.setBones([bone])

    paint = pytav.ColorNode("paint", "paint_mat")
    paint.setPositions(np.array(QUAD, dtype=np.float32))
    paint.setNormals(np.array(UP, dtype=np.float32))
    paint.setIndices(INDICES)
    paint.setColor(0.5, 0.25, 0.125)

    mirror = pytav.MirrorNode("mirror", "mirror_mat")
    mirror.setPositions(np.array(QUAD, dtype=np.float32))
    mirror.setNormals(np.array(UP, dtype=np.float32))
    mirror.setTextureCoordinates(np.array(UV, dtype=np.float32))
    mirror.setIndices(INDICES.tolist())
    mirror.setTexture("mirror.dds")

    deck = pytav.DeckNode("deck", "deck_mat")
    deck.setPositions(QUAD)
    deck.setNormals(UP)
    deck.setTiledUV(UV)
    deck.setRegularUV(REGULAR_UV)
    deck.setIndices(INDICES.tolist())
    for setter in ("setBaseTiledMap", "setNormalTiledMap", "setAormsTiledMap", "setBaseMap", "setAormsMap",
                   "setRainMask"):
        getattr(deck, setter)(setter[3:] + ".dds")
    deck.setArgument(4)

    omni_light, spot_light = sample_fake_lights()

    omni = pytav.FakeOmniLights("omni")
    omni.set([omni_light])
    omni.setTexture("omni.dds")
    animated_omni = pytav.AnimatedFakeOmniLight("animated_omni")
    animated_omni.set([omni_light, omni_light])
    animated_omni.setAnimationArg(6)
    animated_omni.setLightsAnimation([(0, [(0, 0), (1, 1)]), (1, [(0, 0.5)])])
    spot = pytav.FakeSpotLights("spot")
    spot.set([spot_light])
    spot.setDirection((0, 0, -1))
    animated_spot = pytav.AnimatedFakeSpotLight("animated_spot")
    animated_spot.set([spot_light])
    animated_spot.setAnimationArg(7)
    animated_spot.setLightsAnimation([(0, [(0, 1), (1, 0)])])

    render_nodes = [pbr_node(base_block(), normal_block(), ao_block(), name="pbr", material="pbr_mat"),
                    pbr_node(base_block(), skin_block, name="skin", material="skin_mat"),
                    paint, mirror, deck, omni, animated_omni, spot, animated_spot]
    for node in render_nodes:
        node.setControlNode(root)
        assert model.addRenderNode(node) == ""

    shell = pytav.ShellNode("shell")
    shell.setPositions([0, 0, 0, 1, 0, 0, 0, 1, 0])
    shell.setIndices([0, 1, 2])
    shell.setControlNode(root)
    model.addShellNode(shell)
    segments = pytav.SegmentsNode("segments")
    segments.set([((0, 0, 0), (1, 2, 3))])
    segments.setControlNode(root)
    model.addSegmentsNode(segments)

    connector = pytav.Connector("connector")
    connector.setPropertyString("type", "hook")
    connector.setControlNode(root)
    model.addConnector(connector)

    lamp = pytav.OmniLight("lamp")
    lamp.setBrightness(pytav.PropertyFloat(3))
    lamp.setControlNode(root)
    model.addOmniLight(lamp)
    beam = pytav.SpotLight("beam")
    beam.setAngles(pytav.PropertyFloat(40), pytav.PropertyFloat(0.25))
    beam.setControlNode(root)
    model.addSpotLight(beam)
    return model


@pytest.fixture(scope="module")
def saved(tmp_path_factory):
    return save_and_read(build_model(), tmp_path_factory.mktemp("full") / "full.tav")


def by_name(records: list) -> dict:
    return {record["name"]: record for record in records}


def test_every_record_kind_is_in_its_section_in_call_order(saved):
    sections = saved["sections"]
    assert [(r["class"], r["name"]) for r in sections["RENDER_NODES"]] == [
        ("model::RenderNode", "pbr"), ("model::SkinNode", "skin"), ("model::RenderNode", "paint"),
        ("model::RenderNode", "mirror"), ("model::RenderNode", "deck"), ("model::FakeOmniLightsNode", "omni"),
        ("model::AnimatedFakeOmniLightsNode", "animated_omni"), ("model::FakeSpotLightsNode", "spot"),
        ("model::AnimatedFakeSpotLightsNode", "animated_spot")]
    assert [(r["class"], r["name"]) for r in sections["SHELL_NODES"]] == [
        ("model::ShellNode", "shell"), ("model::SegmentsNode", "segments")]
    assert [(r["class"], r["name"]) for r in sections["CONNECTORS"]] == [("model::Connector", "connector")]
    assert [(r["name"], r["kind"]) for r in sections["LIGHT_NODES"]] == [("lamp", 0), ("beam", 1)]


def test_mesh_records_hold_their_geometry_and_materials(saved):
    nodes = by_name(saved["sections"]["RENDER_NODES"])
    materials = saved["materials"]
    expected = {"pbr": ("def_material", "pbr_mat"), "skin": ("def_material", "skin_mat"),
                "paint": ("color_material", "paint_mat"), "mirror": ("mirror_material", "mirror_mat"),
                "deck": ("deck_material", "deck_mat")}
    for name, (material_name, title) in expected.items():
        record = nodes[name]
        material = materials[record["material"]]
        assert (material["material_name"], material["name"]) == (material_name, title), name
        assert record["vertex_count"] == 4, name
        assert sorted(row[:3] for row in rows(record)) == sorted(QUAD[i:i + 3] for i in range(0, 12, 3)), name
    assert len(nodes["skin"]["bones"]) == 2
    assert materials[nodes["paint"]["material"]]["uniforms"][0]["value"] == [0.5, 0.25, 0.125]
    assert textures(materials[nodes["mirror"]["material"]]) == {0: "mirror.dds"}
    assert textures(materials[nodes["deck"]["material"]])[5] == "RainMask.dds"
    assert nodes["deck"]["parents"][0]["damage_argument"] == 4
    assert sorted(textures(materials[nodes["pbr"]["material"]])) == [0, 1, 9]


