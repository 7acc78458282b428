#pragma once
// Wrapper of a mirror surface for Python: MirrorNode (material
// "mirror_material", vertex attributes POSITION0 4, NORMAL0 3, TEXCOORD0 2).
//
// Contract (besides FixedMaterialRenderNode.h):
//  - The material starts with one uniform "color" (1, 0, 0) and reads the
//    mirror texture through TEXCOORD0 (channel-table entry 0 := 0).
//  - setPositions() appends (x, y, z, 0) per vertex; setNormals(),
//    setTextureCoordinates(), setIndices() and setTexture() replace. NumPy
//    input is flattened in C order.
//  - setControlNode() sets parent 0 of the model node at once.
//  - build(): "Vetex attribute {} isn't set.", "Indices are empty.",
//    "Texture aren't set.", "Control node isn't set.", then the geometry
//    checks; on success the model node holds vertex data and indices and the
//    material's texture slot 0 the mirror texture.

#include <cstdint>
#include <string>
#include <vector>

#include "FixedMaterialRenderNode.h"
#include "NumpyArrays.h"
#include "PySceneNodes.h"

namespace pytav {

class MirrorNode : public FixedMaterialRenderNode {
public:
    MirrorNode(const std::string& nodeName, const std::string& materialTitle);
    ~MirrorNode() override;

    void setTexture(const std::string& file);
    void setTextureCoordinates(const FloatArray& coordinates);
    void setControlNode(const Node& node);

    std::string build() override;

private:
    std::string texture_;
};

}  // namespace pytav
