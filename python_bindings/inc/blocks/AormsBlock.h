#pragma once
// AormsBlock: the packed ambient-occlusion/roughness/metallic/specular map.
//
// Contract: validate() needs coordinates, then a file. apply() adds the
// coordinates (channel use 12) and fills texture slot 13.

#include <string>
#include <vector>

#include "blocks/pytav_iblock.h"

namespace pytav {

class AormsBlock : public IBlock {
public:
    BlockType getType() const override { return BT_Aorms; }

    void setAormsMap(std::string file) { aormsMap_ = std::move(file); }
    void setAormsMapUV(std::vector<float> coordinates) { coordinates_ = std::move(coordinates); }

    std::string validate() const override;
    std::string apply(model::PropertiesSet& material, std::uint32_t& texCoordCounter, const model::Indices& indices,
                      VertexMap& vertexMap) const override;

private:
    std::string aormsMap_;
    std::vector<float> coordinates_;
};

}  // namespace pytav
