#pragma once
// model::Indices: the index list of one mesh.
//
// Contract: `indices` are vertex numbers, `primitiveKind` the primitive kind
// (5, triangle list, by default). The writers serialise through writeTo; the
// width of the written indices follows from the largest index (see
// widthCode()). readFrom reads exactly what writeTo writes and throws
// qz::ExtException for an unknown width code or missing bytes, leaving the
// object unchanged.

#include <cstdint>
#include <vector>

namespace io {
class IBinaryFileW;
class IBinaryFileR;
}

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
    // Width code of the written list: 0 (one byte per index) when the largest
    // index is at most 255, 1 (two bytes) up to 65535, 2 (four bytes) above.
    // An empty list has code 0.
    static uint8_t widthCode(const std::vector<uint32_t>& indices) noexcept;

    virtual ~Indices() = default;

    // u8 width code, u32 index count, u32 primitive kind, then the indices
    // at that width. Throws qz::ExtException for 2^32 indices or more.
    virtual void writeTo(io::IBinaryFileW& writer) const;
    virtual void readFrom(io::IBinaryFileR& reader);

    uint32_t primitiveKind = primitive_kind::kTriangleList;
    std::vector<uint32_t> indices;
};

}  // namespace model
