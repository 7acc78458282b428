// BaseBlock and ColorBaseBlock.

#include "blocks/BaseBlock.h"

namespace pytav {

std::string GeometryBlock::validateGeometry() const {
    if (positions_.empty()) return "Vetices positions aren't set.";
    if (normals_.empty() || normals_.size() / 3 != getVertexCount()) return "Invalid normals.";
    return {};
}

void GeometryBlock::applyGeometry(model::PropertiesSet& material, VertexMap& vertexMap) const {
    model::VertexAttribute* positions = vertexMap.findAttribute(model::POSITION0);
    if (!positions) positions = &vertexMap.setAttribute(model::POSITION0, 4);
    positions->components = 4;
    // The fourth component is the parent (or packed bone) slot; it starts
    // at 0 and a bone block may fill it later.
    const std::size_t vertexCount = getVertexCount();
    positions->data.reserve(positions->data.size() + vertexCount * 4);
    for (std::size_t v = 0; v < vertexCount; ++v) {
        positions->data.insert(positions->data.end(), positions_.begin() + v * 3, positions_.begin() + v * 3 + 3);
        positions->data.push_back(0.0f);
    }
    vertexMap.setAttribute(model::NORMAL0, 3, normals_);
    material.getVertexFormat()[model::POSITION0] = 4;
    material.getVertexFormat()[model::NORMAL0] = 3;
}

std::string BaseBlock::validate() const {
    if (std::string message = validateGeometry(); !message.empty()) return message;
    if (albedoCoordinates_.empty() || albedoCoordinates_.size() / 2 != getVertexCount())
        return "Invalid albedo texture coordinates.";
    if (albedoMap_.empty()) return "Albedo isn't set.";
    return {};
}

std::string BaseBlock::apply(model::PropertiesSet& material, std::uint32_t& texCoordCounter,
                             const model::Indices& /*indices*/, VertexMap& vertexMap) const {
    applyGeometry(material, vertexMap);
    addCoordinates(material, texCoordCounter, 0, albedoCoordinates_, vertexMap);
    setTexture(material, 0, albedoMap_);
    addUniform(material, albedoShift_, "diffuseShift");
    return {};
}

std::string ColorBaseBlock::validate() const {
    if (std::string message = validateGeometry(); !message.empty()) return message;
    if (!color_) return "Color not set.";
    return {};
}

std::string ColorBaseBlock::apply(model::PropertiesSet& material, std::uint32_t& /*texCoordCounter*/,
                                  const model::Indices& /*indices*/, VertexMap& vertexMap) const {
    applyGeometry(material, vertexMap);
    addUniform(material, color_, "color");
    material.setMaterialName("color_material");
    return {};
}

}  // namespace pytav
