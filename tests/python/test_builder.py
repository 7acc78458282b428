# Scenes described as a front end describes them, built, saved, decoded and held to the description.

import math

import numpy as np
import pytest
from hypothesis import assume, given, settings
from hypothesis import strategies as st

import tavtools
from support import rows
from tavtools import builder, special_nodes
from tavtools.preview import evaluate_tree, scene_triangles
from tavtools.scene import (Clip, FakeLights, Image, Light, Material, Mesh, Node, Scene, Skin, SpecialMesh, Texture,
                            Track)

# A unit cube of 12 triangles wound counter-clockwise seen from outside, with outward corner normals.
_FACES = [((0, 0, -1), [0, 2, 3, 1]), ((0, 0, 1), [4, 5, 7, 6]), ((0, -1, 0), [0, 1, 5, 4]),
          ((0, 1, 0), [2, 6, 7, 3]), ((-1, 0, 0), [0, 4, 6, 2]), ((1, 0, 0), [1, 3, 7, 5])]
_CORNERS = np.array([[x, y, z] for z in (0, 1) for y in (0, 1) for x in (0, 1)], dtype=np.float64) - 0.5
CUBE_POSITIONS = np.concatenate([_CORNERS[q] for _, q in _FACES])
CUBE_NORMALS = np.repeat(np.array([n for n, _ in _FACES], dtype=np.float64), 4, axis=0)
CUBE_INDICES = (np.arange(0, 24, 4, dtype=np.uint32)[:, None] + np.uint32([0, 1, 2, 0, 2, 3])).ravel()


def cube(name="cube", material=None, **fields):
    return Mesh(name, name, CUBE_POSITIONS.copy(), CUBE_NORMALS.copy(), CUBE_INDICES.copy(),
                material or Material("paint", "paint"), **fields)


def built(tmp_path, *roots, version=10, sources=(), **options):
    # (loss lines, decoded file) of the scene saved as out.tav.
    target = tmp_path / "out.tav"
    result = builder.build(Scene(list(roots), [str(s) for s in sources]), str(target),
                           builder.Options(version, **options))
    builder.save(result)
    return result.losses, tavtools.read(target)


def world_triangles(data, arguments=None):
    # (triangles (N, 3, 3), corner normals (N, 3, 3)) of the unskinned render nodes, in model space.
    world, _ = evaluate_tree(data["nodes"], arguments)
    tris, normals = [], []
    for record in data["sections"]["RENDER_NODES"]:
        vertices, w = np.asarray(rows(record)), world[record["parents"][0]["node"]]
        corners = np.asarray(record["indices"]).reshape(-1, 3)
        tris.append((vertices[:, :3] @ w[:3, :3] + w[3, :3])[corners])
        normals.append((vertices[:, 4:7] @ np.linalg.pinv(w[:3, :3]).T)[corners])
    return np.concatenate(tris), np.concatenate(normals)


def along_normals(data) -> int:
    tris, normals = world_triangles(data)
    facing = np.cross(tris[:, 1] - tris[:, 0], tris[:, 2] - tris[:, 0])
    return int(np.sum(np.einsum("ij,ij->i", facing, normals.sum(axis=1)) > 0))


@settings(max_examples=12, deadline=None)
@given(st.tuples(*[st.sampled_from([-1.0, 1.0])] * 3), st.tuples(*[st.sampled_from([-2.0, 0.5])] * 3),
       st.floats(-math.pi, math.pi))
def test_mirrored_node_turns_its_triangles_inside_out(tmp_path_factory, parent_scale, child_scale, angle):
    half = angle / 2
    child = Node("child", "child", rotation=(math.cos(half), 0.0, math.sin(half), 0.0), scale=child_scale,
                 meshes=[cube()])
    losses, data = built(tmp_path_factory.mktemp("m"), Node("top", "top", scale=parent_scale, children=[child]))
    assert losses == []
    assert along_normals(data) == 12


