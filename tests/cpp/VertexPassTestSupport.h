#pragma once
// Meshes for the tests of the save's vertex passes.

#include <cstdint>
#include <string>
#include <vector>

#include "PropertiesSet.h"
#include "Writer10TestSupport.h"
#include "nodes/RenderNode.h"

namespace vertexpasstest {

using writer10test::make;

inline model::Vertices positions4(const std::vector<float>& xyzw) {
    model::Vertices v;
    v.setAttribute(model::POSITION0, 4, xyzw);
    return v;
}

// (x, y, z, 0) from triples.
inline model::Vertices points(const std::vector<float>& xyz) {
    std::vector<float> data;
    for (std::size_t i = 0; i + 3 <= xyz.size(); i += 3) data.insert(data.end(), {xyz[i], xyz[i + 1], xyz[i + 2], 0});
    return positions4(data);
}

inline model::Indices indexList(std::vector<std::uint32_t> indices, std::uint32_t kind = 5) {
    model::Indices out;
    out.primitiveKind = kind;
    out.indices = std::move(indices);
    return out;
}

inline model::Ptr<model::PropertiesSet> materialFor(const model::Vertices& v, const std::string& name = "paint") {
    auto m = writer10test::material("def_material", name);
    m->setVertexFormat(v.getFormat());
    return m;
}

inline model::Ptr<model::RenderNode> meshNode(const std::string& name, const model::Ptr<model::Node>& parent,
                                             const model::Ptr<model::BaseMaterial>& material,
                                             model::Vertices vertices, model::Indices indices) {
    auto node = make<model::RenderNode>("model::RenderNode", name);
    node->setParent(0, parent);
    node->setMaterial(material);
    node->replaceGeometry(std::move(vertices), std::move(indices));
    return node;
}

inline std::vector<float> attributeData(const model::Vertices& v, std::uint32_t semantic) {
    const model::VertexAttribute* a = v.findAttribute(semantic);
    return a ? a->data : std::vector<float>{};
}

}  // namespace vertexpasstest
