#pragma once
// model::utils::mergeEqualMaterials: makes the render nodes whose materials
// are equal in content share one material object.
//
// Contract:
//  - Walks the root node's render nodes in list order keeping a list of
//    representatives: a material already there is left alone; one equal
//    (BaseMaterial::isEqual) to a representative is replaced by that
//    representative (the first found, should several be equal to it) in
//    every render node holding it; any other joins the representatives.
//    Nodes without a material (and null entries) are skipped.
//  - Then checks that no two render nodes hold equal but distinct materials
//    and throws qz::ExtException "There is still equal properties sets."
//    otherwise.
//  - Returns whether the number of distinct materials changed.
//  - Cost: a material is compared only with representatives of its name,
//    blending, shader family and texture files whose number uniforms sum
//    to within the equality tolerance of its own, so thousands of sets of
//    one name and many colours take about n log n, not n squared.

#include "nodes/RootNode.h"

namespace model::utils {

bool mergeEqualMaterials(RootNode& root);

}  // namespace model::utils
