#pragma once
// Wrapper of a plain coloured mesh for Python: ColorNode (material
// "color_material", vertex attributes POSITION0 4 and NORMAL0 3).
//
// Contract (besides FixedMaterialRenderNode.h):
//  - The material starts with one uniform "color" (1, 0, 0); setColor()
//    puts a new "color" property in its place (the old object is left as
//    it was); a NaN or an infinite component raises std::invalid_argument
//    (ValueError) "Color holds a value that is not finite." instead.
//  - setPositions() appends (x, y, z, 0) per vertex; setNormals() and
//    setIndices() replace. NumPy input is flattened in C order.
//  - setControlNode() sets parent 0 of the model node at once.
//  - build(): "Vetex attribute {} isn't set.", "Indices aren't set.",
//    "Control node isn't set.", then the geometry checks; on success the
//    model node holds the vertex data and indices.

#include <string>

#include "FixedMaterialRenderNode.h"
#include "NumpyArrays.h"
#include "PySceneNodes.h"

namespace pytav {

class ColorNode : public FixedMaterialRenderNode {
public:
    ColorNode(const std::string& nodeName, const std::string& materialTitle);
    ~ColorNode() override;

    void setColor(float r, float g, float b);
    void setControlNode(const Node& node);

    std::string build() override;
};

}  // namespace pytav
