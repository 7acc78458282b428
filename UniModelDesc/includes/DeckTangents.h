#pragma once
// Tangent frames of deck surfaces, whose material reads tangent and binormal
// as separate three-component attributes.
//
// Contract: computeDeckTangentFrame(vertices, indices, tangents, binormals)
// fills tangents and binormals with three floats per vertex (the vertex count
// of POSITION0) from POSITION0 (at least three components), NORMAL0 (at least
// three) and TEXCOORD0 (exactly two) of a triangle list. Each vertex sums the
// texture-space directions of its triangles (a triangle whose mapping spans
// almost no area gives none); the tangent is that sum orthogonalised against
// the normal, or any direction across the normal when the sum is too short;
// the binormal is normal x tangent, turned to agree with the summed second
// direction. Throws std::out_of_range, before anything changes, for missing
// or short attributes ("Deck vertex data is incomplete.") and for an index at
// or past the vertex count ("Index {} is out of range."); a trailing partial
// triangle is ignored.

#include <cstdint>
#include <vector>

#include "Vertices.h"

namespace model {

void computeDeckTangentFrame(const Vertices& vertices, const std::vector<std::uint32_t>& indices,
                             std::vector<float>& tangents, std::vector<float>& binormals);

}  // namespace model
