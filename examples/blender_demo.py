"""Builds a small scene in headless Blender and exports it with the add-on.

    BLENDER_USER_SCRIPTS=build/blender/scripts blender -b --factory-startup \
        --addons io_scene_tav --python examples/blender_demo.py -- OUT.tav

The scene: a red base plate with a turret parented to it, the turret turning
a full circle over the frame range (argument 1), and a point light above.
"""

import math
import sys

import bpy

out = sys.argv[sys.argv.index("--") + 1] if "--" in sys.argv else "demo.tav"

# An empty scene; the preferences (and so the enabled add-on) stay.
bpy.ops.wm.read_homefile(use_empty=True)
scene = bpy.context.scene
scene.frame_start, scene.frame_end = 1, 25

paint = bpy.data.materials.new("paint")
paint.use_nodes = True
paint.node_tree.nodes["Principled BSDF"].inputs["Base Color"].default_value = (0.7, 0.1, 0.1, 1.0)

bpy.ops.mesh.primitive_cube_add(size=2.0)
base = bpy.context.object
base.name = "base"
base.scale = (2.0, 2.0, 0.25)
base.data.materials.append(paint)

bpy.ops.mesh.primitive_cylinder_add(radius=0.6, depth=0.5, location=(0.0, 0.0, 0.6))
turret = bpy.context.object
turret.name = "turret"
turret.data.materials.append(paint)
turret.parent = base
turret.matrix_parent_inverse = base.matrix_world.inverted()
turret["tav_argument"] = 1
for frame, angle in ((1, 0.0), (13, math.pi), (25, 2 * math.pi)):
    turret.rotation_euler.z = angle
    turret.keyframe_insert("rotation_euler", index=2, frame=frame)

bpy.ops.object.light_add(type="POINT", location=(0.0, 0.0, 3.0))
bpy.context.object.name = "lamp"

result = bpy.ops.export_scene.tav(filepath=out, format_version="10")
print(f"export_scene.tav: {out}: {result}")
sys.exit(0 if result == {"FINISHED"} else 1)
