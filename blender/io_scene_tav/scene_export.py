"""Reads a Blender scene into the builder's scene description, then builds
and saves it with ``tavtools.builder`` (which decides what the file holds).

What this reader takes:
- The objects of the view layer, narrowed by the include options (Selected,
  Visible, Renderable, Active Collection), become nodes named after them,
  parents first, children in name order. An object hangs from its parent's
  node when the parent is exported (from the bone's node when parented to
  a bone), else from the model's root. A still object's node holds its
  matrix relative to that parent (parent inverse included); an object
  whose location, rotation or scale is keyframed is described by its own
  channels over its parent inverse. Blender is Z-up like the model.
- Keys: each action the object plays (its active action and its unmuted
  NLA tracks' actions, ``action_export``) sampled at every frame of the
  scene's range (the clip the builder maps onto the action's argument
  range), on the action's argument; keyframed ``hide_render`` gives
  visibility keys.
- Meshes (and curves, surfaces, texts and metaballs, as meshes), evaluated
  (modifiers applied with Apply Modifiers; an object in Edit Mode as it is
  being edited), one mesh per used material slot, named after the object
  ("<object>_<material>" when it has several). A mesh deformed by an
  armature is skinned by the armature's deform bones.
- Point and spot lights (others are described and reported by the
  builder), with their keyframed values; armatures give their bones, keyed
  pose bones their keys (``pose_export``).
- The custom property ``tav`` gives an object a special role: "connector"
  (an empty; its number and text custom properties), "shell" (a mesh: a
  collision shell), "segments" (a mesh: its edges), "lod" (an empty whose
  children, in name order, are the levels at the distances of the float
  list ``tav_lod_distances``); the roles of light sprites, mirror, colour
  and deck nodes and number displays are read by ``special_export``.
What it sees it cannot describe (cameras, other object types, collection
instances and other instancing, particle systems, shape keys, drivers,
constraints, delta transforms of animated objects, further Armature
modifiers, unknown roles, shader set-ups) is reported naming the object;
the builder's losses follow, each a warning. A failed export reports an
error and returns {'CANCELLED'}.
"""

import os
from collections.abc import Callable
from typing import Any

import numpy as np
import numpy.typing as npt
from mathutils import Matrix

from . import (action_export, animation_export, armature_export, light_export, material_blocks,
               material_export, mesh_export, pose_export, settings, special_export)
from .tavtools import builder
from .tavtools.scene import Mesh, Node, Scene, Skin

MESH_TYPES = {"MESH", "CURVE", "SURFACE", "FONT", "META"}
ROLES = ("connector", "shell", "segments", "lod") + special_export.ROLES
INTERNAL_PROPERTIES = ("tav", "_RNA_UI", "cycles")
MOVING = ("location", "rotation_euler", "rotation_quaternion", "rotation_axis_angle", "scale")


# Receives (level, text): level "INFO", "WARNING" or "ERROR".
Report = Callable[[str, str], None]


class ExportError(Exception):
    """A problem that stops the export; its text is the report."""


def _np(m: Any) -> npt.NDArray[np.float64]:
    return np.array(m, dtype=np.float64)


_rotation = animation_export.rotation_of


