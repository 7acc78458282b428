// EmissiveBlock and EmissiveColorBlock.

#include "blocks/EmissiveBlock.h"

namespace pytav {

namespace {

// Material of each self-illumination type; null keeps the node's material.
const char* selfIllumMaterial(std::uint32_t type) noexcept {
    switch (type) {
        case 2: return "self_illum_material";
        case 3: return "transparent_self_illum_material";
        case 4: return "additive_self_illum_material";
        case 5: return "additive_self_illum_color_material";
        case 6: return "additive_self_illum_tex_material";
        default: return nullptr;
    }
}

}  // namespace

std::string EmissiveBlock::validate() const {
    // A texture with nothing to map it would fail the save much later with
    // no hint of which node it was.
    if (!emissiveMap_.empty() && coordinates_.empty()) return "Emissive block: Invalid texture coordinates.";
    return {};
}

std::string EmissiveBlock::apply(model::PropertiesSet& material, std::uint32_t& texCoordCounter,
                                 const model::Indices& /*indices*/, VertexMap& vertexMap) const {
    if (!emissiveMap_.empty()) {
        addCoordinates(material, texCoordCounter, 8, coordinates_, vertexMap);
        setTexture(material, 8, emissiveMap_);
    }
    addUniform(material, amount_, "selfIlluminationValue");
    addUniform(material, color_, "selfIlluminationColor");
    if (const char* name = selfIllumMaterial(emissiveType_)) material.setMaterialName(name);
    return {};
}

std::string EmissiveColorBlock::validate() const {
    if (!color_) return "Color not set.";
    return {};
}

std::string EmissiveColorBlock::apply(model::PropertiesSet& material, std::uint32_t& /*texCoordCounter*/,
                                      const model::Indices& /*indices*/, VertexMap& /*vertexMap*/) const {
    addUniform(material, amount_, "selfIlluminationValue");
    addUniform(material, color_, "selfIlluminationColor");
    material.setMaterialName("self_illum_material");
    return {};
}

}  // namespace pytav
