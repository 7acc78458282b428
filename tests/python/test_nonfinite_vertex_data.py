# A NaN or an infinity anywhere in a node's vertex data is refused when the
# node is added: it would poison the model's boxes and the vertex welding.

import numpy as np
import pytest

import pytav
import tavtools
from support import (EMPTY_BOX, NORMALS, POSITIONS, _set, ao_block, base_block, color_base_block, color_node,
                     damage_block, deck_node, mirror_node, normal_block, pbr_node, textured, uv)

BAD_VALUES = [float("nan"), float("inf"), float("-inf")]
QUAD = POSITIONS.tolist()
UV = uv(0.0).tolist()


# What adding, or saving, a node named "bad" with such a value says.
REFUSED = "Vertex data of bad holds a value that is not finite."


def poisoned(values, bad, index=4):
    # values (array or list) with element index replaced by bad.
    copy = np.array(values, dtype=np.float32)
    copy[index] = bad
    return copy if isinstance(values, np.ndarray) else copy.tolist()


def setter(block, name, values, bad):
    getattr(block, name)(poisoned(values, bad))
    return block


def pbr(*blocks):
    return pbr_node(*blocks, name="bad")


def fake_lights(set_cls, light_cls, bad, field):
    node = _set(set_cls("bad"), ("set", [_set(light_cls(), ("setPos", (bad, 0, 0) if field == "pos" else (1, 2, 3)))]))
    if field == "curve":
        node.setAnimationArg(3)
        node.setLightsAnimation([(0, [(0.0, 1.0), (1.0, bad)])])
    return node


# (case, factory(bad value, bone) -> render node): every render node kind, every float array it takes.
RENDER_CASES = [
    ("pbr_base_positions", lambda b, _: pbr(setter(base_block(), "setPositions", POSITIONS, b))),
    ("pbr_base_normals", lambda b, _: pbr(setter(base_block(), "setNormals", NORMALS, b))),
    ("pbr_base_albedo_uv", lambda b, _: pbr(setter(base_block(), "setAlbedoMapUV", uv(0), b))),
    ("pbr_color_base_positions", lambda b, _: pbr(setter(color_base_block(), "setPositions", POSITIONS, b))),
    ("pbr_normal_uv", lambda b, _: pbr(base_block(), setter(normal_block(), "setNormalMapUV", uv(0.1), b))),
    ("pbr_damage_albedo_uv", lambda b, _: pbr(base_block(), setter(damage_block(), "setAlbedoMapUV", uv(0.5), b))),
    ("pbr_emissive_uv", lambda b, _: pbr(base_block(), setter(
        textured(pytav.EmissiveBlock, "Emissive", "glow.dds", 0.7), "setEmissiveMapUV", uv(0.7), b))),
    ("pbr_ao_uv", lambda b, _: pbr(base_block(), setter(ao_block(), "setAoMapUV", uv(0.2), b))),
    ("pbr_bone_weights", lambda b, bone: pbr(base_block(), _set(
        pytav.BoneBlock(), ("setBoneWeights", poisoned(np.ones(16, np.float32), b)),
        ("setBoneIndices", np.zeros(16, dtype=np.uint32)), ("setBones", [bone])))),
    ("color_positions", lambda b, _: color_node(name="bad", positions=poisoned(QUAD, b))),
    ("mirror_positions", lambda b, _: mirror_node(name="bad", positions=poisoned(QUAD, b))),
    ("mirror_coordinates", lambda b, _: mirror_node(name="bad", uv=poisoned(UV, b))),
    ("deck_positions", lambda b, _: deck_node(name="bad", positions=poisoned(QUAD, b))),
    ("deck_tiled_uv", lambda b, _: deck_node(name="bad", tiled=poisoned(UV, b))),
] + [
    (f"{set_cls.__name__}_{field}", lambda b, _, s=set_cls, c=light_cls, f=field: fake_lights(s, c, b, f))
    for set_cls, light_cls, fields in [
        (pytav.FakeOmniLights, pytav.FakeOmniLight, ("pos",)),
        (pytav.AnimatedFakeSpotLight, pytav.FakeSpotLight, ("pos", "curve")),
    ]
    for field in fields
]


def model_with_holder():
    model = pytav.Model()
    holder = model.getRootTransform().addChild(pytav.Transform("holder"))
    return model, holder, holder.addChild(pytav.Bone("bone"))


@pytest.mark.parametrize("bad", BAD_VALUES, ids=["nan", "inf", "-inf"])
@pytest.mark.parametrize("case,factory", RENDER_CASES, ids=[c for c, _ in RENDER_CASES])
def test_non_finite_vertex_value_refuses_render_node_and_keeps_it_out_of_file(tmp_path, case, factory, bad):
    model, holder, bone = model_with_holder()
    node = factory(bad, bone)
    node.setControlNode(holder)
    assert model.addRenderNode(node) == REFUSED
    assert model.save(str(tmp_path / "m.tav"), 10) == ""
    data = tavtools.read(tmp_path / "m.tav")
    assert data["sections"]["RENDER_NODES"] == []
    # The box is computed from what was added: nothing.
    assert data["root"]["bounding_box"] == EMPTY_BOX


@pytest.mark.parametrize("bad", BAD_VALUES, ids=["nan", "inf", "-inf"])
@pytest.mark.parametrize("index", [0, 4, 8])
def test_non_finite_shell_position_fails_the_save_naming_the_shell(tmp_path, bad, index):
    model, holder, _ = model_with_holder()
    triangle = [0, 0, 0, 1, 0, 0, 0, 1, 0]
    for name, positions in (("good", triangle), ("bad", poisoned(triangle, bad, index))):
        model.addShellNode(_set(pytav.ShellNode(name), ("setPositions", positions), ("setIndices", [0, 1, 2]),
                                ("setControlNode", holder)))
    # A dropped collision mesh is a broken model: the save says so and writes nothing.
    assert model.save(str(tmp_path / "m.tav"), 10) == "Shell 'bad': " + REFUSED
    assert not (tmp_path / "m.tav").exists()