def _cube_as(kind):
    picture = Image("i", "i.png", data=b"i")
    mesh = cube(uv_sets={0: np.zeros((len(CUBE_POSITIONS), 2))})
    if kind == "shell":
        return {"shell": (CUBE_POSITIONS, CUBE_INDICES)}
    maps = dict.fromkeys(special_nodes.DECK_REQUIRED, picture)
    return {"special": SpecialMesh(kind, mesh, texture=picture, maps=maps)}


@pytest.mark.parametrize("kind", ["shell", "color", "mirror", "deck"])
@pytest.mark.parametrize("scale", [(1.0, 1.0, 1.0), (-1.0, 1.0, 1.0), (-1.0, -1.0, -1.0)])
def test_mirrored_cube_of_every_kind_keeps_its_triangles_facing_out(tmp_path, kind, scale):
    losses, data = built(tmp_path, Node("box", "box", scale=scale, **_cube_as(kind)))
    assert losses == []
    world, _ = evaluate_tree(data["nodes"])
    records = data["sections"]["SHELL_NODES" if kind == "shell" else "RENDER_NODES"]
    (record,) = records
    w = world[record["parent"] if kind == "shell" else record["parents"][0]["node"]]
    corners = (np.asarray(rows(record))[:, :3] @ w[:3, :3] + w[3, :3])[np.asarray(record["indices"]).reshape(-1, 3)]
    facing = np.cross(corners[:, 1] - corners[:, 0], corners[:, 2] - corners[:, 0])
    assert np.all(np.einsum("ij,ij->i", facing, corners.mean(axis=1)) > 0)


def test_pop_in_base_matrix_comes_from_the_parent_inverse_not_the_pose(tmp_path):
    # Scale keyed 0 at frame 1 and 1 at frame 250, described at frame 1 (rest scale 0).
    offset = np.eye(4)
    offset[:3, 3] = (3, 0, 0)
    keys = Track("pop", "scale", Clip(2, 1, 250), np.array([1.0, 250.0]), np.array([[0.0] * 3, [1.0] * 3]))
    pop = Node("pop", "pop", offset=offset, scale=(0.0, 0.0, 0.0), tracks=[keys], meshes=[cube()])
    _, data = built(tmp_path, pop)
    for argument, size in ((0.0, 0.0), (1.0, 1.0)):
        tris, _ = world_triangles(data, {2: argument})
        assert np.allclose(tris.reshape(-1, 3), CUBE_POSITIONS[CUBE_INDICES] * size + (3, 0, 0), atol=1e-5)


# cone None: a spot light the source gives no cone, which opens 45 degrees.
@pytest.mark.parametrize("cone, blend, theta", [(30, 0.3, 21), (30, 0.0, 30), (30, 1.0, 0), (45, 0.5, 22.5),
                                                (None, 0.0, 45)])
def test_spot_theta_is_the_hard_inner_cone(tmp_path, cone, blend, theta):
    opening = {} if cone is None else {"cone": math.radians(cone)}
    lamp = Light("lamp", "lamp", "spot", intensity=4.0, blend=blend, **opening)
    cone = 45 if cone is None else cone
    _, data = built(tmp_path, Node("lamp", "lamp", light=lamp))
    (light,) = data["sections"]["LIGHT_NODES"]
    assert [p["value"] for p in light["light_properties"]][2:4] == pytest.approx([cone, theta], abs=1e-4)


