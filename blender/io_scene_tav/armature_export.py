"""Maps an armature onto ``Bone`` nodes and a skinned mesh onto a bone block.

Mapping rules:
- Every bone of the armature becomes a ``Bone`` node named after the bone,
  in the bones' own hierarchy under the armature object's node. A bone's
  matrix is its rest matrix relative to its parent bone (relative to the
  armature for a root bone); its inverted base-bone matrix is the inverse
  of its rest matrix in model space. The pose is not exported.
- A mesh deformed by an Armature modifier is exported in the armature's
  rest position, in model space (the mesh's world matrix baked into its
  vertices), as a skinned node under the model's root: vertex group weights
  of groups named after bones, the four largest per vertex, normalised to a
  sum of one. Bone j of the armature (in hierarchy order) is bone index
  j + 1; index 0 is the skinned node's control node, the root, and holds a
  vertex that no bone weighs.
- An armature of more than 255 bones cannot be addressed by the packed
  bone indices: its meshes are exported unskinned, and the caller reports it.
Reading the weights is the one place that visits the vertices from Python
(``MeshVertex.groups`` has no bulk reader); the sorting is NumPy.
"""

import numpy as np

MAX_BONES = 255
INFLUENCES = 4


def rows(matrix):
    """A mathutils 4x4 matrix as the row tuples pytav takes (column-vector form)."""
    return [tuple(float(v) for v in row) for row in matrix]


class Skeleton:
    """The Bone nodes of one armature object.

    ``bones`` lists the ``bpy.types.Bone`` objects in hierarchy order (parents
    first) and ``nodes`` their ``pytav.Bone`` wrappers in the same order.
    """

    def __init__(self, pytav, armature_object, holder):
        self.object = armature_object
        self.bones = []
        self.nodes = []
        world = armature_object.matrix_world
        pending = [(bone, holder) for bone in reversed(armature_object.data.bones) if bone.parent is None]
        while pending:
            bone, parent_node = pending.pop()
            local = bone.matrix_local
            if bone.parent is not None:
                local = bone.parent.matrix_local.inverted_safe() @ local
            node = parent_node.addChild(pytav.Bone(bone.name, rows(local)))
            node.setInvertedBaseBoneMatrix(rows((world @ bone.matrix_local).inverted_safe()))
            self.bones.append(bone)
            self.nodes.append(node)
            pending.extend((child, node) for child in reversed(bone.children))
        self.index_of = {bone.name: k + 1 for k, bone in enumerate(self.bones)}

    @property
    def too_many(self):
        return len(self.bones) > MAX_BONES

    def vertex_influences(self, mesh_object, mesh):
        """(indices, weights) per vertex of ``mesh``: two (V, 4) arrays,
        uint32 bone indices (0 = the control node) and float32 weights
        summing to one. Vertex groups not named after a bone are ignored."""
        count = len(mesh.vertices)
        group_bone = np.zeros(max(len(mesh_object.vertex_groups), 1), dtype=np.int64)
        for group in mesh_object.vertex_groups:
            group_bone[group.index] = self.index_of.get(group.name, 0)
        entries = np.array([(v.index, g.group, g.weight) for v in mesh.vertices for g in v.groups],
                           dtype=np.float64).reshape(-1, 3)
        vertex = entries[:, 0].astype(np.int64)
        group = entries[:, 1].astype(np.int64)
        weight = entries[:, 2]
        valid = (group < len(group_bone)) & (weight > 0)
        vertex, group, weight = vertex[valid], group[valid], weight[valid]
        bone = group_bone[group]
        keep = bone > 0
        vertex, bone, weight = vertex[keep], bone[keep], weight[keep]
        order = np.lexsort((-weight, vertex))
        vertex, bone, weight = vertex[order], bone[order], weight[order]
        first = np.searchsorted(vertex, vertex, side="left")
        rank = np.arange(len(vertex)) - first
        top = rank < INFLUENCES
        indices = np.zeros((count, INFLUENCES), dtype=np.uint32)
        weights = np.zeros((count, INFLUENCES), dtype=np.float64)
        indices[vertex[top], rank[top]] = bone[top]
        weights[vertex[top], rank[top]] = weight[top]
        total = weights.sum(axis=1)
        unweighed = total <= 0
        weights[unweighed, 0] = 1.0
        total[unweighed] = 1.0
        return indices, (weights / total[:, None]).astype(np.float32)


def deforming_armature(mesh_object):
    """The armature object of the mesh's first enabled Armature modifier, or None."""
    for modifier in mesh_object.modifiers:
        if modifier.type == "ARMATURE" and modifier.object is not None and modifier.show_viewport:
            return modifier.object
    return None
