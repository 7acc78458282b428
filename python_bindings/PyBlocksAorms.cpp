// AormsBlock.

#include "blocks/AormsBlock.h"

namespace pytav {

std::string AormsBlock::validate() const {
    if (coordinates_.empty()) return "Aorms block: Invalid texture coordinates.";
    if (aormsMap_.empty()) return "Aorms block: aorms texture isn't set.";
    return {};
}

std::string AormsBlock::apply(model::PropertiesSet& material, std::uint32_t& texCoordCounter,
                              const model::Indices& /*indices*/, VertexMap& vertexMap) const {
    addCoordinates(material, texCoordCounter, 12, coordinates_, vertexMap);
    setTexture(material, 13, aormsMap_);
    return {};
}

}  // namespace pytav
