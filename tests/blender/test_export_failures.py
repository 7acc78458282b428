"""Exports that cannot be done as asked: cancelled with a readable error,
or finished with the loss reported naming the object; never a traceback."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import bpy  # noqa: E402
from mathutils import Matrix  # noqa: E402

import io_scene_tav  # noqa: E402
from io_scene_tav.scene_export import SceneExporter  # noqa: E402
from support import (OUT, build_armature, build_strip, empty, empty_scene, export_and_read, mesh_object,  # noqa: E402
                     renders, run)


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


def big_rig():
    build_strip(build_armature("BigRig", 300, Matrix()), 300)
    return "BigRig:", "300 bones", lambda data: [(r["class"], r["vertex_count"]) for r in renders(data)] == [
        ("model::RenderNode", 2 * 301)]


def collection_instance():
    parts = bpy.data.collections.new("parts")
    parts.objects.link(bpy.data.objects.new("Part", bpy.data.meshes.new("part")))
    empty("Rack").instance_type = "COLLECTION"
    bpy.data.objects["Rack"].instance_collection = parts
    return "Rack:", "collection instances", lambda data: renders(data) == []


REPORTED = [big_rig, collection_instance]


def test_what_cannot_be_written_as_it_is_is_reported_and_the_rest_written():
    for case in REPORTED:
        empty_scene()
        name, words, check = case()
        data, reports = export_and_read(case.__name__ + ".tav")
        assert any(level == "WARNING" and text.startswith(name) and words in text for level, text in reports), \
            (case.__name__, reports)
        assert check(data), case.__name__


run(globals())
