#include "TexCoordChannels.h"

#include <stdexcept>

#include <fmt/format.h>

#include "VertexFormat.h"

namespace model {

int TexCoordChannels::findChannel(uint32_t channel) const noexcept {
    for (size_t i = 0; i < COUNT; ++i)
        if (entries.elements[i] == channel) return static_cast<int>(i);
    return -1;
}

void TexCoordChannels::remapChannels(const std::map<uint32_t, uint32_t>& map) {
    qz::array<uint32_t, COUNT> result = entries;
    for (size_t i = 0; i < COUNT; ++i) {
        const uint32_t e = entries.elements[i];
        // Entries near NONE would wrap around when turned into a semantic.
        if (e == NONE || e > SEMANTIC_COUNT) continue;
        const auto it = map.find(e + TEXCOORD0);
        if (it == map.end()) continue;
        if (it->second < TEXCOORD0 || it->second > TEXCOORD15)
            throw std::out_of_range(fmt::format(
                "remapChannels: {} maps to {}, which is not a texture coordinate semantic",
                semanticName(e + TEXCOORD0), semanticName(it->second)));
        result.elements[i] = it->second - TEXCOORD0;
    }
    entries = result;
}

}  // namespace model
