// GlassBlock.

#include "blocks/GlassBlock.h"

namespace pytav {

std::string GlassBlock::validate() const { return {}; }

std::string GlassBlock::apply(model::PropertiesSet& material, std::uint32_t& /*texCoordCounter*/,
                              const model::Indices& /*indices*/, VertexMap& /*vertexMap*/) const {
    setTexture(material, 14, colorMap_);
    material.setMaterialName(instrumental_ ? "glass_instrumental_material" : "glass_material");
    material.setBlending(1);
    return {};
}

}  // namespace pytav
