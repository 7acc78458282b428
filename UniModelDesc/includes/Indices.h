#pragma once
// model::Indices: the index list of one mesh.
//
// Contract: `indices` are vertex numbers, `primitiveKind` the primitive kind
// (5, triangle list, by default). How a file holds them is the writers'
// business (io/10/PrimitiveWriter10.h).

#include <cstdint>
#include <vector>

namespace model {

// Primitive kinds of an index list. Kinds 3 and 4, and kinds above 7, draw
// nothing.
namespace primitive_kind {
inline constexpr uint32_t kPointList = 0;
inline constexpr uint32_t kLineList = 1;
inline constexpr uint32_t kLineStrip = 2;
inline constexpr uint32_t kTriangleList = 5;
inline constexpr uint32_t kTriangleStrip = 6;
inline constexpr uint32_t kTriangleFan = 7;
}  // namespace primitive_kind

struct Indices {
    uint32_t primitiveKind = primitive_kind::kTriangleList;
    std::vector<uint32_t> indices;
};

}  // namespace model
