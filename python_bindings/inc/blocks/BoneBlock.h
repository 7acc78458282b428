#pragma once
// BoneBlock: skinning weights and bone indices (four per vertex) and the
// bones they index.
//
// Contract:
//  - validate() needs weights, then indices, each index below 256 (a larger
//    one would spill into its neighbour's byte of the packed value).
//  - apply(): COLOR1 := the weights (4 components, format entry 21 := 4);
//    the fourth position component of vertex i gets the bit pattern of
//    b0 | b1 << 8 | b2 << 16 | b3 << 24 for indices 4i..4i+3, for every
//    vertex of POSITION0. Fewer than four indices per vertex raise
//    std::out_of_range ("invalid vector subscript").
//  - The bones (model nodes of the script's Bone objects) are the render
//    node's to place as parents, in the order given (getBones()). Bone names
//    are kept for the script only.

#include <cstdint>
#include <string>
#include <vector>

#include "Node.h"
#include "blocks/pytav_iblock.h"

namespace pytav {

class BoneBlock : public IBlock {
public:
    BlockType getType() const override { return BT_Bone; }

    void setBoneWeights(std::vector<float> weights) { weights_ = std::move(weights); }
    void setBoneIndices(std::vector<std::uint32_t> indices) { boneIndices_ = std::move(indices); }
    std::vector<model::Ptr<model::Node>>& bones() noexcept { return bones_; }
    const std::vector<model::Ptr<model::Node>>& getBones() const noexcept { return bones_; }
    void setBoneNames(std::vector<std::string> names) { boneNames_ = std::move(names); }
    const std::vector<std::string>& getBoneNames() const noexcept { return boneNames_; }

    std::string validate() const override;
    std::string apply(model::PropertiesSet& material, std::uint32_t& texCoordCounter, const model::Indices& indices,
                      VertexMap& vertexMap) const override;

private:
    std::vector<float> weights_;
    std::vector<std::uint32_t> boneIndices_;
    std::vector<model::Ptr<model::Node>> bones_;
    std::vector<std::string> boneNames_;
};

}  // namespace pytav
