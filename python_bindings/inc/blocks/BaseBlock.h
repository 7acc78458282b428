#pragma once
// The two BT_Base blocks: BaseBlock (positions, normals, albedo texture and
// its coordinates) and ColorBaseBlock (positions, normals, a colour uniform).
// Exactly one of them carries a PBR node's geometry.
//
// Contract:
//  - Setters replace their field. The vertex count is the number of position
//    floats / 3 (rounded down); validate() checks normals (and, for
//    BaseBlock, albedo coordinates) against it.
//  - apply(): POSITION0 with 4 components, each vertex (x, y, z, 0) appended
//    to what the map holds; NORMAL0 with 3 components, the normals; format
//    entries 0 := 4 and 1 := 3. BaseBlock then adds its coordinates (channel
//    use 0), texture slot 0 and the uniform "diffuseShift"; ColorBaseBlock
//    adds the uniform "color" and names the material "color_material".

#include <cstddef>
#include <string>
#include <vector>

#include "blocks/pytav_iblock.h"

namespace pytav {

class GeometryBlock : public IBlock {
public:
    BlockType getType() const override { return BT_Base; }

    void setPositions(std::vector<float> positions) { positions_ = std::move(positions); }
    void setNormals(std::vector<float> normals) { normals_ = std::move(normals); }

    std::size_t getVertexCount() const noexcept { return positions_.size() / 3; }

protected:
    // The positions and normals checks shared by both blocks; empty when fine.
    std::string validateGeometry() const;
    void applyGeometry(model::PropertiesSet& material, VertexMap& vertexMap) const;

private:
    std::vector<float> positions_;
    std::vector<float> normals_;
};

class BaseBlock : public GeometryBlock {
public:
    void setAlbedoMapUV(std::vector<float> coordinates) { albedoCoordinates_ = std::move(coordinates); }
    void setAlbedoMap(std::string file) { albedoMap_ = std::move(file); }
    void setAlbedoMapUVShift(const model::PropertyPtr& shift) { albedoShift_ = shift; }

    std::string validate() const override;
    std::string apply(model::PropertiesSet& material, std::uint32_t& texCoordCounter, const model::Indices& indices,
                      VertexMap& vertexMap) const override;

private:
    std::vector<float> albedoCoordinates_;
    std::string albedoMap_;
    model::PropertyPtr albedoShift_;
};

class ColorBaseBlock : public GeometryBlock {
public:
    void setColor(const model::PropertyPtr& color) { color_ = color; }

    std::string validate() const override;
    std::string apply(model::PropertiesSet& material, std::uint32_t& texCoordCounter, const model::Indices& indices,
                      VertexMap& vertexMap) const override;

private:
    model::PropertyPtr color_;
};

}  // namespace pytav
