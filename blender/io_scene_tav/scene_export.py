"""Walks a Blender scene and builds and saves a TAV model through ``pytav``.

Mapping rules:
- The objects of the view layer (only the selected ones with "Selected
  Objects") become nodes named after them, parents first, children in name
  order. An object hangs from its parent's node when the parent is
  exported, else from the model's root; its node's matrix is its world
  matrix relative to that parent's (the parent inverse included). Blender
  is Z-up like the model: no axis change, units unchanged.
- A plain object is a ``Transform``. An object whose location, rotation or
  scale is keyframed is an ``AnimationNode`` of the same name instead: its
  base matrix is the parent inverse, its keys the object's own channels
  (``animation_export``). Keyframed ``hide_render`` adds a
  ``VisibilityNode`` "<name>_visibility" above the object's node.
- Meshes (and curves, surfaces, texts and metaballs, as meshes) give one
  ``PBRNode`` per used material slot, named after the object ("<object>_
  <material>" when it has several), under the object's node
  (``mesh_export``, ``material_export``); skinned meshes are
  ``armature_export``'s. Point and spot lights give lights
  (``light_export``); armatures give their bones.
- The custom property ``tav`` gives an object a special role:
  "connector" (an empty: a ``Connector`` named after it, its number and text
  custom properties becoming the connector's properties), "shell" (a mesh: a
  collision ``ShellNode``, not rendered), "segments" (a mesh: its edges as a
  ``SegmentsNode``), "lod" (an empty: a ``Lod`` node "<name>_lod" under its
  node holding its children, in name order, as the levels, with the
  distances of the float list ``tav_lod_distances``, one per child; format
  2.0 holds no LOD nodes, so there the levels stay plain children).
- Anything not exported (cameras, sun and area lights, other object types,
  collection instances,
  shape keys, drivers, NLA strips, pose animation, unknown roles, custom
  properties a connector cannot hold, shader features) is reported naming
  the object; messages of ``addRenderNode`` and ``save`` are reported too.
  A failed export reports an error and returns {'CANCELLED'}.
"""

import os

import numpy as np

from . import animation_export, armature_export, light_export, material_export, mesh_export, settings
from .armature_export import rows

MESH_TYPES = {"MESH", "CURVE", "SURFACE", "FONT", "META"}
ROLES = ("connector", "shell", "segments", "lod")
INTERNAL_PROPERTIES = ("tav", "_RNA_UI", "cycles")


def role_of(o):
    """The object's role; None for an unusable one, which the content
    export reports."""
    try:
        return settings.object_role(o)
    except settings.SettingError:
        return None


class ExportError(Exception):
    """A problem that stops the export; its text is the report."""


