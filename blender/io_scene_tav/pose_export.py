"""Pose animation: an armature's actions keying its pose bones.

Blender places a pose bone at its parent's pose, times its rest matrix
relative to the parent bone, times its own location, rotation and scale
(its local pose). A bone that an action keys keeps that rest matrix as its
node's offset and gets its local pose as keys, sampled at every frame as an
object's channels are, on the action's argument and range; the builder
makes it an AnimationNode "<bone>_animation" above its Bone (in place of it
for a bone that deforms nothing), so the bones below and the skinned
meshes follow. Bones no action keys stay at rest.

What Blender adds on top of the local poses is reported and not carried:
bone constraints, inheritance other than full rotation and scale, and
location in the parent's space (Local Location off).
"""

from collections.abc import Callable

import bpy

from . import animation_export
from .action_export import PlayedAction
from .armature_export import Skeleton

POSE_PREFIX = "pose.bones"


def bone_prefix(name: str) -> str:
    return f'{POSE_PREFIX}["{bpy.utils.escape_identifier(name)}"].'


def animate_bones(skeleton: Skeleton, played: list[PlayedAction], frames: list[int], clip_range: tuple[int, int],
                  lose: Callable[[str, str], None]) -> None:
    """Gives the keyed bones of ``skeleton`` their offsets, poses and tracks."""
    armature = skeleton.object
    keyed = False
    read: set[str] = set()
    for action in played:
        clip = action.clip(clip_range)
        for pose_bone in armature.pose.bones:
            prefix = bone_prefix(pose_bone.name)
            curves = animation_export.channels(action.curves, prefix)
            curves.pop("hide_render", None)
            read.update(prefix + path for path in curves)
            if not curves:
                continue
            keyed = True
            node = skeleton.nodes[pose_bone.name]
            if node.matrix is not None:
                node.offset, node.matrix = node.matrix, None
                node.translation = tuple(pose_bone.location)
                node.rotation = tuple(animation_export.rotation_of(pose_bone))
                node.scale = tuple(pose_bone.scale)
            node.tracks.extend(animation_export.tracks(pose_bone, node.where, curves, frames, clip))
    other = sorted({c.data_path for a in played for c in a.curves
                    if c.data_path.startswith(POSE_PREFIX) and c.data_path not in read and not c.mute})
    if other:
        lose(armature.name, f"animation of {', '.join(other)} is not exported")
    if not keyed:
        return
    for pose_bone in armature.pose.bones:
        bone = pose_bone.bone
        if any(not c.mute and c.influence > 0 for c in pose_bone.constraints):
            lose(armature.name, f"the constraints of bone {bone.name} are not exported (its keyed pose is)")
        if not bone.use_inherit_rotation or bone.inherit_scale != "FULL" or not bone.use_local_location:
            lose(armature.name, f"bone {bone.name} inherits its parent's pose other than in full with local "
                                "location; exported as if it did")
