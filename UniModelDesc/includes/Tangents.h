#pragma once
// Tangent generation for normal-mapped meshes.
//
// computeTangents fills four-component tangent attributes from positions
// (POSITION0), normals (NORMAL0) and the texture coordinates a texture use
// reads:
//   TANGENT0 (if it has exactly 4 components) from channel-table entry 1,
//   then TANGENT1 (if it has exactly 4 components) from entry 10.
// A tangent attribute that is absent or has another component count is left
// alone. Each triangle (three consecutive indices) sets the rows of its three
// vertices to (tangent orthogonalised against the vertex normal and
// normalised, handedness); a triangle whose texture coordinates span no area
// is skipped; a vertex keeps the tangent of the last triangle touching it.
//
// Errors (checked before any row is written, so a failed call changes
// nothing):
// - the table entry names no channel (NONE or 16 and above):
//   std::out_of_range;
// - a needed attribute is missing: qz::ExtException
//   "Vertices don't have {} attribute.";
// - positions or normals with fewer than 3 components, coordinates with fewer
//   than 2: qz::ExtException;
// - an index at or past the number of rows of any attribute involved:
//   std::out_of_range.

#include <cstdint>
#include <vector>

#include "Indices.h"
#include "TexCoordChannels.h"
#include "Vertices.h"

namespace model {

void computeTangents(const TexCoordChannels& channels, const std::vector<uint32_t>& indices,
                     Vertices& vertices);

inline void computeTangents(const TexCoordChannels& channels, const Indices& indices,
                            Vertices& vertices) {
    computeTangents(channels, indices.indices, vertices);
}

}  // namespace model
