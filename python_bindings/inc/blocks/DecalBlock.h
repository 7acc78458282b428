#pragma once
// DecalBlock: a decal texture with its own coordinates and an optional
// coordinate shift.
//
// Contract: validate() needs coordinates, then a file. apply() adds the
// coordinates (channel use 3), texture slot 3 and the uniform "decalShift"
// when a shift is set.

#include <string>
#include <vector>

#include "blocks/pytav_iblock.h"

namespace pytav {

class DecalBlock : public IBlock {
public:
    BlockType getType() const override { return BT_Decal; }

    void setDecalMap(std::string file) { decalMap_ = std::move(file); }
    void setDecalMapUV(std::vector<float> coordinates) { coordinates_ = std::move(coordinates); }
    void setDecalShift(const model::PropertyPtr& shift) { shift_ = shift; }

    std::string validate() const override;
    std::string apply(model::PropertiesSet& material, std::uint32_t& texCoordCounter, const model::Indices& indices,
                      VertexMap& vertexMap) const override;

private:
    std::string decalMap_;
    std::vector<float> coordinates_;
    model::PropertyPtr shift_;
};

}  // namespace pytav
