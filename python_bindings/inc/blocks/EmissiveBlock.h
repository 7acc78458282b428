#pragma once
// The two BT_Emissive blocks: EmissiveBlock (optional emissive texture with
// coordinates, amount and colour uniforms, a material by emissive type) and
// EmissiveColorBlock (amount and colour only).
//
// Contract:
//  - EmissiveBlock: validate() refuses a texture without coordinates (the
//    save could not use an empty coordinate list). apply() adds, when the
//    file name is set, the coordinates (channel use 8) and texture slot 8;
//    always the uniforms "selfIlluminationValue" (amount) and
//    "selfIlluminationColor" (colour) when set; and names the material by
//    type: 2 "self_illum_material", 3 "transparent_self_illum_material",
//    4 "additive_self_illum_material", 5 "additive_self_illum_color_material",
//    6 "additive_self_illum_tex_material"; other types keep the name.
//  - EmissiveColorBlock: validate() needs a colour. apply() adds the two
//    uniforms and names the material "self_illum_material".

#include <cstdint>
#include <string>
#include <vector>

#include "blocks/pytav_iblock.h"

namespace pytav {

class EmissiveBlock : public IBlock {
public:
    BlockType getType() const override { return BT_Emissive; }

    void setEmissiveMap(std::string file) { emissiveMap_ = std::move(file); }
    void setEmissiveMapUV(std::vector<float> coordinates) { coordinates_ = std::move(coordinates); }
    void setAmount(const model::PropertyPtr& amount) { amount_ = amount; }
    void setColor(const model::PropertyPtr& color) { color_ = color; }
    void setEmissiveType(std::uint32_t type) noexcept { emissiveType_ = type; }

    std::string validate() const override;
    std::string apply(model::PropertiesSet& material, std::uint32_t& texCoordCounter, const model::Indices& indices,
                      VertexMap& vertexMap) const override;

private:
    std::string emissiveMap_;
    std::vector<float> coordinates_;
    model::PropertyPtr amount_;
    model::PropertyPtr color_;
    std::uint32_t emissiveType_ = 0;
};

class EmissiveColorBlock : public IBlock {
public:
    BlockType getType() const override { return BT_Emissive; }

    void setColor(const model::PropertyPtr& color) { color_ = color; }
    void setAmount(const model::PropertyPtr& amount) { amount_ = amount; }

    std::string validate() const override;
    std::string apply(model::PropertiesSet& material, std::uint32_t& texCoordCounter, const model::Indices& indices,
                      VertexMap& vertexMap) const override;

private:
    model::PropertyPtr color_;
    model::PropertyPtr amount_;
};

}  // namespace pytav
