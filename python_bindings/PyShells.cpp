// Python classes SegmentsNode and ShellNode.

#include "PyShells.h"

#include <cmath>
#include <stdexcept>

#include <fmt/format.h>
#include "ScriptTypeNames.h"

#include "Bindings.h"
#include "FiniteArguments.h"
#include "utils/FiniteVertexData.h"
#include "ClassRegistry.h"
#include "PyRenderNode.h"
#include "Vertices.h"

namespace py = pybind11;

namespace pytav {

namespace {

constexpr std::uint32_t kShellPositionComponents = 3;

osg::Vec3f toVec(const PyPoint& p) { return osg::Vec3f(std::get<0>(p), std::get<1>(p), std::get<2>(p)); }

}  // namespace

SegmentsNode::SegmentsNode(const std::string& name)
    : node_(model::ClassRegistry::make<model::SegmentsNode>("model::SegmentsNode")) {
    node_->setName(name);
}

SegmentsNode::~SegmentsNode() = default;

void SegmentsNode::set(const std::vector<PySegment>& segments) {
    std::vector<model::Segment> records;
    records.reserve(segments.size());
    for (const auto& [start, end] : segments) {
        const auto& [x0, y0, z0] = start;
        const auto& [x1, y1, z1] = end;
        requireFinite(allFinite(x0, y0, z0, x1, y1, z1), "Segment");
        records.push_back({toVec(start), toVec(end)});
    }
    node_->setSegments(std::move(records));
}

void SegmentsNode::setControlNode(const Node& node) { node_->setParent(0, node.getModelNode()); }

IShellNode::~IShellNode() = default;

ShellNode::ShellNode(const std::string& name) : node_(model::ClassRegistry::make<model::ShellNode>("model::ShellNode")) {
    node_->setName(name);
    components_[model::POSITION0] = kShellPositionComponents;
    attributes_[model::POSITION0];
}

ShellNode::~ShellNode() = default;

void ShellNode::setIndices(const std::vector<std::uint32_t>& indices) { indices_ = indices; }

void ShellNode::setPositions(const std::vector<float>& positions) {
    // A partial vertex would leave vertex data the writer can't interleave.
    if (positions.size() % kShellPositionComponents != 0)
        throw std::invalid_argument(
            fmt::format("Positions must hold 3 values per vertex; {} values given.", positions.size()));
    attributes_[model::POSITION0] = positions;
}

void ShellNode::setControlNode(const Node& node) { node_->setParent(0, node.getModelNode()); }

std::string ShellNode::build() {
    for (const auto& [semantic, data] : attributes_) {
        if (data.empty()) return fmt::format("Vetex attribute {} isn't set.", model::semanticName(semantic));
    }
    if (indices_.empty()) return "Indices aren't set.";

    for (const auto& [semantic, data] : attributes_) {
        for (const float value : data)
            if (!std::isfinite(value)) return model::utils::nonFiniteVertexDataMessage(node_->getName());
    }

    const std::size_t vertexCount = attributes_[model::POSITION0].size() / kShellPositionComponents;
    if (std::string message = checkIndexRange(indices_, vertexCount); !message.empty()) return message;

    model::Vertices vertices(components_);
    for (const auto& [semantic, data] : attributes_) vertices.setAttribute(semantic, components_[semantic], data);
    model::Indices indices;
    indices.indices = indices_;
    node_->setVertices(std::move(vertices));
    node_->setIndices(std::move(indices));
    return {};
}

// --- Python classes ----------------------------------------------------

void declareShells(py::module_& m) {
    py::class_<SegmentsNode>(m, "SegmentsNode");
    py::class_<ShellNode>(m, "ShellNode");
}

void bindShells(py::module_& m) {
    py::class_<SegmentsNode>(m.attr("SegmentsNode"))
        .def(py::init<const std::string&>(), py::arg("name"), "A set of line segments.")
        .def("set", &SegmentsNode::set, py::arg("segments"), "Sets the segments, each a pair of end points.")
        .def("setControlNode", &SegmentsNode::setControlNode, py::arg("node"), "Hangs the segments below node.");

    py::class_<ShellNode>(m.attr("ShellNode"))
        .def(py::init<const std::string&>(), py::arg("name"), "A collision shell.")
        .def("setIndices", &ShellNode::setIndices, py::arg("indices"), "Sets the triangle indices.")
        .def("setPositions", &ShellNode::setPositions, py::arg("positions"),
             "Sets the positions, three floats per vertex.")
        .def("setControlNode", &ShellNode::setControlNode, py::arg("node"), "Hangs the shell below node.");
}

}  // namespace pytav
