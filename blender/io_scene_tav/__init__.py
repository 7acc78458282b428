"""TAV model exporter for Blender: File > Export > TAV model (.tav).

The operator ``export_scene.tav`` walks the scene (or the selection) and
builds a model through the bundled ``pytav`` module; ``scene_export`` holds
the walk and the mapping rules, the other modules one kind of data each.
Every problem reaches the operator's report naming the Blender object; a
failed export returns {'CANCELLED'} with a readable message.
"""

bl_info = {
    "name": "TAV model format",
    "author": "pytav",
    "version": (1, 0, 0),
    "blender": (3, 4, 0),
    "location": "File > Export > TAV model (.tav)",
    "description": "Export game-ready TAV models (format 10 or 2.0)",
    "category": "Import-Export",
}

from typing import Any

import bpy
from bpy.props import BoolProperty, EnumProperty, StringProperty
from bpy_extras.io_utils import ExportHelper

from . import panels, properties

# The reports of the last export run, as (level, text) pairs, for scripts
# and tests that call the operator without a window to show them in.
last_reports: list[tuple[str, str]] = []


class ExportTAV(bpy.types.Operator, ExportHelper):
    """Export the scene as a TAV model file"""

    bl_idname = "export_scene.tav"
    bl_label = "Export TAV"
    bl_options = {"PRESET"}

    filename_ext = ".tav"
    filter_glob: StringProperty(default="*.tav", options={"HIDDEN"})

    format_version: EnumProperty(
        name="Format",
        description="File format version to write",
        items=(("10", "10 (complete)", "Format 10: geometry, materials, lights, shells and the node trees"),
               ("20", "2.0 (trees only)", "Format 2.0: the node trees and connectors only")),
        default="10",
    )
    use_selection: BoolProperty(name="Selected Objects", default=False,
                                description="Export the selected objects only")
    use_visible: BoolProperty(name="Visible Objects", default=False, description="Export the visible objects only")
    use_renderable: BoolProperty(name="Renderable Objects", default=False,
                                 description="Export the objects that render only (leaves out hidden helpers "
                                             "such as boolean cutters)")
    use_active_collection: BoolProperty(name="Active Collection", default=False,
                                        description="Export the objects of the active collection (and the "
                                                    "collections inside it) only")
    apply_modifiers: BoolProperty(name="Apply Modifiers", default=True,
                                  description="Export meshes with their modifiers applied")

    def execute(self, context: Any) -> set[str]:
        from .scene_export import SceneExporter

        del last_reports[:]

        def report(level: str, text: str) -> None:
            last_reports.append((level, text))
            self.report({level}, text)

        exporter = SceneExporter(context, report,
                                 use_selection=self.use_selection,
                                 use_visible=self.use_visible,
                                 use_renderable=self.use_renderable,
                                 use_active_collection=self.use_active_collection,
                                 apply_modifiers=self.apply_modifiers)
        return exporter.export(self.filepath, int(self.format_version))


def menu_func_export(self: Any, context: Any) -> None:
    self.layout.operator(ExportTAV.bl_idname, text="TAV model (.tav)")


# Registered in this order (a property group before the groups that hold
# it), unregistered in reverse.
CLASSES = (*properties.CLASSES, *panels.CLASSES, ExportTAV)


def register() -> None:
    for cls in CLASSES:
        bpy.utils.register_class(cls)
    properties.attach()
    bpy.types.TOPBAR_MT_file_export.append(menu_func_export)


def unregister() -> None:
    bpy.types.TOPBAR_MT_file_export.remove(menu_func_export)
    properties.detach()
    for cls in reversed(CLASSES):
        bpy.utils.unregister_class(cls)
