#pragma once
// AoBlock: a separate ambient-occlusion map with its own coordinates and an
// optional coordinate shift.
//
// Contract: validate() needs coordinates, then a file. apply() adds the
// coordinates (channel use 9), texture slot 9 and the uniform
// "ambientOcclusionShift" when a shift is set.

#include <string>
#include <vector>

#include "blocks/pytav_iblock.h"

namespace pytav {

class AoBlock : public IBlock {
public:
    BlockType getType() const override { return BT_Ao; }

    void setAoMap(std::string file) { aoMap_ = std::move(file); }
    void setAoMapUV(std::vector<float> coordinates) { coordinates_ = std::move(coordinates); }
    void setAoShift(const model::PropertyPtr& shift) { shift_ = shift; }

    std::string validate() const override;
    std::string apply(model::PropertiesSet& material, std::uint32_t& texCoordCounter, const model::Indices& indices,
                      VertexMap& vertexMap) const override;

private:
    std::string aoMap_;
    std::vector<float> coordinates_;
    model::PropertyPtr shift_;
};

}  // namespace pytav