class SceneExporter:
    """One export run.

    ``report(level, text)`` receives every message ("INFO", "WARNING",
    "ERROR"). ``export`` returns the operator result set and never raises.
    """

    def __init__(self, context, report, use_selection=False, apply_modifiers=True):
        self.context = context
        self.report = report
        self.use_selection = use_selection
        self.apply_modifiers = apply_modifiers
        self.pytav = None
        self.model = None
        self.nodes = {}       # object name -> node its own content hangs from
        self.holders = {}     # object name -> node its children hang from
        self.skeletons = {}   # armature object name -> Skeleton
        self.materials = {}   # material name (or None) -> MaterialInfo
        self.corners = []     # world-space boxes (2 x 3 arrays) of the exported geometry
        self.skinned = False
        self.counts = {"render": 0, "light": 0, "shell": 0, "segments": 0, "connector": 0}

    # -- entry ------------------------------------------------------------
    def export(self, filepath, version):
        wm = self.context.window_manager
        self.restore = []
        started = False
        try:
            folder = os.path.dirname(os.path.abspath(filepath))
            if not os.path.isdir(folder):
                raise ExportError(f"Cannot write {filepath}: the folder {folder} does not exist")
            try:
                from . import pytav
            except ImportError as error:
                raise ExportError(f"The pytav module of the add-on does not load: {error}") from None
            self.pytav = pytav
            self.version = version
            # A script may have linked objects since the last update; the view
            # layer lists them (and their matrices are right) only after one.
            self.context.view_layer.update()
            objects = self._objects()
            wm.progress_begin(0, len(objects) + 1)
            started = True
            self._rest_armatures(objects)
            self.depsgraph = self.context.evaluated_depsgraph_get()
            pytav.init()
            try:
                self._build(objects, wm)
                wm.progress_update(len(objects))
                if version == 20:
                    self._note_format20()
                message = self.model.save(filepath, version)
            finally:
                # The model and every wrapper go before the module's pools.
                self.model = None
                for table in (self.nodes, self.holders, self.skeletons):
                    table.clear()
                pytav.deinit()
            if message:
                raise ExportError(f"Saving {filepath} failed: {message}")
        except ExportError as error:
            self.report("ERROR", str(error))
            return {"CANCELLED"}
        except Exception as error:  # any other failure: one readable line, no traceback
            self.report("ERROR", f"Export failed: {type(error).__name__}: {error}")
            return {"CANCELLED"}
        finally:
            for armature, position in self.restore:
                armature.pose_position = position
            if self.restore:
                self.context.view_layer.update()
            if started:
                wm.progress_end()
        counts = ", ".join(f"{n} {k}" for k, n in self.counts.items() if n)
        self.report("INFO", f"Exported {len(objects)} objects to {filepath} ({counts or 'no geometry'})")
        return {"FINISHED"}

    def _objects(self):
        """The objects to export, parents before children, siblings by name."""
        chosen = [o for o in self.context.view_layer.objects if not self.use_selection or o.select_get()]
        names = {o.name for o in chosen}
        children = {}
        for o in chosen:
            key = o.parent.name if o.parent is not None and o.parent.name in names else None
            children.setdefault(key, []).append(o)
        order = []
        pending = sorted(children.get(None, []), key=lambda o: o.name, reverse=True)
        while pending:
            o = pending.pop()
            order.append(o)
            pending.extend(sorted(children.get(o.name, []), key=lambda c: c.name, reverse=True))
        self.exported = names
        return order

    def _rest_armatures(self, objects):
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

    # -- building -----------------------------------------------------------
    def _build(self, objects, wm):
        pt = self.pytav
        self.model = pt.Model()
        self.frames, self.times = animation_export.frame_times(self.context.scene)
        # A model with skinned nodes needs its box from the exporter.
        self.need_bounds = any(o.type == "MESH" and armature_export.deforming_armature(o) is not None
                               for o in objects)
        for o in objects:
            self._make_node(o)
        for k, o in enumerate(objects):
            wm.progress_update(k)
            self._export_content(o)
        if self.skinned and self.corners:
            box = np.concatenate(self.corners)
            self.model.setBBox(tuple(float(v) for v in np.r_[box.min(axis=0), box.max(axis=0)]))

    def _make_node(self, o):
        pt = self.pytav
        parent = o.parent if o.parent is not None and o.parent.name in self.exported else None
        holder = self.holders[parent.name] if parent is not None else self.model.getRootTransform()
        local = (parent.matrix_world.inverted_safe() @ o.matrix_world) if parent is not None else o.matrix_world.copy()
        curves = animation_export.curves_of(o)
        self._report_animation_losses(o, curves)
        animation = animation_export.ObjectAnimation(o, curves, self.frames, self.times) if curves else None
        argument = 0
        if animation is not None:
            try:
                argument = settings.animation_argument(o, o.animation_data.action)
            except settings.SettingError as error:
                raise ExportError(str(error)) from None
        if animation is not None and animation.visibility is not None:
            visibility = holder.addChild(pt.VisibilityNode(o.name + "_visibility"))
            visibility.setArguments([(argument, animation.visibility)])
            holder = visibility
        if any(path in curves for path in ("location", "rotation_euler", "rotation_quaternion",
                                           "rotation_axis_angle", "scale")):
            if any(o.delta_location) or any(o.delta_scale[i] != 1.0 for i in range(3)) or \
                    any(o.delta_rotation_euler) or tuple(o.delta_rotation_quaternion) != (1.0, 0.0, 0.0, 0.0):
                self.report("WARNING", f"{o.name}: delta transforms of an animated object are not exported")
            node = holder.addChild(pt.AnimationNode(o.name))
            node.setBaseMatrix(rows(local @ o.matrix_basis.inverted_safe()))
            if animation.position:
                node.setPositionAnimation([(argument, animation.position)])
            if animation.rotation:
                node.setRotationAnimation([(argument, animation.rotation)])
            if animation.scale:
                node.setScaleAnimation([(argument, animation.scale)])
        else:
            node = holder.addChild(pt.Transform(o.name, rows(local)))
        self.nodes[o.name] = node
        self.holders[o.name] = node
        if role_of(o) == "lod":
            self._make_lod(o, node)
        if o.type == "ARMATURE":
            self.skeletons[o.name] = armature_export.Skeleton(pt, o, node)
            if len(self.skeletons[o.name].bones) > armature_export.MAX_BONES:
                self.report("WARNING", f"{o.name}: {len(o.data.bones)} bones exceed "
                                       f"{armature_export.MAX_BONES}; the meshes it deforms are exported unskinned")

    def _make_lod(self, o, node):
        if o.type != "EMPTY":
            self.report("WARNING", f"{o.name}: role 'lod' needs an empty; exported as a plain object")
            return
        children = sorted((c for c in o.children if c.name in self.exported), key=lambda c: c.name)
        try:
            distances = settings.lod_distances(o, len(children))
        except settings.SettingError as error:
            self.report("WARNING", f"{error}; exported as a plain object")
            return
        if distances is None:
            self.report("WARNING", f"{o.name}: role 'lod' needs the float list tav_lod_distances with one "
                                   f"distance per child ({len(children)}); exported as a plain object")
            return
        if self.version == 20:
            self.report("WARNING", f"{o.name}: format 2.0 holds no LOD nodes; its levels are exported as "
                                   "plain children")
            return
        self.holders[o.name] = node.addChild(self.pytav.Lod(o.name + "_lod", distances))

    def _report_animation_losses(self, o, curves):
        data = o.animation_data
        if data is None:
            return
        if data.drivers:
            self.report("WARNING", f"{o.name}: drivers are not exported")
        if data.nla_tracks:
            self.report("WARNING", f"{o.name}: NLA strips are not exported (only the active action is)")
        action = data.action
        if action is not None:
            other = sorted({c.data_path for c in action.fcurves if c.data_path not in animation_export.CHANNELS})
            if other:
                self.report("WARNING", f"{o.name}: animation of {', '.join(other)} is not exported")

    # -- content ------------------------------------------------------------------
    def _export_content(self, o):
        try:
            role = settings.object_role(o)
        except settings.SettingError as error:
            self.report("WARNING", f"{error}; exported as a plain object")
            role = None
        if role is not None and role not in ROLES:
            self.report("WARNING", f"{o.name}: role {role!r} is not exported yet; exported as a plain object")
            role = None
        node = self.nodes[o.name]
        if o.type in MESH_TYPES:
            if role == "shell":
                self._export_shell(o, node)
            elif role == "segments":
                self._export_segments(o, node)
            else:
                if role is not None:
                    self.report("WARNING", f"{o.name}: role {role!r} needs an empty; exported as a mesh")
                self._export_mesh(o, node)
        elif o.type == "EMPTY":
            if role == "connector":
                self._export_connector(o, node)
            elif role in ("shell", "segments"):
                self.report("WARNING", f"{o.name}: role {role!r} needs a mesh; exported as a plain object")
            if o.instance_type == "COLLECTION" and o.instance_collection is not None:
                self.report("WARNING", f"{o.name}: collection instances are not exported (make them real first)")
        elif o.type == "LIGHT":
            if o.data.type in ("POINT", "SPOT"):
                light = light_export.make_light(self.pytav, o)
                light.setControlNode(node)
                (self.model.addOmniLight if o.data.type == "POINT" else self.model.addSpotLight)(light)
                self.counts["light"] += 1
            else:
                self.report("WARNING", f"{o.name}: {o.data.type.lower()} lights are not exported; skipped")
        elif o.type == "ARMATURE":
            if o.pose is not None and o.animation_data is not None and o.animation_data.action is not None and \
                    any(c.data_path.startswith("pose.bones") for c in o.animation_data.action.fcurves):
                self.report("WARNING", f"{o.name}: pose animation is not exported (bones keep their rest pose)")
        else:
            self.report("WARNING", f"{o.name}: {o.type.lower()} objects are not exported (kept as a transform)")

    def _mesh(self, o, keep_groups=False):
        """The mesh to export of object ``o`` (free it with to_mesh_clear on
        the returned owner): (owner, mesh)."""
        owner = o.evaluated_get(self.depsgraph) if self.apply_modifiers or o.type != "MESH" else o
        if keep_groups:
            return owner, owner.to_mesh(preserve_all_data_layers=True, depsgraph=self.depsgraph)
        return owner, owner.to_mesh()

    def _export_mesh(self, o, node):
        pt = self.pytav
        skeleton = None
        armature = armature_export.deforming_armature(o) if o.type == "MESH" else None
        if armature is not None:
            skeleton = self.skeletons.get(armature.name)
            if skeleton is None:
                self.report("WARNING", f"{o.name}: its armature {armature.name} is not exported; exported unskinned")
            elif skeleton.too_many:
                skeleton = None
        if o.type == "MESH" and o.data.shape_keys is not None and len(o.data.shape_keys.key_blocks) > 1:
            self.report("WARNING", f"{o.name}: shape keys are not exported (their current mix is)")
        owner, mesh = self._mesh(o, keep_groups=skeleton is not None)
        try:
            data = mesh_export.MeshArrays(mesh)
            if data.triangle_count == 0:
                self.report("WARNING", f"{o.name}: no faces; skipped")
                return
            if data.zero_normals:
                self.report("WARNING", f"{o.name}: {data.zero_normals} corners of degenerate faces have no normal; "
                                       "written as +Z")
            influences = skeleton.vertex_influences(o, mesh) if skeleton is not None else None
        finally:
            owner.to_mesh_clear()
        slots = o.material_slots
        parts = list(data.parts(len(slots)))
        world = np.array(o.matrix_world, dtype=np.float64)
        control = node
        if skeleton is not None:
            control = self.model.getRootTransform()
            self.skinned = True
        for part in parts:
            material = slots[part.slot].material if slots else None
            info = self._material_info(material)
            if info.textures() and not data.has_uv:
                self.report("WARNING", f"{o.name}: no UV layer for the textures of {info.name}; coordinates are zeros")
            if skeleton is not None:
                _to_world(part, world)
            name = o.name if len(parts) == 1 else f"{o.name}_{info.name}"
            render = pt.PBRNode(name, info.name)
            info.add_blocks(pt, render, part)
            if skeleton is not None:
                block = pt.BoneBlock()
                block.setBones(skeleton.nodes)
                block.setBoneNames([b.name for b in skeleton.bones])
                vertices = data.loop_vertex[part.loops]
                block.setBoneIndices(np.ascontiguousarray(influences[0][vertices]).reshape(-1))
                block.setBoneWeights(np.ascontiguousarray(influences[1][vertices]).reshape(-1))
                render.addBlock(block)
            render.setIndices(part.indices)
            render.setControlNode(control)
            message = self.model.addRenderNode(render)
            if message:
                self.report("WARNING", f"{o.name}: render node {name} refused: {message}")
                continue
            self.counts["render"] += 1
            if self.need_bounds:
                self._add_bounds(part.positions, None if skeleton is not None else world)

    def _material_info(self, material):
        key = material.name if material is not None else None
        info = self.materials.get(key)
        if info is None:
            info = material_export.MaterialInfo(material)
            self.materials[key] = info
            for note in info.notes:
                self.report("WARNING", f"material {info.name}: {note}")
        return info

    def _add_bounds(self, positions, world):
        """Notes the model-space box of the points (flat float32) under the
        world matrix ``world`` (None: already in model space)."""
        points = positions.reshape(-1, 3).astype(np.float64)
        if world is not None:
            points = points @ world[:3, :3].T + world[:3, 3]
        self.corners.append(np.array([points.min(axis=0), points.max(axis=0)]))

    def _export_shell(self, o, node):
        owner, mesh = self._mesh(o)
        try:
            positions, indices = mesh_export.MeshArrays(mesh).triangle_positions()
        finally:
            owner.to_mesh_clear()
        if len(indices) == 0:
            self.report("WARNING", f"{o.name}: a shell without faces; skipped")
            return
        shell = self.pytav.ShellNode(o.name)
        shell.setPositions(positions.tolist())
        shell.setIndices(indices.tolist())
        shell.setControlNode(node)
        self.model.addShellNode(shell)
        self.counts["shell"] += 1
        if self.need_bounds:
            self._add_bounds(positions, np.array(o.matrix_world, dtype=np.float64))

    def _export_segments(self, o, node):
        owner, mesh = self._mesh(o)
        try:
            segments = mesh_export.edge_segments(mesh)
        finally:
            owner.to_mesh_clear()
        if not segments:
            self.report("WARNING", f"{o.name}: segments without edges; skipped")
            return
        made = self.pytav.SegmentsNode(o.name)
        made.set(segments)
        made.setControlNode(node)
        self.model.addSegmentsNode(made)
        self.counts["segments"] += 1

    def _export_connector(self, o, node):
        connector = self.pytav.Connector(o.name)
        for key in sorted(o.keys()):
            if key.startswith(INTERNAL_PROPERTIES):
                continue
            value = o[key]
            if isinstance(value, str):
                connector.setPropertyString(key, value)
            elif isinstance(value, (int, float)) and not isinstance(value, bool):
                connector.setPropertyFloat(key, float(value))
            else:
                self.report("WARNING", f"{o.name}: custom property {key} is neither a number nor a text; "
                                       "not exported")
        connector.setControlNode(node)
        self.model.addConnector(connector)
        self.counts["connector"] += 1

    def _note_format20(self):
        dropped = [f"{n} {k}" for k, n in self.counts.items() if n and k != "connector"]
        if dropped:
            self.report("WARNING", "format 2.0 holds only the node trees and connectors; not written: "
                                   + ", ".join(dropped))


def _to_world(part, world):
    """Moves a part's positions and normals into model space (in place)."""
    points = part.positions.reshape(-1, 3).astype(np.float64)
    part.positions = np.ascontiguousarray((points @ world[:3, :3].T + world[:3, 3]).astype(np.float32)).reshape(-1)
    normal_matrix = np.linalg.pinv(world[:3, :3]).T
    normals = part.normals.reshape(-1, 3).astype(np.float64) @ normal_matrix.T
    length = np.linalg.norm(normals, axis=1)
    length[length < 1e-12] = 1.0
    part.normals = np.ascontiguousarray((normals / length[:, None]).astype(np.float32)).reshape(-1)
