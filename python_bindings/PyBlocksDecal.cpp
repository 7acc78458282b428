// DecalBlock.

#include "blocks/DecalBlock.h"

namespace pytav {

std::string DecalBlock::validate() const {
    if (coordinates_.empty()) return "Decal block: Invalid texture coordinates.";
    if (decalMap_.empty()) return "Decal block: decal texture isn't set.";
    return {};
}

std::string DecalBlock::apply(model::PropertiesSet& material, std::uint32_t& texCoordCounter,
                              const model::Indices& /*indices*/, VertexMap& vertexMap) const {
    addCoordinates(material, texCoordCounter, 3, coordinates_, vertexMap);
    setTexture(material, 3, decalMap_);
    addUniform(material, shift_, "decalShift");
    return {};
}

}  // namespace pytav
