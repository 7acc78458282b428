// DamageBlock.

#include "blocks/DamageBlock.h"

#include "Tangents.h"

namespace pytav {

std::string DamageBlock::validate() const {
    if (argument_ == model::kNoArgument) return "Damage block: invalid argument.";
    if (albedoCoordinates_.empty()) return "Damage block: Invalid albedo texture coordinates.";
    if (normalCoordinates_.empty()) return "Damage block: Invalid normal map texture coordinates.";
    if (albedoMap_.empty()) return "Damage block: Albedo isn't set.";
    if (normalMap_.empty()) return "Damage block: Normal map isn't set.";
    return {};
}

std::string DamageBlock::apply(model::PropertiesSet& material, std::uint32_t& texCoordCounter,
                               const model::Indices& indices, VertexMap& vertexMap) const {
    addCoordinates(material, texCoordCounter, 5, albedoCoordinates_, vertexMap);
    addCoordinates(material, texCoordCounter, 10, normalCoordinates_, vertexMap);
    model::computeTangents(material.getTexCoordChannels(), indices, vertexMap);
    addZeroFrame(material, model::TANGENT1, vertexMap);
    addZeroFrame(material, model::BINORMAL1, vertexMap);
    setTexture(material, 5, albedoMap_);
    setTexture(material, 10, normalMap_);
    setTexture(material, 15, mask_);
    setTexture(material, 18, maskRGBA_);
    return {};
}

}  // namespace pytav
