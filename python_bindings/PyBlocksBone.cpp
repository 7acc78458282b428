// BoneBlock.

#include "blocks/BoneBlock.h"

#include <algorithm>
#include <bit>
#include <stdexcept>

namespace pytav {

std::string BoneBlock::validate() const {
    if (weights_.empty()) return "Bone weights aren't set.";
    if (boneIndices_.empty()) return "Bone indices aren't set.";
    if (std::any_of(boneIndices_.begin(), boneIndices_.end(), [](std::uint32_t b) { return b > 255; }))
        return "Bone indices must be below 256.";
    return {};
}

std::string BoneBlock::apply(model::PropertiesSet& material, std::uint32_t& /*texCoordCounter*/,
                             const model::Indices& /*indices*/, VertexMap& vertexMap) const {
    vertexMap.setAttribute(model::COLOR1, 4, weights_);
    material.getVertexFormat()[model::COLOR1] = 4;

    model::VertexAttribute* positions = vertexMap.findAttribute(model::POSITION0);
    if (!positions) positions = &vertexMap.setAttribute(model::POSITION0, 0);
    const std::size_t vertexCount = positions->rowCount();
    if (vertexCount > 0 && positions->components < 4) throw std::out_of_range("invalid vector subscript");
    if (boneIndices_.size() / 4 < vertexCount) throw std::out_of_range("invalid vector subscript");
    // The shader unpacks the four bone numbers from the bytes of the
    // position's fourth component.
    for (std::size_t v = 0; v < vertexCount; ++v) {
        const std::uint32_t* b = boneIndices_.data() + v * 4;
        const std::uint32_t packed = b[0] | b[1] << 8 | b[2] << 16 | b[3] << 24;
        positions->data[v * positions->components + 3] = std::bit_cast<float>(packed);
    }
    return {};
}

}  // namespace pytav
