#include "VertexFormat.h"

#include <stdexcept>
#include <string>

namespace model {

const char* semanticName(uint32_t code) noexcept {
    static const char* const names[SEMANTIC_COUNT] = {
        "POSITION0",  "NORMAL0",    "TANGENT0",   "BINORMAL0",  "TEXCOORD0",  "TEXCOORD1",
        "TEXCOORD2",  "TEXCOORD3",  "TEXCOORD4",  "TEXCOORD5",  "TEXCOORD6",  "TEXCOORD7",
        "TEXCOORD8",  "TEXCOORD9",  "TEXCOORD10", "TEXCOORD11", "TEXCOORD12", "TEXCOORD13",
        "TEXCOORD14", "TEXCOORD15", "COLOR0",     "COLOR1",     "POSITION1",  "NORMAL1",
        "TANGENT1",   "BINORMAL1",
    };
    return code < SEMANTIC_COUNT ? names[code] : "UnknownSemantic";
}

uint32_t texCoordSemantic(uint32_t channel) {
    if (channel >= TEXCOORD_CHANNEL_COUNT)
        throw std::out_of_range("TEXCOORD channel " + std::to_string(channel) +
                                " doesn't exist (channels are 0 to 15)");
    return TEXCOORD0 + channel;
}

size_t vertexFormatSize(const VertexFormat& format) noexcept {
    size_t sum = 0;
    for (uint8_t n : format) sum += n;
    return sum;
}

}  // namespace model
