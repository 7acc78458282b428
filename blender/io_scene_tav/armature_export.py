"""Reads an armature into bone nodes and a skinned mesh into its influences.

Every bone is a node named after the bone, in the bones' own hierarchy
under the armature object's node, its matrix the rest matrix relative to
its parent bone (to the armature for a root bone).  The deform bones (Deform
on) are the skin's joints, in hierarchy order, each with the inverse of its
rest matrix in world space as inverse bind; control bones are plain nodes
and count for no limit.  A mesh deformed by an Armature modifier is read in
the armature's rest position; its influences are the vertex groups named
after deform bones (other groups are not influences), the four largest per
vertex, normalised to a sum of one.  Reading the weights is the one place
that visits the vertices from Python (``MeshVertex.groups`` has no bulk
reader); the sorting is NumPy.
"""

import itertools
from typing import Any

import numpy as np
import numpy.typing as npt

from .tavtools import builder
from .tavtools.scene import Node, Skin

INFLUENCES = 4


def matrix(m: Any) -> npt.NDArray[np.float64]:
    return np.array(m, dtype=np.float64)


class Skeleton:
    """The bone nodes of one armature object: ``nodes`` maps a bone name to
    its Node; ``skin`` lists the deform bones as joints."""

    def __init__(self, armature_object: Any, holder: Node):
        self.object = armature_object
        self.nodes: dict[str, Node] = {}
        deform: list[Any] = []
        pending = [(bone, holder) for bone in reversed(armature_object.data.bones) if bone.parent is None]
        while pending:
            bone, parent = pending.pop()
            local = bone.matrix_local
            if bone.parent is not None:
                local = bone.parent.matrix_local.inverted_safe() @ local
            made = Node(bone.name, f"{armature_object.name} bone {bone.name}", matrix=matrix(local))
            parent.children.append(made)
            self.nodes[bone.name] = made
            if bone.use_deform:
                deform.append(bone)
            pending.extend((child, made) for child in reversed(bone.children))
        world = armature_object.matrix_world
        binds = [matrix((world @ bone.matrix_local).inverted_safe()) for bone in deform]
        self.skin = Skin(armature_object.name, [self.nodes[b.name] for b in deform],
                         np.array(binds).reshape(-1, 4, 4))
        self.joint_of = {bone.name: k for k, bone in enumerate(deform)}

    def vertex_influences(self, mesh_object: Any, mesh: Any) -> tuple[npt.NDArray[np.int64],
                                                                      npt.NDArray[np.float64]]:
        """(joints, weights) per vertex of ``mesh``: two (V, 4) arrays, joint
        numbers into the skin and weights summing to one (all zero for a
        vertex no deform bone weighs)."""
        count = len(mesh.vertices)
        group_joint = np.full(max(len(mesh_object.vertex_groups), 1), -1, dtype=np.int64)
        for group in mesh_object.vertex_groups:
            group_joint[group.index] = self.joint_of.get(group.name, -1)
        # Blender has no bulk read of vertex groups; one flat pass of NumPy's
        # fromiter over the tuples is cheaper than building a 2-D array of them.
        found = [(v.index, g.group, g.weight) for v in mesh.vertices for g in v.groups]
        entries = np.fromiter(itertools.chain.from_iterable(found), dtype=np.float64,
                              count=3 * len(found)).reshape(-1, 3)
        vertex = entries[:, 0].astype(np.int64)
        group = entries[:, 1].astype(np.int64)
        weight = entries[:, 2]
        valid = (group < len(group_joint)) & (weight > 0)
        vertex, group, weight = vertex[valid], group[valid], weight[valid]
        joint = group_joint[group]
        keep = joint >= 0
        vertex, joint, weight = vertex[keep], joint[keep], weight[keep]
        order = np.lexsort((-weight, vertex))
        vertex, joint, weight = vertex[order], joint[order], weight[order]
        first = np.searchsorted(vertex, vertex, side="left")
        rank = np.arange(len(vertex)) - first
        top = rank < INFLUENCES
        joints = np.zeros((count, INFLUENCES), dtype=np.int64)
        weights = np.zeros((count, INFLUENCES), dtype=np.float64)
        joints[vertex[top], rank[top]] = joint[top]
        weights[vertex[top], rank[top]] = weight[top]
        total = builder.row_sums(weights)
        total[total <= 0] = 1.0
        return joints, weights / total[:, None]


def deforming_armature(mesh_object: Any) -> Any:
    """The armature object of the mesh's first enabled Armature modifier, or None."""
    for modifier in mesh_object.modifiers:
        if modifier.type == "ARMATURE" and modifier.object is not None and modifier.show_viewport:
            return modifier.object
    return None
