#include "PropertiesSet.h"

namespace model {

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

}  // namespace model
