"""Exports that cannot be done as asked: cancelled with a readable error,
or finished with the loss reported naming the object; never a traceback."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import bpy  # noqa: E402
from mathutils import Matrix  # noqa: E402

import io_scene_tav  # noqa: E402
from io_scene_tav.scene_export import SceneExporter  # noqa: E402
from support import OUT, build_armature, build_strip, empty_scene, export_and_read, mesh_object, renders, run  # noqa: E402,E501


def missing_folder():
    mesh_object("Box")
    return os.path.join(OUT, "no_such_folder", "box.tav"), ("no_such_folder", "does not exist")


def negative_argument():
    box = mesh_object("Box")
    box["tav_argument"] = -1
    box.keyframe_insert("location", frame=1)
    return os.path.join(OUT, "argument.tav"), ("Box:", "tav_argument")


CANCELLED = [missing_folder, negative_argument]


def test_failed_export_is_cancelled_with_a_readable_error_and_no_file():
    for case in CANCELLED:
        empty_scene()
        path, words = case()
        reports = []
        result = SceneExporter(bpy.context, lambda level, text: reports.append((level, text))).export(path, 10)
        assert result == {"CANCELLED"}, case.__name__
        (error,) = [text for level, text in reports if level == "ERROR"]
        assert all(w in error for w in words) and "Traceback" not in error, (case.__name__, error)
        assert not os.path.exists(path)
        # Through the operator: Blender turns the error report into the exception text.
        try:
            bpy.ops.export_scene.tav(filepath=path)
        except RuntimeError as raised:
            assert error in str(raised)
        else:
            raise AssertionError(f"{case.__name__}: the operator did not fail")
        assert io_scene_tav.last_reports[-1] == ("ERROR", error)


def test_armature_of_more_than_255_bones_is_reported_and_its_mesh_written_unskinned():
    empty_scene()
    arm = build_armature("BigRig", 300, Matrix())
    build_strip(arm, 300)
    data, reports = export_and_read("big_rig.tav")
    assert any(level == "WARNING" and text.startswith("BigRig:") and "300 bones" in text for level, text in reports)
    (record,) = renders(data)
    assert record["class"] == "model::RenderNode" and record["vertex_count"] == 2 * 301


run(globals())
