// FlirBlock.

#include "blocks/FlirBlock.h"

namespace pytav {

std::string FlirBlock::validate() const {
    if (flirMap_.empty()) return "Flir map isn't set.";
    return {};
}

std::string FlirBlock::apply(model::PropertiesSet& material, std::uint32_t& /*texCoordCounter*/,
                             const model::Indices& /*indices*/, VertexMap& /*vertexMap*/) const {
    // The thermal map is laid out like the albedo, on the first channel.
    material.getTexCoordChannels()[0] = 0;
    setTexture(material, 16, flirMap_);
    return {};
}

}  // namespace pytav
