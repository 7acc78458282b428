# Model.save turns the digits under a NumberRoot into number nodes.

import pytest

import pytav
from support import INDICES, _set, base_block, pbr_node, rows, save_and_read


def display(model, parent, count, controls=None, albedos=None):
    # A number root under parent with `count` digits and one control per
    # digit (or the given controls).
    number = _set(parent.addChild(pytav.NumberRoot("counter")),
                  ("setControls", controls or [(10 + i, 0.1 * i, -1, 0.0) for i in range(count)]))
    for i in range(count):
        node = pbr_node(base_block(albedos[i] if albedos else "digits.dds", offset=2.0 * i), name=f"digit{i}")
        assert model.addRenderNode(_set(node, ("setControlNode", number))) == ""
    return number


@pytest.mark.parametrize("count", [1, 3, 8])  # 8: the most digits a display takes
def test_digits_sharing_a_material_become_one_number_node(tmp_path, count):
    model = pytav.Model()
    panel = model.getRootTransform().addChild(pytav.Transform("panel", [(1, 0, 0, 0), (0, 1, 0, 0), (0, 0, 1, 5),
                                                                        (0, 0, 0, 1)]))
    display(model, panel, count)
    data = save_and_read(model, tmp_path / "n.tav")

    (record,) = data["sections"]["RENDER_NODES"]
    assert (record["class"], record["name"]) == ("model::NumberNode", "counter")
    assert [p["node"] for p in record["parents"]] == [[n["name"] for n in data["nodes"]].index("panel")]
    assert record["controls"] == [[
        {"argument": 10 + i, "value": pytest.approx(0.1 * i), "second_argument": -1, "second_value": 0.0}
        for i in range(count)]]
    assert data["materials"][record["material"]]["vertex_format"][21] == 1  # the digit index
    # The digit index is the last float of a row (the highest semantic);
    # each digit sits at its own x.
    digits = sorted({(int(row[0]) // 2, row[-1]) for row in rows(record)})
    assert digits == [(i, float(i)) for i in range(count)]
    assert len(rows(record)) == 4 * count
    assert len(record["indices"]) == count * len(INDICES)
    # The number root is not written.
    assert [n["name"] for n in data["nodes"]] == ["root", "panel"]


@pytest.mark.parametrize("count, controls, albedos", [
    # Each material group is merged with all of the root's controls.
    (2, [(1, 0, -1, 0), (2, 0, -1, 0)], ["one.dds", "two.dds"]),
    (9, None, None),
    (3, [(1, 0, -1, 0)] * 2, None),
], ids=["two_materials", "nine_digits", "fewer_controls_than_digits"])
def test_digits_that_cannot_be_merged_are_refused(tmp_path, count, controls, albedos):
    model = pytav.Model()
    display(model, model.getRootTransform(), count, controls, albedos)
    path = tmp_path / "refused.tav"
    assert model.save(str(path), 10) == "Can't merge digits."
    assert not path.exists()


def test_nodes_of_equal_material_names_but_other_textures_keep_their_materials_apart(tmp_path):
    model = pytav.Model()
    for i in range(2):
        node = pbr_node(base_block(f"d{i}.dds", offset=2.0 * i), name=f"plain{i}")
        assert model.addRenderNode(_set(node, ("setControlNode", model.getRootTransform()))) == ""
    data = save_and_read(model, tmp_path / "plain.tav")
    assert [(r["class"], r["name"]) for r in data["sections"]["RENDER_NODES"]] == [
        ("model::RenderNode", "plain0"), ("model::RenderNode", "plain1")]