# A light set the source gives nothing but its kind and positions (a script
# exporting without the add-on's settings) gets the settings a new set has:
# sprites looking down -z, the whole texture, size 1, seen from 20 pixels to
# 1000 units away.
def test_fake_spot_set_without_settings_takes_a_new_sets_settings(tmp_path):
    points = np.array([(0.0, 0.0, 1.0), (2.0, 0.0, 1.0)])
    _, data = built(tmp_path, Node("spots", "spots", fake_lights=FakeLights("spots", "spot", points)))
    (record,) = [r for r in data["sections"]["RENDER_NODES"] if r["name"] == "spots"]
    assert record["class"] == "model::FakeSpotLightsNode"
    assert np.allclose(record["parents"][0]["direction"], (0, 0, -1))
    assert [tuple(light["position"]) for light in record["lights"]] == [(0, 0, 1), (2, 0, 1)]
    assert all(light["size"] == 1 and np.allclose(light["uv"], [(0, 1), (1, 0)]) for light in record["lights"])
    uniforms = {u["name"]: u["value"] for u in data["materials"][record["material"]]["uniforms"]}
    assert np.allclose(uniforms["coneSetup"], (1, 0.8, 0.05))
    assert (uniforms["minSizeInPixels"], uniforms["maxDistance"], uniforms["shiftToCamera"]) == (20, 1000, 0)
    assert uniforms["luminance"] == 1


