// AoBlock.

#include "blocks/AoBlock.h"

namespace pytav {

std::string AoBlock::validate() const {
    if (coordinates_.empty()) return "AO block: Invalid texture coordinates.";
    if (aoMap_.empty()) return "AO block: AO texture isn't set.";
    return {};
}

std::string AoBlock::apply(model::PropertiesSet& material, std::uint32_t& texCoordCounter,
                           const model::Indices& /*indices*/, VertexMap& vertexMap) const {
    addCoordinates(material, texCoordCounter, 9, coordinates_, vertexMap);
    setTexture(material, 9, aoMap_);
    addUniform(material, shift_, "ambientOcclusionShift");
    return {};
}

}  // namespace pytav
