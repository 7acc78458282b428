#pragma once
// Vertex semantics and the vertex format.
//
// A semantic is an unsigned code 0..25 naming one per-vertex attribute list;
// TEXCOORD channel n (0..15) is semantic n + 4. A vertex format holds, per
// semantic, the number of float components (0 = absent). Indexing a format
// with a code of 26 or more throws std::out_of_range
// ("qz::array: index out of range").

#include <cstddef>
#include <cstdint>

#include "qz/Array.h"

namespace model {

enum VertexSemantic : uint32_t {
    POSITION0 = 0,
    NORMAL0 = 1,
    TANGENT0 = 2,
    BINORMAL0 = 3,
    TEXCOORD0 = 4,
    TEXCOORD1, TEXCOORD2, TEXCOORD3, TEXCOORD4, TEXCOORD5, TEXCOORD6, TEXCOORD7, TEXCOORD8,
    TEXCOORD9, TEXCOORD10, TEXCOORD11, TEXCOORD12, TEXCOORD13, TEXCOORD14,
    TEXCOORD15 = 19,
    COLOR0 = 20,
    COLOR1 = 21,
    POSITION1 = 22,
    NORMAL1 = 23,
    TANGENT1 = 24,
    BINORMAL1 = 25,
    SEMANTIC_COUNT = 26,
};

constexpr uint32_t TEXCOORD_CHANNEL_COUNT = 16;

// Components per semantic, indexed by semantic code.
using VertexFormat = qz::array<uint8_t, SEMANTIC_COUNT>;

// "POSITION0", "NORMAL0", ..., "BINORMAL1"; "UnknownSemantic" for any other
// code. The returned text is static.
const char* semanticName(uint32_t code) noexcept;

// Semantic of TEXCOORD channel n; std::out_of_range for n of 16 or more.
uint32_t texCoordSemantic(uint32_t channel);

// Floats per vertex described by the format: the sum of its entries.
size_t vertexFormatSize(const VertexFormat& format) noexcept;

}  // namespace model
