#pragma once
// pytav::FixedMaterialRenderNode: the common part of the render nodes whose
// material is fixed by their class (ColorNode, MirrorNode, DeckNode).
//
// Contract:
//  - The constructor makes a "model::RenderNode" through the class registry,
//    named `nodeName`, and a material (PropertiesSet) named `materialTitle`
//    with the material name `materialName`, which the node holds at once.
//    The material's vertex format and the wrapper's vertex map are set from
//    `attributes` (semantic, components); every listed attribute starts
//    empty.
//  - setPositions(xyz): appends one POSITION0 row (x, y, z, 0) per three
//    values; the fourth component selects parent entry 0. A count that is
//    not a multiple of three raises std::invalid_argument (ValueError) and
//    changes nothing. setNormals() and setIndices() replace the normals and
//    the indices (each class binds the three with its argument types).
//  - replaceAttribute(semantic, data): the attribute's data := data.
//  - Builds use the checks below, each returning the empty text or a
//    message for the script:
//      checkAttributesSet(skip): "Vetex attribute {} isn't set." for the
//        first empty attribute of the table, in table order, except those
//        listed in `skip`;
//      checkGeometry(vertices): every attribute holds whole rows for the
//        vertex count of POSITION0 ("Vertex attribute {} has {} values,
//        expected {} for {} vertices."), then every index is below that
//        count ("Index {} is out of range for {} vertices.");
//      takeGeometry(vertices): hands the vertex data and indices to the
//        model node ("Vertex data doesn't match the material's vertex
//        format." when it refuses them).
//  - getModelNode() returns the model node once a build succeeded (the
//    derived build calls markBuilt()), null before.
//  - bindFixedMaterialNode<N, Floats>(m, name) binds the Python class `name`
//    declared before with its (node name, material title) constructor and
//    setPositions and setNormals taking Floats (a NumPy FloatArray or a
//    float list); the caller adds the rest.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "NumpyArrays.h"
#include "PropertiesSet.h"
#include "PyRenderNode.h"
#include "ScriptTypeNames.h"
#include "Vertices.h"
#include "nodes/RenderNode.h"

namespace pytav {

using AttributeTable = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

class FixedMaterialRenderNode : public IRenderNode {
public:
    ~FixedMaterialRenderNode() override;

    model::Ptr<model::BaseRenderNode> getModelNode() const override;
    std::string getNodeName() const override { return node_->getName(); }

    void setPositions(std::vector<float> xyz);
    void setNormals(std::vector<float> normals) { replaceAttribute(model::NORMAL0, std::move(normals)); }
    void setIndices(std::vector<std::uint32_t> indices) { indices_ = std::move(indices); }

protected:
    FixedMaterialRenderNode(const std::string& nodeName, const std::string& materialTitle,
                            const char* materialName, AttributeTable attributes);

    void replaceAttribute(std::uint32_t semantic, std::vector<float> data);

    std::string checkAttributesSet(std::initializer_list<std::uint32_t> skip = {}) const;
    std::string checkGeometry(const model::Vertices& vertices) const;
    std::string takeGeometry(model::Vertices vertices);
    void markBuilt() noexcept { built_ = true; }

    model::RenderNode& node() const noexcept { return *node_; }
    model::PropertiesSet& material() const noexcept { return *material_; }
    const model::Vertices& vertices() const noexcept { return vertices_; }
    const std::vector<std::uint32_t>& indices() const noexcept { return indices_; }

private:
    model::Ptr<model::RenderNode> node_;
    model::Ptr<model::PropertiesSet> material_;
    AttributeTable attributes_;
    model::Vertices vertices_;
    std::vector<std::uint32_t> indices_;
    bool built_ = false;
};

namespace detail {

inline std::vector<float> floatList(const FloatArray& array) { return toFloatList(array); }
inline std::vector<float> floatList(std::vector<float> list) { return list; }

}  // namespace detail

template <class N, class Floats>
pybind11::class_<N, IRenderNode> bindFixedMaterialNode(pybind11::module_& m, const char* name) {
    pybind11::class_<N, IRenderNode> cls(m.attr(name));
    cls.def(pybind11::init<const std::string&, const std::string&>(), pybind11::arg("name"), pybind11::arg("material"),
            "A render node with a fixed material.")
        .def("setPositions", [](N& self, const Floats& xyz) { self.setPositions(detail::floatList(xyz)); },
             pybind11::arg("positions"), "Sets the positions, three floats per vertex.")
        .def("setNormals", [](N& self, const Floats& normals) { self.setNormals(detail::floatList(normals)); },
             pybind11::arg("normals"), "Sets the normals, three floats per vertex.");
    return cls;
}

}  // namespace pytav
