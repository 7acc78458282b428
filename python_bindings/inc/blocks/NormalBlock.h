#pragma once
// NormalBlock: the normal map and its coordinates.
//
// Contract: validate() needs coordinates, then a file. apply() adds the
// coordinates (channel use 1), runs the tangent generator, then reserves
// TANGENT0 and BINORMAL0 (3 components, zeros for every vertex) and fills
// texture slot 1.

#include <string>
#include <vector>

#include "blocks/pytav_iblock.h"

namespace pytav {

class NormalBlock : public IBlock {
public:
    BlockType getType() const override { return BT_Normal; }

    void setNormalMap(std::string file) { normalMap_ = std::move(file); }
    void setNormalMapUV(std::vector<float> coordinates) { coordinates_ = std::move(coordinates); }

    std::string validate() const override;
    std::string apply(model::PropertiesSet& material, std::uint32_t& texCoordCounter, const model::Indices& indices,
                      VertexMap& vertexMap) const override;

private:
    std::string normalMap_;
    std::vector<float> coordinates_;
};

}  // namespace pytav
