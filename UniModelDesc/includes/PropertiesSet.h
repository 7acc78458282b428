#pragma once
// model::PropertiesSet: the material of a render node: shader family, blend
// and shadow settings, 19 texture slots, the vertex format and texture
// coordinate channels its textures rely on, and the uniforms.
//
// Contract:
//  - Defaults: depthBias 0, shadowsBit0 1, shadowsBit2 0, culling 1, every
//    texture slot the default Texture (unused), vertex format all 0, every
//    channel entry 0xFFFFFFFF, empty material name, decal 0, billboard 0,
//    billboard settings 0 and 6.
//  - Texture slots are 0 to 18; vertex format codes 0 to 25; channel table
//    uses 0 to 12. Any other index raises std::out_of_range
//    ("qz::array: index out of range") and changes nothing.
//  - setTexture(slot, t) copies t's file, parameters and channel into the
//    slot and keeps the slot's matrix.
//  - isEqual compares, in order: name, blending, vertex format, channel
//    table, material name, depthBias/shadowsBit0/shadowsBit2, decal and the
//    billboard fields, then each texture slot (a difference counts only when
//    at least one of the two slots is used), then the uniforms as sets.
//    culling takes no part. A material of another class is never equal.

#include <cstddef>
#include <cstdint>
#include <string>

#include "BaseMaterial.h"
#include "TexCoordChannels.h"
#include "Texture.h"
#include "VertexFormat.h"
#include "qz/Array.h"

namespace model {

class PropertiesSet : public BaseMaterial {
public:
    static constexpr std::size_t kTextureSlots = 19;

    PropertiesSet();
    PropertiesSet(const PropertiesSet&) = default;
    ~PropertiesSet() override = default;

    const std::string& getMaterialName() const noexcept { return materialName_; }
    void setMaterialName(std::string name) { materialName_ = std::move(name); }

    std::uint8_t getDepthBias() const noexcept { return depthBias_; }
    void setDepthBias(std::uint8_t v) noexcept { depthBias_ = v; }
    std::uint8_t getShadowsBit0() const noexcept { return shadowsBit0_; }
    void setShadowsBit0(std::uint8_t v) noexcept { shadowsBit0_ = v; }
    std::uint8_t getShadowsBit2() const noexcept { return shadowsBit2_; }
    void setShadowsBit2(std::uint8_t v) noexcept { shadowsBit2_ = v; }
    std::uint8_t getCulling() const noexcept { return culling_; }
    void setCulling(std::uint8_t v) noexcept { culling_ = v; }
    std::uint8_t getDecal() const noexcept { return decal_; }
    void setDecal(std::uint8_t v) noexcept { decal_ = v; }
    std::uint8_t getBillboard() const noexcept { return billboard_; }
    void setBillboard(std::uint8_t v) noexcept { billboard_ = v; }
    std::uint32_t getBillboardSetting1() const noexcept { return billboardSetting1_; }
    void setBillboardSetting1(std::uint32_t v) noexcept { billboardSetting1_ = v; }
    std::uint32_t getBillboardSetting2() const noexcept { return billboardSetting2_; }
    void setBillboardSetting2(std::uint32_t v) noexcept { billboardSetting2_ = v; }

    const Texture& getTexture(std::size_t slot) const { return textures_[slot]; }
    Texture& getTexture(std::size_t slot) { return textures_[slot]; }
    void setTexture(std::size_t slot, const Texture& texture);

    const VertexFormat& getVertexFormat() const noexcept { return vertexFormat_; }
    VertexFormat& getVertexFormat() noexcept { return vertexFormat_; }
    void setVertexFormat(const VertexFormat& format) noexcept { vertexFormat_ = format; }

    const TexCoordChannels& getTexCoordChannels() const noexcept { return texCoordChannels_; }
    TexCoordChannels& getTexCoordChannels() noexcept { return texCoordChannels_; }
    void setTexCoordChannels(const TexCoordChannels& table) noexcept { texCoordChannels_ = table; }

    bool isEqual(const BaseMaterial& other) const override;
    Ptr<BaseMaterial> copy() const override;
    // The same as copy(), typed.
    Ptr<PropertiesSet> copySet() const;

private:
    std::uint8_t depthBias_ = 0;
    std::uint8_t shadowsBit0_ = 1;
    std::uint8_t shadowsBit2_ = 0;
    std::uint8_t culling_ = 1;
    qz::array<Texture, kTextureSlots> textures_;
    VertexFormat vertexFormat_{};
    TexCoordChannels texCoordChannels_;
    std::string materialName_;
    std::uint8_t decal_ = 0;
    std::uint8_t billboard_ = 0;
    std::uint32_t billboardSetting1_ = 0;
    std::uint32_t billboardSetting2_ = 6;
};

}  // namespace model
