#pragma once
// DamageBlock: the damaged look that an argument blends in: damage albedo and
// normal map with their own coordinates, and two masks.
//
// Contract:
//  - The argument is kNoArgument (0xFFFFFFFF) until set; validate() refuses
//    it, then needs both coordinate lists and both map files (masks are
//    optional).
//  - apply() adds the albedo coordinates (channel use 5), then the normal-map
//    coordinates (use 10), runs the tangent generator, reserves TANGENT1 and
//    BINORMAL1 (3 components of zeros) and fills slots 5, 10, 15 (mask) and
//    18 (RGBA mask). The argument is the render node's to place
//    (getArgument()).

#include <cstdint>
#include <string>
#include <vector>

#include "IModelArguments.h"
#include "blocks/pytav_iblock.h"

namespace pytav {

class DamageBlock : public IBlock {
public:
    BlockType getType() const override { return BT_Damage; }

    void setAlbedoMapUV(std::vector<float> coordinates) { albedoCoordinates_ = std::move(coordinates); }
    void setNormalMapUV(std::vector<float> coordinates) { normalCoordinates_ = std::move(coordinates); }
    void setAlbedoMap(std::string file) { albedoMap_ = std::move(file); }
    void setNormalMap(std::string file) { normalMap_ = std::move(file); }
    void setMask(std::string file) { mask_ = std::move(file); }
    void setMaskRGBA(std::string file) { maskRGBA_ = std::move(file); }
    void setArgument(std::uint32_t argument) noexcept { argument_ = argument; }

    std::uint32_t getArgument() const noexcept { return argument_; }

    std::string validate() const override;
    std::string apply(model::PropertiesSet& material, std::uint32_t& texCoordCounter, const model::Indices& indices,
                      VertexMap& vertexMap) const override;

private:
    std::vector<float> albedoCoordinates_;
    std::vector<float> normalCoordinates_;
    std::string albedoMap_;
    std::string normalMap_;
    std::string mask_;
    std::string maskRGBA_;
    std::uint32_t argument_ = model::kNoArgument;
};

}  // namespace pytav
