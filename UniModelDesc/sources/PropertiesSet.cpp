#include "PropertiesSet.h"

#include "io/IBinaryFileW.h"

namespace model {

namespace {
// Slot 13 carries the texture that makes slot 2's redundant; a record holds
// only one of them.
constexpr std::size_t kShadowedSlot = 2;
constexpr std::size_t kShadowingSlot = 13;
}  // namespace

PropertiesSet::PropertiesSet() = default;

void PropertiesSet::setTexture(std::size_t slot, const Texture& texture) {
    Texture& t = textures_[slot];
    t.file = texture.file;
    t.parameters = texture.parameters;
    t.channel = texture.channel;
}

bool PropertiesSet::isEqual(const BaseMaterial& other) const {
    const auto* o = dynamic_cast<const PropertiesSet*>(&other);
    if (!o) return false;
    if (getName() != o->getName() || getBlending() != o->getBlending()) return false;
    if (vertexFormat_ != o->vertexFormat_ || !(texCoordChannels_ == o->texCoordChannels_)) return false;
    if (materialName_ != o->materialName_) return false;
    if (depthBias_ != o->depthBias_ || shadowsBit0_ != o->shadowsBit0_ || shadowsBit2_ != o->shadowsBit2_)
        return false;
    if (decal_ != o->decal_ || billboard_ != o->billboard_ || billboardSetting1_ != o->billboardSetting1_ ||
        billboardSetting2_ != o->billboardSetting2_)
        return false;
    for (std::size_t slot = 0; slot < kTextureSlots; ++slot) {
        const Texture& a = textures_[slot];
        const Texture& b = o->textures_[slot];
        // Unused slots are equal whatever they hold; asking first spares
        // reading the rest of both (most slots of most materials).
        if ((a.isUsed() || b.isUsed()) && !a.isEqual(b)) return false;
    }
    return uniformsEqual(*o);
}

Ptr<BaseMaterial> PropertiesSet::copy() const { return copySet(); }

Ptr<PropertiesSet> PropertiesSet::copySet() const { return Ptr<PropertiesSet>(new PropertiesSet(*this)); }

void PropertiesSet::writeTo(io::IBinaryFileW& writer) const {
    // The entry count is known before the entries are written, so it goes
    // first and the record needs no seeking back.
    const std::uint32_t entries = 10 + (billboard_ ? 1 : 0) + (decal_ ? 1 : 0);
    writer.writeU32(entries);

    writer.writeString("BLENDING");
    writer.writeU8(static_cast<std::uint8_t>(getBlending()));

    writer.writeString("DEPTH_BIAS");
    writer.writeU32(depthBias_ ? 1 : 0);

    writer.writeString("VERTEX_FORMAT");
    writer.writeU32(static_cast<std::uint32_t>(vertexFormat_.size()));
    writer.writeBytes(vertexFormat_.data(), vertexFormat_.size());

    writer.writeString("TEXTURE_COORDINATES_CHANNELS");
    writer.writeU32(static_cast<std::uint32_t>(texCoordChannels_.size()));
    for (std::uint32_t channel : texCoordChannels_) writer.writeU32(channel);

    writer.writeString("MATERIAL_NAME");
    writer.writeString(materialName_);

    writer.writeString("NAME");
    writer.writeString(getName());

    writer.writeString("SHADOWS");
    writer.writeU8(static_cast<std::uint8_t>((shadowsBit0_ ? 1 : 0) + (shadowsBit2_ ? 4 : 0)));

    const bool skipShadowed = textures_[kShadowedSlot].isUsed() && textures_[kShadowingSlot].isUsed();
    auto written = [&](std::size_t slot) {
        return textures_[slot].isUsed() && !(skipShadowed && slot == kShadowedSlot);
    };
    std::uint32_t used = 0;
    for (std::size_t slot = 0; slot < kTextureSlots; ++slot) used += written(slot) ? 1 : 0;
    writer.writeString("TEXTURES");
    writer.writeU32(used);
    for (std::size_t slot = 0; slot < kTextureSlots; ++slot) {
        if (!written(slot)) continue;
        writer.writeU32(static_cast<std::uint32_t>(slot));
        textures_[slot].writeTo(writer);
    }

    for (const bool animated : {false, true}) {
        std::uint32_t count = 0;
        for (const PropertyPtr& u : getUniforms()) count += (u->isAnimated() == animated) ? 1 : 0;
        writer.writeString(animated ? "ANIMATED_UNIFORMS" : "UNIFORMS");
        writer.writeU32(count);
        for (const PropertyPtr& u : getUniforms())
            if (u->isAnimated() == animated) u->writeTo(writer);
    }

    if (billboard_) {
        writer.writeString("BILLBOARD");
        writer.writeU8(static_cast<std::uint8_t>(billboardSetting1_));
        writer.writeU8(static_cast<std::uint8_t>(billboardSetting2_));
    }
    if (decal_) {
        writer.writeString("DECAL");
        writer.writeU8(decal_);
    }
}

}  // namespace model
