#pragma once
// FlirBlock: the thermal-vision texture. It brings no coordinates of its own:
// apply() points channel use 0 at TEXCOORD0 and fills texture slot 16.
//
// Contract: validate() needs the file name.

#include <string>

#include "blocks/pytav_iblock.h"

namespace pytav {

class FlirBlock : public IBlock {
public:
    BlockType getType() const override { return BT_Flir; }

    void setFlirMap(std::string file) { flirMap_ = std::move(file); }

    std::string validate() const override;
    std::string apply(model::PropertiesSet& material, std::uint32_t& texCoordCounter, const model::Indices& indices,
                      VertexMap& vertexMap) const override;

private:
    std::string flirMap_;
};

}  // namespace pytav
