#pragma once
// GlassBlock: a glass surface. Always valid. apply() fills texture slot 14
// with the colour map (unused when no file is set), names the material
// "glass_instrumental_material" or "glass_material" and sets blending 1.
// No render node of the module accepts it today (their material rules leave
// BT_Glass out).

#include <string>

#include "blocks/pytav_iblock.h"

namespace pytav {

class GlassBlock : public IBlock {
public:
    BlockType getType() const override { return BT_Glass; }

    void setColorMap(std::string file) { colorMap_ = std::move(file); }
    void setInstrumental(bool instrumental) noexcept { instrumental_ = instrumental; }

    std::string validate() const override;
    std::string apply(model::PropertiesSet& material, std::uint32_t& texCoordCounter, const model::Indices& indices,
                      VertexMap& vertexMap) const override;

private:
    std::string colorMap_;
    bool instrumental_ = false;
};

}  // namespace pytav
