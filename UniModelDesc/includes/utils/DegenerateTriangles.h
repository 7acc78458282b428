#pragma once
// model::utils::removeDegenerateTriangles: drops the triangles of a triangle
// list that can't cover any area.
//
// Contract:
//  - A triangle (three consecutive indices) is degenerate when two of its
//    indices are equal, or when at least two of the axes x, y, z are close:
//    on that axis |P0 - P1| <= 1e-4 and |P0 - P2| <= 1e-4, with P0, P1, P2
//    the POSITION0 rows of its vertices (only the axes POSITION0 holds are
//    looked at; without POSITION0 only equal indices count).
//  - `runs` scans are made over the list, each in list order. A scan removes
//    each degenerate triangle it looks at and then skips the triangle after
//    it, which it keeps unexamined: the result of erasing triangles in place
//    while the scan position moves on, computed in one pass. Indices past
//    the last whole triangle stay at the end. Scanning stops early once a
//    scan removes nothing (later scans would find the same).
//  - Returns the number of triangles removed. Triangles keep their order.
//  - An index whose POSITION0 row is missing throws std::out_of_range; the
//    list is then unchanged.
//  - With `workers`, the triangles are judged on their pool (see
//    utils/Workers.h: not from one of its tasks); the result is the same.
//  - With IndicesInRange, the caller vouches that every index names a
//    POSITION0 row (as weldVertices leaves them), and the pass over the list
//    that checks it is left out.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Vertices.h"
#include "utils/Workers.h"

namespace model::utils {

std::size_t removeDegenerateTriangles(const Vertices& vertices, std::vector<std::uint32_t>& indices,
                                      std::size_t runs, const Workers& workers = Workers());

struct IndicesInRange {};
std::size_t removeDegenerateTriangles(const Vertices& vertices, std::vector<std::uint32_t>& indices,
                                      std::size_t runs, const Workers& workers, IndicesInRange);

}  // namespace model::utils