class SceneExporter:
    """One export run.

    ``report(level, text)`` receives every message ("INFO", "WARNING",
    "ERROR"). ``export`` returns the operator result set and never raises.
    """

    def __init__(self, context: Any, report: Report, use_selection: bool = False, apply_modifiers: bool = True,
                 use_visible: bool = False, use_renderable: bool = False, use_active_collection: bool = False):
        self.context = context
        self.report = report
        self.use_selection = use_selection
        self.use_visible = use_visible
        self.use_renderable = use_renderable
        self.use_active_collection = use_active_collection
        self.apply_modifiers = apply_modifiers
        self.scene = Scene()
        self.records: dict[str, Node] = {}  # by object name
        self.skeletons: dict[str, armature_export.Skeleton] = {}  # by armature object name
        self.materials = material_export.MaterialReader()
        self.material_extras = material_blocks.MaterialExtras(self.materials)

    def note(self, where: str, text: str) -> None:
        self.scene.lose(where, text)

    # -- entry ------------------------------------------------------------
    def export(self, filepath: str, version: int) -> set[str]:
        wm = self.context.window_manager
        self.restore: list[tuple[Any, str]] = []
        started = False
        objects: list[Any] = []
        try:
            folder = os.path.dirname(os.path.abspath(filepath))
            if not os.path.isdir(folder):
                raise ExportError(f"the folder {folder} does not exist")
            self.context.view_layer.update()
            objects = self._objects()
            wm.progress_begin(0, len(objects) + 1)
            started = True
            for o in objects:
                if o.mode == "EDIT":
                    o.update_from_editmode()
            self._rest_armatures(objects)
            self.depsgraph = self.context.evaluated_depsgraph_get()
            self._describe(objects, wm)
            pytav = builder.module()
            pytav.init()
            built: builder.Built | None = None
            try:
                built = builder.build(self.scene, filepath, builder.Options(version, refer="basename"))
                for line in built.losses:
                    self.report("WARNING", line)
                wm.progress_update(len(objects))
                builder.save(built)
            finally:
                # The model and every wrapper go before the module's pools.
                built = None
                pytav.deinit()
        except (ExportError, builder.BuildError, builder.SaveError) as error:
            self.report("ERROR", f"Export to {filepath} failed: {error}")
            return {"CANCELLED"}
        except ImportError as error:
            self.report("ERROR", f"The pytav module of the add-on does not load: {error}")
            return {"CANCELLED"}
        except Exception as error:  # noqa: BLE001 -- any other failure: one readable line, no traceback
            self.report("ERROR", f"Export failed: {type(error).__name__}: {error}")
            return {"CANCELLED"}
        finally:
            for armature, position in self.restore:
                armature.pose_position = position
            if self.restore:
                self.context.view_layer.update()
            if started:
                wm.progress_end()
        self.report("INFO", f"Exported {len(objects)} objects to {filepath}")
        return {"FINISHED"}

    def _included(self, o: Any, collection_objects: set[str] | None) -> bool:
        if self.use_selection and not o.select_get():
            return False
        if self.use_visible and not o.visible_get():
            return False
        # An object whose Disable in Renders is keyed renders on some frames:
        # a pop-in hidden at the current frame is still one to export.
        if self.use_renderable and (any(c.hide_render for c in o.users_collection) or
                                    o.hide_render and not action_export.keys(o, "hide_render")):
            return False
        return collection_objects is None or o.name in collection_objects

    def _objects(self) -> list[Any]:
        """The objects to export, parents before children, siblings by name."""
        collection_objects = None
        if self.use_active_collection:
            active = self.context.view_layer.active_layer_collection.collection
            collection_objects = {o.name for o in active.all_objects}
        chosen = [o for o in self.context.view_layer.objects if self._included(o, collection_objects)]
        names = {o.name for o in chosen}
        children: dict[str | None, list[Any]] = {}
        for o in chosen:
            key = o.parent.name if o.parent is not None and o.parent.name in names else None
            children.setdefault(key, []).append(o)
        order: list[Any] = []
        pending = sorted(children.get(None, []), key=lambda o: o.name, reverse=True)
        while pending:
            o = pending.pop()
            order.append(o)
            pending.extend(sorted(children.get(o.name, []), key=lambda c: c.name, reverse=True))
        self.exported = names
        return order

    def _rest_armatures(self, objects: list[Any]) -> None:
        """Puts the armatures that deform exported meshes into their rest
        position, noting (armature data, old position) pairs in
        ``self.restore`` for ``export`` to put back."""
        restore = self.restore
        for o in objects:
            armature = armature_export.deforming_armature(o) if o.type == "MESH" else None
            if armature is not None and armature.data.pose_position != "REST" and \
                    all(a is not armature.data for a, _ in restore):
                restore.append((armature.data, armature.data.pose_position))
                armature.data.pose_position = "REST"
        if restore:
            self.context.view_layer.update()

    # -- describing ---------------------------------------------------------
    def _describe(self, objects: list[Any], wm: Any) -> None:
        scene = self.context.scene
        self.clip_range = (scene.frame_start, max(scene.frame_end, scene.frame_start))
        self.frames = list(range(self.clip_range[0], self.clip_range[1] + 1))
        # Objects that make instances (on vertices or faces, by particles or
        # geometry nodes): the mesh read from them holds none of those.
        self.instancers = {i.parent.original.name for i in self.depsgraph.object_instances
                           if i.is_instance and i.parent is not None}
        for o in objects:
            self._node(o)
        for k, o in enumerate(objects):
            wm.progress_update(k)
            self._content(o)
        for where, text in self.materials.notes:
            self.note(where, text)

    def _parent_node(self, o: Any) -> tuple[Node | None, Any]:
        """(node the object hangs from or None, matrix from that node to the object's own channels)."""
        parent = o.parent if o.parent is not None and o.parent.name in self.exported else None
        if parent is None:
            base = o.parent.matrix_world @ o.matrix_parent_inverse if o.parent is not None else Matrix.Identity(4)
            return None, base
        if o.parent_type == "BONE" and parent.name in self.skeletons and o.parent_bone in parent.data.bones:
            bone = parent.data.bones[o.parent_bone]
            return self.skeletons[parent.name].nodes[bone.name], \
                Matrix.Translation((0.0, bone.length, 0.0)) @ o.matrix_parent_inverse
        return self.records[parent.name], o.matrix_parent_inverse

    def _node(self, o: Any) -> None:
        holder, base = self._parent_node(o)
        try:
            played = action_export.played_actions(o, self.note)
        except settings.SettingError as error:
            raise ExportError(str(error)) from None
        curves = [animation_export.channels(p.curves) for p in played]
        self._report_animation_losses(o, played)
        record = Node(o.name, o.name)
        if any(path in c for c in curves for path in MOVING):
            if any(o.delta_location) or any(o.delta_scale[i] != 1.0 for i in range(3)) or \
                    any(o.delta_rotation_euler) or tuple(o.delta_rotation_quaternion) != (1.0, 0.0, 0.0, 0.0):
                self.note(o.name, "delta transforms of an animated object are not exported")
            record.offset = _np(base)
            record.translation, record.rotation, record.scale = \
                tuple(o.location), tuple(_rotation(o)), tuple(o.scale)
        else:
            world_of_holder = o.parent.matrix_world if holder is not None else Matrix.Identity(4)
            if holder is not None and o.parent_type == "BONE" and holder is not self.records.get(o.parent.name):
                bone = o.parent.data.bones[o.parent_bone]
                world_of_holder = o.parent.matrix_world @ bone.matrix_local
            record.matrix = _np(world_of_holder.inverted_safe() @ o.matrix_world)
            if holder is not None and holder.matrix is None and holder is not self.records.get(o.parent.name):
                record.matrix = _np(base @ o.matrix_basis)   # a keyed bone: the object follows its pose
        for action, keyed in zip(played, curves):
            if keyed:
                record.tracks.extend(animation_export.tracks(o, o.name, keyed, self.frames,
                                                             action.clip(self.clip_range)))
        (holder.children if holder is not None else self.scene.roots).append(record)
        self.records[o.name] = record
        if o.type == "ARMATURE":
            self.skeletons[o.name] = skeleton = armature_export.Skeleton(o, record)
            pose_export.animate_bones(skeleton, played, self.frames, self.clip_range, self.note)

    def _report_animation_losses(self, o: Any, played: list[action_export.PlayedAction]) -> None:
        if any(not c.mute and c.influence > 0 for c in o.constraints):
            self.note(o.name, "its constraints are not exported; its placement at the current frame and its own "
                              "keys are")
        data = o.animation_data
        if data is None:
            return
        if data.drivers:
            self.note(o.name, "drivers are not exported")
        other = sorted({c.data_path for p in played for c in p.curves
                        if c.data_path not in animation_export.CHANNELS + special_export.ANIMATED_SETTINGS
                        and not c.data_path.startswith(pose_export.POSE_PREFIX)})
        if other:
            self.note(o.name, f"animation of {', '.join(other)} is not exported")

    # -- content ------------------------------------------------------------------
    def _content(self, o: Any) -> None:
        try:
            role = settings.object_role(o)
        except settings.SettingError as error:
            where, _, text = str(error).partition(": ")
            self.note(where, f"{text}; exported as a plain object")
            role = None
        if role is not None and role not in ROLES:
            self.note(o.name, f"role {role!r} is not exported yet; exported as a plain object")
            role = None
        record = self.records[o.name]
        collection_instance = o.type == "EMPTY" and o.instance_type == "COLLECTION"
        if o.name in self.instancers and not collection_instance:
            self.note(o.name, "the instances it makes are not exported (make them real first)")
        if o.type == "MESH" and len(o.particle_systems) > 0:
            self.note(o.name, "particle systems are not exported")
        if role in special_export.ROLES:
            if special_export.describe(self, o, record, role):
                return
            role = None
        if role == "lod":
            self._lod(o, record)
        if o.type in MESH_TYPES:
            if role == "shell":
                self._shell(o, record)
            elif role == "segments":
                self._segments(o, record)
            else:
                if role is not None:
                    self.note(o.name, f"role {role!r} needs an empty; exported as a mesh")
                self._meshes(o, record)
        elif o.type == "EMPTY":
            if role == "connector":
                self._connector(o, record)
            elif role in ("shell", "segments"):
                self.note(o.name, f"role {role!r} needs a mesh; exported as a plain object")
            if collection_instance and o.instance_collection is not None:
                self.note(o.name, "collection instances are not exported (make them real first)")
        elif o.type == "LIGHT":
            record.light = light_export.describe_light(o)
            light_export.animate_light(self, o, record.light)
        elif o.type != "ARMATURE":
            self.note(o.name, f"{o.type.lower()} objects are not exported (kept as a transform)")

    def _lod(self, o: Any, record: Node) -> None:
        if o.type != "EMPTY":
            self.note(o.name, "role 'lod' needs an empty; exported as a plain object")
            return
        try:
            distances = settings.lod_distances(o, len(record.children))
        except settings.SettingError as error:
            where, _, text = str(error).partition(": ")
            self.note(where, f"{text}; exported as a plain object")
            return
        if distances is None:
            self.note(o.name, f"role 'lod' needs the float list tav_lod_distances with one distance per child "
                              f"({len(record.children)}); exported as a plain object")
            return
        record.lod_distances = distances

    def mesh_data(self, o: Any, keep_groups: bool = False) -> tuple[Any, Any]:
        """The mesh to export of object ``o`` (free it with to_mesh_clear on
        the returned owner): (owner, mesh)."""
        owner = o.evaluated_get(self.depsgraph) if self.apply_modifiers or o.type != "MESH" else o
        if keep_groups:
            return owner, owner.to_mesh(preserve_all_data_layers=True, depsgraph=self.depsgraph)
        return owner, owner.to_mesh()

    def _meshes(self, o: Any, record: Node) -> None:
        skeleton = None
        armature = armature_export.deforming_armature(o) if o.type == "MESH" else None
        if armature is not None:
            others = sorted({m.object.name for m in o.modifiers if m.type == "ARMATURE" and m.object is not None
                             and m.show_viewport and m.object != armature})
            if others:
                self.note(o.name, f"only its first Armature modifier ({armature.name}) is exported as its skin; "
                                  f"{', '.join(others)} is not")
            skeleton = self.skeletons.get(armature.name)
            if skeleton is None:
                self.note(o.name, f"its armature {armature.name} is not exported; exported unskinned")
        if o.type == "MESH" and o.data.shape_keys is not None and len(o.data.shape_keys.key_blocks) > 1:
            self.note(o.name, "shape keys are not exported (their current mix is)")
        owner, mesh = self.mesh_data(o, keep_groups=skeleton is not None)
        try:
            data = mesh_export.MeshArrays(mesh)
            if data.triangle_count == 0:
                self.note(o.name, "no faces; skipped")
                return
            if data.zero_normals:
                self.note(o.name, f"{data.zero_normals} corners of degenerate faces have no normal; written as +Z")
            influences = skeleton.vertex_influences(o, mesh) if skeleton is not None else None
        finally:
            owner.to_mesh_clear()
        slots = o.material_slots
        parts = list(data.parts(len(slots)))
        for part in parts:
            material = self.material_extras.material(o, slots[part.slot].material if slots else None, self.frames,
                                                     self.clip_range)
            name = o.name if len(parts) == 1 else f"{o.name}_{material.name}"
            sets: dict[int, npt.NDArray[np.float64]] = {}
            names: dict[int, str] = {}
            for k, (layer, uvs) in enumerate(part.uvs.items()):
                number = 0 if k == 0 else self.materials.uv_number(layer)
                sets[number], names[number] = uvs, layer
                if k == 0 and layer in self.materials.uv_numbers:
                    # A map that names the render layer reads it under that name's number too.
                    sets[self.materials.uv_numbers[layer]] = uvs
            made = Mesh(name, name, part.positions, part.normals, part.indices, material, sets,
                        {n: layer for n, layer in names.items() if n})
            if skeleton is not None and influences is not None:
                vertices = data.loop_vertex[part.loops]
                made.skin = Skin(skeleton.object.name, skeleton.skin.joints, skeleton.skin.inverse_binds,
                                 _np(o.matrix_world))
                made.joints = np.take(influences[0], vertices, axis=0)
                made.weights = np.take(influences[1], vertices, axis=0)
            record.meshes.append(made)

    def _shell(self, o: Any, record: Node) -> None:
        owner, mesh = self.mesh_data(o)
        try:
            positions, indices = mesh_export.MeshArrays(mesh).triangle_positions()
        finally:
            owner.to_mesh_clear()
        if len(indices) == 0:
            self.note(o.name, "a shell without faces; skipped")
            return
        record.shell = (positions.reshape(-1, 3).astype(np.float64), indices)

    def _segments(self, o: Any, record: Node) -> None:
        owner, mesh = self.mesh_data(o)
        try:
            segments = mesh_export.edge_segments(mesh)
        finally:
            owner.to_mesh_clear()
        if not segments:
            self.note(o.name, "segments without edges; skipped")
            return
        record.segments = segments

    def _connector(self, o: Any, record: Node) -> None:
        properties: dict[str, str | float] = {}
        for key in sorted(o.keys()):
            if key.startswith(INTERNAL_PROPERTIES):
                continue
            value = o[key]
            if isinstance(value, str) or (isinstance(value, (int, float)) and not isinstance(value, bool)):
                properties[key] = value if isinstance(value, str) else float(value)
            else:
                self.note(o.name, f"custom property {key} is neither a number nor a text; not exported")
        record.connector = properties