def _skinned(joint_count, weighing, extra_nodes=0):
    # A rig of joint_count joints (and extra plain nodes) whose mesh every
    # `weighing`-th joint weighs, each at least once, three to a vertex; the
    # fourth influence names joint 1 at weight 0.
    joints = [Node(f"bone{k}", f"bone{k}") for k in range(joint_count)]
    others = [Node(f"control{k}", f"control{k}") for k in range(extra_nodes)]
    skin = Skin("rig", joints, np.broadcast_to(np.eye(4), (joint_count, 4, 4)).copy())
    used = list(range(0, joint_count, weighing))
    count = 3 * -(-len(used) // 9)
    corners = np.array([(0, 0, 0), (0, 1, 0), (0, 0, 1)], dtype=np.float64)
    positions = (corners[None] + np.arange(count // 3)[:, None, None] * (2, 0, 0)).reshape(-1, 3)
    weights = np.tile([1 / 3, 1 / 3, 1 / 3, 0.0], (count, 1))
    mesh = Mesh("skin", "skin", positions, np.tile([1.0, 0, 0], (count, 1)), np.arange(count, dtype=np.uint32),
                Material("paint", "paint"), skin=skin, joints=np.c_[np.resize(used, (count, 3)), np.ones(count)],
                weights=weights)
    return Node("rig", "rig", children=joints + others + [Node("body", "body", meshes=[mesh])]), used


@pytest.mark.parametrize("joints, weighing, extra, skinned", [
    (10, 1, 290, True),     # plain nodes are no bones
    (255, 1, 0, True), (256, 1, 0, False),
    (255, 3, 0, True),      # kept whole: every joint stays a bone
    (600, 3, 0, True),      # a big rig of which the mesh uses 200
    (510, 2, 0, True), (600, 2, 0, False)])    # ... 255 or 300
def test_bone_limit_counts_the_joints_that_weigh_the_mesh(tmp_path, joints, weighing, extra, skinned):
    rig, used = _skinned(joints, weighing, extra)
    losses, data = built(tmp_path, rig)
    (record,) = data["sections"]["RENDER_NODES"]
    assert (record["class"] == "model::SkinNode") == skinned
    if skinned:
        assert losses == []
        kept = range(joints) if joints <= 255 else used
        assert [data["nodes"][b]["name"] for b in record["bones"][1:]] == [f"bone{k}" for k in kept]
    else:
        assert losses == [f"rig: {len(used)} deform bones exceed 255; skin written unskinned"]


# neighbour of the skin -> (its node, its points in model space)
NEIGHBOURS = {
    "none": (None, np.empty((0, 3))),
    "unskinned mesh": (Node("crate", "crate", translation=(0.0, 20.0, 0.0), meshes=[cube("crate")]),
                       CUBE_POSITIONS + (0.0, 20.0, 0.0)),
    "shell": (Node("wall", "wall", translation=(0.0, -20.0, 0.0), shell=(CUBE_POSITIONS.copy(), CUBE_INDICES.copy())),
              CUBE_POSITIONS + (0.0, -20.0, 0.0)),
}


@pytest.mark.parametrize("neighbour", NEIGHBOURS)
def test_skin_box_holds_the_vertices_where_their_blended_joints_put_them(tmp_path, neighbour):
    # Joints bound where they stand, then moved: j1 by 10 along x, j2 by -6
    # along z after a quarter turn about z. The first vertex is weighed half
    # to j0, half to j1; the second only in its third influence, to j2; the
    # third by nothing, so it stays. The file's own bones must put the
    # triangle inside its box, touching every face; the model's box holds
    # whatever else the model places too.
    s = math.sqrt(0.5)
    joints = [Node("j0", "j0"), Node("j1", "j1", translation=(10.0, 0.0, 0.0)),
              Node("j2", "j2", translation=(0.0, 0.0, -6.0), rotation=(s, 0.0, 0.0, s))]
    skin = Skin("rig", joints, np.broadcast_to(np.eye(4), (3, 4, 4)).copy())
    mesh = Mesh("skin", "skin", np.array([[1.0, 0, 0], [0, 1, 0], [0, 0, 2]]), np.tile([0, 0, 1.0], (3, 1)),
                np.arange(3, dtype=np.uint32), Material("paint", "paint"), skin=skin,
                joints=np.array([[0, 1, 2, 0], [0, 0, 2, 0], [0, 0, 0, 0]]),
                weights=np.array([[0.5, 0.5, 0, 0], [0, 0, 1.0, 0], [0, 0, 0, 0]]))
    other, other_points = NEIGHBOURS[neighbour]
    _, data = built(tmp_path, Node("rig", "rig", children=joints + [Node("body", "body", meshes=[mesh])]),
                    *([other] if other else []))
    tris, _ = scene_triangles(data)
    skin_points = [[6, 0, 0], [-1, 0, -6], [0, 0, 2]]
    if other is None:
        assert np.allclose(tris.reshape(-1, 3), skin_points, atol=1e-5), tris
    points = np.r_[skin_points, other_points]
    box = data["root"]["bounding_box"]
    assert (box["min"], box["max"]) == (pytest.approx(points.min(0).tolist(), abs=1e-5),
                                        pytest.approx(points.max(0).tolist(), abs=1e-5))


@pytest.mark.parametrize("count", [builder.SKIN_BLOCK - 1, builder.SKIN_BLOCK, builder.SKIN_BLOCK + 1,
                                   2 * builder.SKIN_BLOCK + 7])
def test_skin_box_of_a_mesh_of_many_rows_holds_every_vertex_its_bones_place(tmp_path, count):
    # Rows are placed a block at a time: around and past a block's size,
    # random normalised influences (some rows weighed by nothing) must still give the
    # box the file's own bones make; the farthest vertices end the blocks.
    rng = np.random.default_rng(count)
    s = math.sqrt(0.5)
    joints = [Node("j0", "j0"), Node("j1", "j1", translation=(10.0, 0.0, 0.0)),
              Node("j2", "j2", translation=(0.0, 0.0, -6.0), rotation=(s, 0.0, 0.0, s))]
    skin = Skin("rig", joints, np.broadcast_to(np.eye(4), (3, 4, 4)).copy())
    positions = rng.uniform(-1.0, 1.0, (count, 3))
    positions[builder.SKIN_BLOCK - 1::builder.SKIN_BLOCK] = (30.0, -20.0, 9.0)   # each block's last row
    weights = rng.uniform(0.0, 1.0, (count, 4)) * (rng.uniform(size=(count, 1)) > 0.1)
    weights /= np.maximum(weights.sum(axis=1, keepdims=True), 1e-9)
    mesh = Mesh("skin", "skin", positions, np.tile([0, 0, 1.0], (count, 1)), np.arange(count, dtype=np.uint32),
                Material("paint", "paint"), skin=skin, joints=rng.integers(0, 3, (count, 4)), weights=weights)
    mesh.indices = np.r_[mesh.indices, mesh.indices[:-count % 3]]     # every row in a triangle
    _, data = built(tmp_path, Node("rig", "rig", children=joints + [Node("body", "body", meshes=[mesh])]))
    points = scene_triangles(data)[0].reshape(-1, 3)
    box = data["root"]["bounding_box"]
    assert (box["min"], box["max"]) == (pytest.approx(points.min(0).tolist(), abs=1e-4),
                                        pytest.approx(points.max(0).tolist(), abs=1e-4))


@pytest.mark.parametrize("fields", [
    {"weights": np.full((3, 3), 0.5)}, {"weights": np.full((2, 4), 0.25)}, {"weights": np.full(12, 0.25)},
    {"joints": np.zeros((2, 4)), "weights": np.full((2, 4), 0.25)}],
    ids=["three weights a vertex", "weights a row short", "flat weights", "both a row short"])
def test_skin_weights_not_shaped_as_the_joints_stop_the_build(tmp_path, fields):
    rig, _ = _skinned(2, 1)
    for name, value in fields.items():
        setattr(rig.children[-1].meshes[0], name, value)
    with pytest.raises(builder.BuildError, match="^skin: joints .* are not one row each for its 3 vertices$"):
        builder.build(Scene([rig]), str(tmp_path / "out.tav"))


def test_format_20_names_every_render_node_light_and_skin_it_drops(tmp_path):
    lamp = Node("lamp", "lamp", light=Light("lamp", "lamp", "point"))
    losses, _ = built(tmp_path, Node("box", "box", meshes=[cube("box")]), lamp, _skinned(2, 1)[0], version=20)
    assert losses == ["box: format 2.0 holds no render nodes; not written",
                      "skin: format 2.0 holds no render nodes or skins; not written",
                      "lamp: format 2.0 holds no lights; not written"]


def _textured(**fields):
    image = fields.pop("image", Image("img", "glow.png", data=b"glow"))
    texture = Texture(image, "tex", fields.pop("uv_set", 0), fields.pop("transformed", False))
    return Node("box", "box", meshes=[cube(material=Material("paint", "paint", base_texture=texture, **fields),
                                           uv_sets={0: np.zeros((24, 2))})])


LOSSES = {  # what the material holds: the loss line
    "metallic": ({"metallic": 0.0}, "paint: the metallic factor 0 is not carried"),
    "roughness": ({"roughness": 0.5}, "paint: the roughness factor 0.5 is not carried"),
    "alpha": ({"base_color": (1, 1, 1, 0.5), "alpha_mode": "BLEND"}, "paint: the alpha value 0.5 is not carried"),
    "transform": ({"transformed": True},
                  "tex: the texture transform is not carried; coordinates written untransformed"),
    "uv_set": ({"uv_set": 1}, "tex: reads UV set 1, which cube does not have; coordinates written as zeros"),
    "tiles": ({"image": Image("img", "t.png", kind="UDIM tiles")},
              "img: UDIM tiles cannot be one texture file; the texture is left out"),
    "missing": ({"image": Image("img", "gone.png", path="/nonexistent/gone.png")},
                "img: file /nonexistent/gone.png not found; the texture name gone.png will not resolve"),
}


@pytest.mark.parametrize("label", LOSSES)
def test_material_feature_the_file_cannot_hold_is_one_loss_line(tmp_path, label):
    fields, line = LOSSES[label]
    losses, _ = built(tmp_path, _textured(**fields), refer="basename")
    assert losses == [line]


@pytest.mark.parametrize("deck", [False, True], ids=["mesh", "deck"])
@pytest.mark.parametrize("field", ["positions", "normals", "UV set 0"])
def test_nonfinite_mesh_value_stops_the_build_naming_the_mesh(tmp_path, field, deck):
    mesh = cube(uv_sets={0: np.zeros((len(CUBE_POSITIONS), 2))})
    (mesh.uv_sets[0] if field == "UV set 0" else getattr(mesh, field))[5, 1] = math.inf
    node = Node("box", "box", special=SpecialMesh("deck", mesh)) if deck else Node("box", "box", meshes=[mesh])
    with pytest.raises(builder.BuildError, match=f"^cube: {field} hold a value that is not finite$"):
        builder.build(Scene([node]), str(tmp_path / "out.tav"))


def test_memory_texture_never_replaces_a_file_this_run_did_not_write(tmp_path):
    (tmp_path / "glow.png").write_bytes(b"theirs")
    (tmp_path / "same.png").write_bytes(b"same")
    before = sorted(p.name for p in tmp_path.iterdir())
    with pytest.raises(builder.BuildError, match="glow.png exists and is not this run's; not replaced"):
        builder.build(Scene([_textured()]), str(tmp_path / "out.tav"), builder.Options(rename=False))
    twin = cube("twin", Material("same", "same", base_texture=Texture(Image("i2", "same.png", data=b"same"), "t2")),
                uv_sets={0: np.zeros((24, 2))})
    _, data = built(tmp_path, _textured(), Node("twin", "twin", meshes=[twin]))
    names = {data["materials"][r["material"]]["name"]: r["material"] for r in data["sections"]["RENDER_NODES"]}
    assert {t["file"] for t in data["materials"][names["paint"]]["textures"]} == {"glow_2.png"}
    assert {t["file"] for t in data["materials"][names["same"]]["textures"]} == {"same.png"}
    assert sorted(p.name for p in tmp_path.iterdir()) == sorted(before + ["glow_2.png", "out.tav"])
    assert (tmp_path / "glow.png").read_bytes() == b"theirs" and (tmp_path / "glow_2.png").read_bytes() == b"glow"


def test_failed_save_removes_only_what_it_wrote_and_never_the_input(tmp_path):
    (tmp_path / "theirs.png").write_bytes(b"x")
    (tmp_path / "out.tav").mkdir()       # the save cannot replace a folder
    before = sorted(p.name for p in tmp_path.iterdir())
    result = builder.build(Scene([_textured()]), str(tmp_path / "out.tav"))
    with pytest.raises(builder.SaveError):
        builder.save(result)
    assert sorted(p.name for p in tmp_path.iterdir()) == before
    with pytest.raises(builder.BuildError, match="is the input"):
        builder.build(Scene([_textured()], [str(tmp_path / "theirs.png")]), str(tmp_path / "theirs.png"))


@settings(max_examples=15, deadline=None)
@given(st.lists(st.sampled_from([0.0, 1.0]), min_size=2, max_size=6), st.floats(-3, 3), st.floats(-3, 3))
def test_visibility_over_an_argument_range_shows_other_frames_than_the_source(tmp_path_factory, shown, low, high):
    # A clip played over [low, high], backwards when high < low, and ending past 1.
    assume(1.0 in shown)   # a node hidden throughout is removed by the save
    if abs(high - low) < 0.01:
        high = low + 1.0
    frames = np.arange(1.0, len(shown) + 1)
    track = Track("lamp", "visibility", Clip(4, 1, len(shown), low, high), frames, np.array(shown)[:, None])
    _, data = built(tmp_path_factory.mktemp("v"), Node("lamp", "lamp", tracks=[track], meshes=[cube()]))
    index = data["sections"]["RENDER_NODES"][0]["parents"][0]["node"]
    for frame, want in zip(frames, shown):
        argument = float(np.float32(low + (frame - 1) / (len(shown) - 1) * (high - low)))   # as the game holds it
        assert evaluate_tree(data["nodes"], {4: argument})[1][index] == (want >= 0.5), (frame, argument)
