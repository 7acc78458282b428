# The save's merging of materials and render nodes seen in saved files.

import numpy as np

import pytav
from support import base_block, pbr_node, save_and_read


def save_nodes(tmp_path, placed, name="passes.tav") -> dict:
    # Saves a model of (render node, control node or None for the root).
    model = pytav.Model()
    root = model.getRootTransform()
    for node, control in placed:
        if control is not None:
            root.addChild(control)
        node.setControlNode(control if control is not None else root)
        assert model.addRenderNode(node) == ""
    return save_and_read(model, tmp_path / name)


def render_records(data: dict) -> list:
    return data["sections"]["RENDER_NODES"]


def test_nodes_that_shared_a_material_share_it_again(tmp_path):
    hidden = pytav.VisibilityNode("hidden")
    hidden.setArguments([(3, [(0.0, 0.5)])])
    # Equal materials; the visibility node keeps the nodes from merging.
    data = save_nodes(tmp_path, [(pbr_node(base_block(), name="a"), None),
                                 (pbr_node(base_block(), name="b"), hidden)])
    records = render_records(data)
    assert [r["name"] for r in records] == ["a", "b"]
    assert records[0]["material"] == records[1]["material"]
    assert len(data["materials"]) == 1




def soup_of_grid(rng, side: int, shift: float):
    # A triangle soup over a side x side grid: three rows per triangle, every
    # point of the grid repeated in each of its triangles, a third of the
    # repeats moved by less than half the weld tolerance on every axis.
    y, x = np.mgrid[0:side, 0:side]
    points = np.stack([x * 0.01 + shift, y * 0.01, np.zeros_like(x)], axis=-1).reshape(-1, 3).astype(np.float32)
    corner = (np.arange(side - 1)[None, :] + side * np.arange(side - 1)[:, None]).ravel()
    triangles = np.stack([corner, corner + 1, corner + side + 1, corner, corner + side + 1, corner + side], -1)
    point_of_row = triangles.reshape(-1)
    rows = points[point_of_row].copy()
    moved = rng.random(len(rows)) < 1 / 3
    rows[moved] += rng.uniform(-0.4e-5, 0.4e-5, (int(moved.sum()), 3)).astype(np.float32)
    return rows, point_of_row


def test_large_soups_weld_into_first_rows_and_keep_every_index(tmp_path):
    # Two meshes big enough to be welded by every worker, with index lists
    # of 32-bit width long enough to be stored straight from the model.
    rng = np.random.default_rng(3)
    soups = [soup_of_grid(rng, 300, shift) for shift in (0.0, 5.0)]
    model = pytav.Model()
    for k, (rows, _) in enumerate(soups):
        block = pytav.ColorBaseBlock()
        block.setPositions(rows.ravel())
        block.setNormals(np.tile(np.float32([0, 0, 1]), len(rows)))
        block.setColor(pytav.PropertyFloat3((0.25 * k, 0.5, 0.75)))
        node = pbr_node(block, name=f"soup{k}", material=f"mat{k}", indices=np.arange(len(rows), dtype=np.uint32))
        node.setControlNode(model.getRootTransform())
        assert model.addRenderNode(node) == ""
    # A small node after them: the file goes on past the last long list.
    small = pbr_node(base_block(), name="small")
    small.setControlNode(model.getRootTransform())
    assert model.addRenderNode(small) == ""
    records = {r["name"]: r for r in save_and_read(model, tmp_path / "soups.tav")["sections"]["RENDER_NODES"]}
    assert sorted(records) == ["small", "soup0", "soup1"]
    for k, (rows, point_of_row) in enumerate(soups):
        record = records[f"soup{k}"]
        # Each point's vertex is its first row, numbered in order of first use.
        points, first = np.unique(point_of_row, return_index=True)
        order = np.argsort(first)
        number = np.empty(len(points), dtype=np.int64)
        number[points[order]] = np.arange(len(points))
        assert record["indices"] == number[point_of_row].tolist()
        size = record["floats_per_vertex"]
        saved = np.asarray(record["vertices"], dtype=np.float32).reshape(-1, size)
        assert saved.shape[0] == len(points)
        assert saved[:, :3].tobytes() == rows[np.sort(first)].tobytes()
