// The Python class IRenderNode and the checks shared by render-node wrappers.

#include "PyRenderNode.h"

#include <fmt/format.h>

#include <pybind11/pybind11.h>

#include "Bindings.h"
#include "qz/ExtException.h"

namespace py = pybind11;

namespace pytav {

std::string checkIndexRange(const std::vector<std::uint32_t>& indices, std::size_t vertexCount) {
    for (std::uint32_t index : indices) {
        if (index >= vertexCount) return fmt::format("Index {} is out of range for {} vertices.", index, vertexCount);
    }
    return {};
}

IRenderNode::~IRenderNode() = default;

std::string IRenderNode::build() { QZ_THROW("Calling pure virtual function."); }

model::Ptr<model::BaseRenderNode> IRenderNode::getModelNode() const { return {}; }

std::string IRenderNode::getNodeName() const { return {}; }

void declareRenderNode(py::module_& m) {
    py::class_<IRenderNode>(m, "IRenderNode").def(py::init<>(), "The common base of render nodes.");
}

}  // namespace pytav
