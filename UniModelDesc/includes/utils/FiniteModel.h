#pragma once
// model::utils::checkFiniteModel, the last check of a save: no number that
// is not finite goes into the file.
//
// The setters refuse NaN and infinities as scripts hand them over, but the
// save itself computes numbers from finite ones: transforms folded into one
// another or baked into vertices, points divided by a homogeneous
// coordinate near zero, boxes grown by a light's distance. Any of these can
// leave the float or double range. This check runs on the finished model,
// right before it is written.
//
// Contract:
//  - checkFiniteModel(root) returns when every float and double the writers
//    take from the model is finite: the three boxes; for every node of the
//    transform tree its matrix, bone matrix, animation keys and base values,
//    level and visibility ranges, number controls, billboard axis and
//    properties; for every base node its properties, and by kind its vertex
//    data (FiniteVertexData.h), material uniforms, number controls, skin box,
//    segments and light parameters. Otherwise it raises qz::ExtException
//    with "{What} of {node name} holds a value that is not finite." (What
//    one of "Matrix", "Bone matrix", "Animation", "Ranges", "Controls",
//    "Axis", "Properties", "Vertex data", "Material", "Box", "Segments",
//    "Parameters"), or "{Bounding box|User box|Light box} holds a value that
//    is not finite.", for the first such place (the tree in pre-order, then
//    the base nodes in getAllBaseNodes order, then the boxes). With
//    `workers`, the vertex data is checked on their pool first (not from
//    one of its tasks); the message is the same.
//    Each node kind is checked by its own visit (INodeVisitor), so a new
//    kind is not checked until it names its checks.
//  - isFiniteProperty(p): every value (and key time) of p is finite; texts,
//    integers and argument properties are.

#include "IProperty.h"
#include "nodes/RootNode.h"
#include "utils/Workers.h"

namespace model::utils {

void checkFiniteModel(const RootNode& root, const Workers& workers = Workers());

bool isFiniteProperty(const IProperty& property);

}  // namespace model::utils
