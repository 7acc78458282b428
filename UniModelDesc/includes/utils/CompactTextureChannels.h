#pragma once
// model::utils::compactTextureChannels: makes the material of every mesh
// render node describe exactly the texture coordinates the node uses,
// numbered densely from channel 0.
//
// Contract, for each mesh render node of the root node's list, in order
// (other render nodes are skipped):
//  1. The node gets a copy of its material (PropertiesSet::copySet: the
//     uniforms stay shared), so that nodes outside the list never see the
//     changes. Nodes of the list that held the same material and come out
//     with the same channel table and vertex format share one copy (made for
//     the first of them); the one-node form always makes a copy of its own.
//  2. TEXCOORD attributes are visited in ascending semantic order; one with
//     the components and the float count of an earlier kept one, every
//     float within 0.001 of it, is removed and the channel entries naming it
//     are pointed at the kept one.
//  3. The material's vertex format becomes the node's vertex format.
//  4. Coordinates no channel entry names are removed (data and format).
//  5. The channel numbers the table names, in order of first appearance
//     (entries 0 to 12), become 0, 1, 2, ...; entries are rewritten and the
//     TEXCOORD attributes (with their format entries) move with them.
//  6. Entries 0 to 7 are checked: a channel of 13 or more fails with
//     "Broken texture channels", one without coordinates with
//     "Empty texture channel". Entries 8 to 12 are not checked.
//  7. Vertex size and material format must agree ("Wrong vertex size.").
//  Failures are qz::ExtException and leave the nodes before the failing one
//  compacted; the failing node keeps the material it held (its geometry may
//  be changed in part). A mesh node without a material fails with
//  "Material of render node isn't set."; one whose material is not a
//  PropertiesSet with "Material of render node isn't a properties set.".
//  Returns the number of duplicate coordinate attributes removed.

#include <cstddef>

#include "nodes/BaseMeshRenderNode.h"
#include "nodes/RootNode.h"

namespace model::utils {

std::size_t compactTextureChannels(RootNode& root);

// The same steps for one node.
std::size_t compactTextureChannels(BaseMeshRenderNode& node);

}  // namespace model::utils
