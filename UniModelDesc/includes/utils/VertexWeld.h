#pragma once
// model::utils::weldVertices: drops the vertices no index uses and merges the
// vertices that are equal within a tolerance, renumbering the indices.
//
// Contract:
//  - Unreferenced vertices go first: the vertices some index names are kept
//    in their order, the others dropped. Then the kept vertices are walked in
//    order; one not merged yet becomes a representative, and every later
//    vertex whose row matches its row is merged into it (a vertex matched by
//    several representatives ends with the last of them). The
//    representatives' rows, in order, become the vertex data; every index
//    names its vertex's representative.
//  - Two rows (all attributes of a vertex, in semantic order) match when
//    every float differs by at most `tolerance` (|a - b| <= tolerance in
//    32-bit arithmetic: NaN never matches, an infinite value only under an
//    infinite tolerance), except the fourth position component when
//    POSITION0 has four or more components (a parent-entry index or packed
//    bone indices), which must be bit-equal.
//    A negative or NaN tolerance merges nothing; 0 merges equal values
//    (-0 and +0 included).
//  - Returns the number of vertices removed (unreferenced plus merged).
//    When nothing is removed the vertex data is left exactly as it was.
//  - Errors, raised before anything changes: an index at or past the vertex
//    count throws std::out_of_range ("invalid vector<bool> subscript");
//    vertex data that is not valid or whose attributes hold different vertex
//    counts throws qz::ExtException ("Vertex data is invalid.").
//  - The result does not depend on how candidates are found: it equals the
//    pairwise definition above. Candidates come from a hash grid over the
//    position floats (cells of at least twice the tolerance), so the cost
//    grows with the number of vertices that share a cell, not with the
//    square of the vertex count.
//  - Touches only its arguments: meshes can be welded on several threads at
//    once.
//  - With `workers`, the passes over the rows and the grid are spread over
//    their pool (see utils/Workers.h: not from one of its tasks); the result
//    is the same as on one thread, vertex for vertex.

#include <cstddef>

#include "Indices.h"
#include "Vertices.h"
#include "utils/Workers.h"

namespace model::utils {

std::size_t weldVertices(Vertices& vertices, Indices& indices, float tolerance);
std::size_t weldVertices(Vertices& vertices, Indices& indices, float tolerance, const Workers& workers);

}  // namespace model::utils
