// NormalBlock.

#include "blocks/NormalBlock.h"

#include "Tangents.h"

namespace pytav {

std::string NormalBlock::validate() const {
    if (coordinates_.empty()) return "Normal block: Invalid texture coordinates.";
    if (normalMap_.empty()) return "Normal block: normal texture isn't set.";
    return {};
}

std::string NormalBlock::apply(model::PropertiesSet& material, std::uint32_t& texCoordCounter,
                               const model::Indices& indices, VertexMap& vertexMap) const {
    addCoordinates(material, texCoordCounter, 1, coordinates_, vertexMap);
    // The generator runs before the frame is reserved, so the frame keeps
    // its zeros.
    model::computeTangents(material.getTexCoordChannels(), indices, vertexMap);
    addZeroFrame(material, model::TANGENT0, vertexMap);
    addZeroFrame(material, model::BINORMAL0, vertexMap);
    setTexture(material, 1, normalMap_);
    return {};
}

}  // namespace pytav
