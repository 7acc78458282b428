#pragma once
// model::numberNodeConverter: turns the digit render nodes under temporary
// number roots into number nodes.
//
// Contract:
//  - A digit is a render node of the root node's render list whose first
//    parent is a TmpNumberRoot or lies below one; the nearest one is its
//    number root. Render nodes without parents are never digits.
//  - Each digit is checked in render-list order, raising qz::ExtException:
//    "Only render nodes can be digits." unless it is a RenderNode exactly;
//    "TmpNumberRoot must be childfree." when its number root has children;
//    "Number of control nodes must be == 1." unless it has one parent.
//  - Returns false, changing nothing, when there is no digit. Otherwise, per
//    number root (in order of first digit), the digits that share one
//    material object (groups in order of first digit, digits in list order)
//    are merged into one new NumberNode, appended to the render list and
//    hung off the number root's parent. A group that can't be merged raises
//    "Can't merge digits.". Then the digits leave the render list, the
//    number roots leave the tree, and the result is true.
//  - A group merges when it holds 1 to 8 digits, the number root holds one
//    control record per digit of the group, all digits have one parent, the
//    group's material is a PropertiesSet whose vertex format lacks COLOR1,
//    every digit's vertex data matches that format with one row per vertex
//    in each attribute, every index names a vertex of its digit, and all
//    digits use one primitive kind of list form (points, lines, triangles).
//    The number node gets a copy of the material with a one-component
//    COLOR1 added, the digits' vertices in group order with COLOR1 set to
//    the digit's position in the group (0 for the first), their indices
//    offset accordingly, the number root's name, the first digit's damage
//    argument and the number root's control records as its one control
//    entry.
//  - A failure leaves the model as far as the conversion had got.

#include "nodes/RootNode.h"

namespace model {

bool numberNodeConverter(RootNode& root);

}  // namespace model
