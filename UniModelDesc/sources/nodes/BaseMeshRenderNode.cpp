#include "nodes/BaseMeshRenderNode.h"

#include <cmath>

#include "PropertiesSet.h"
#include "nodes/GeometryTransform.h"

namespace model {

BaseMeshRenderNode::BaseMeshRenderNode() = default;
BaseMeshRenderNode::BaseMeshRenderNode(const BaseMeshRenderNode& other) = default;
BaseMeshRenderNode::~BaseMeshRenderNode() = default;

bool BaseMeshRenderNode::setGeometry(Vertices vertices, Indices indices) {
    const auto* material = dynamic_cast<const PropertiesSet*>(getMaterial().get());
    if (!material || !vertices.matchesFormat(material->getVertexFormat())) return false;
    replaceGeometry(std::move(vertices), std::move(indices));
    return true;
}

void BaseMeshRenderNode::replaceGeometry(Vertices vertices, Indices indices) {
    vertices_ = std::move(vertices);
    indices_ = std::move(indices);
    onVerticesChanged();
}

void BaseMeshRenderNode::editGeometry(const std::function<void(Vertices&, Indices&)>& edit) {
    // Derived data must follow even when the edit gives up half-way.
    struct Refresh {
        BaseMeshRenderNode& node;
        ~Refresh() { node.onVerticesChanged(); }
    } refresh{*this};
    edit(vertices_.edit(), indices_.edit());
}

void BaseMeshRenderNode::editAttributes(const std::function<void(Vertices&, Indices&)>& edit) {
    // The boxes are read from the positions alone, and reading them again
    // costs a pass over every position of the mesh.
    struct Positions {
        const float* data;
        std::size_t size;
        std::uint32_t components;
        explicit Positions(const Vertices& v) {
            const VertexAttribute* a = v.findAttribute(POSITION0);
            data = a ? a->data.data() : nullptr;
            size = a ? a->data.size() : 0;
            components = a ? a->components : 0;
        }
        bool operator==(const Positions&) const = default;
    };
    struct Refresh {
        BaseMeshRenderNode& node;
        const Positions before;
        ~Refresh() {
            if (!(Positions(node.vertices_.get()) == before)) node.onVerticesChanged();
        }
    } refresh{*this, Positions(vertices_.get())};
    edit(vertices_.edit(), indices_.edit());
}

std::size_t BaseMeshRenderNode::primitiveCount(std::uint32_t kind, std::size_t n) noexcept {
    namespace pk = primitive_kind;
    switch (kind) {
        case pk::kPointList: return n;
        case pk::kLineList: return n / 2;
        case pk::kLineStrip: return n > 0 ? n - 1 : 0;
        case pk::kTriangleList: return n / 3;
        case pk::kTriangleStrip:
        case pk::kTriangleFan: return n > 2 ? n - 2 : 0;
        default: return 0;
    }
}

std::size_t BaseMeshRenderNode::getPrimitiveCount() const noexcept {
    return primitiveCount(indices_.get().primitiveKind, indices_.get().indices.size());
}

bool BaseMeshRenderNode::vertexBelongsToParent(const Vertices& vertices, std::size_t vertex, std::size_t parent) {
    const VertexAttribute* positions = vertices.findAttribute(POSITION0);
    if (!positions || positions->components < 3) return false;
    if (positions->components == 3) return true;
    const std::size_t at = vertex * positions->components + 3;
    if (at >= positions->data.size()) return false;
    const float index = std::round(positions->data[at]);
    return index >= 0.0f && index == static_cast<float>(parent);
}

bool BaseMeshRenderNode::takesGeometryTransform(std::size_t parentIndex) const {
    checkParentIndex(parentIndex, getNumParents());
    return true;
}

bool BaseMeshRenderNode::transformGeometry(std::size_t parentIndex, const Matrix44d& m) {
    checkParentIndex(parentIndex, getNumParents());
    editGeometry([&](Vertices& vertices, Indices&) {
        // The selection reads the fourth components, which the transform
        // leaves as they are (and in place, so the pointer stays valid).
        const VertexAttribute* positions = vertices.findAttribute(POSITION0);
        if (!positions || positions->components < 3) return;
        if (positions->components == 3) {
            geometry::transformVertices(vertices, m);
            return;
        }
        // A vertex is the parent's when its fourth component rounds (half
        // away from zero) to the index: it lies in [i - 0.5, i + 0.5), but
        // above -0.5 for index 0. The bounds are exact in double, so no
        // rounding call is needed per vertex.
        const double low = static_cast<double>(parentIndex) - 0.5, high = low + 1.0;
        const bool lowIncluded = parentIndex > 0;
        const float* fourth = positions->data.data() + 3;
        const std::size_t step = positions->components, rows = positions->rowCount();
        // Other attributes may hold more rows than the positions.
        const auto selected = [=](std::size_t v) {
            if (v >= rows) return false;
            const double w = fourth[v * step];
            return w < high && (w > low || (lowIncluded && w == low));
        };
        std::size_t taken = 0;
        for (std::size_t v = 0; v < rows; ++v) taken += selected(v);
        bool longer = false;
        for (const auto& [code, a] : vertices.getAttributes()) longer = longer || a.rowCount() > rows;
        if (taken == rows && !longer)
            geometry::transformVertices(vertices, m);
        else if (taken > 0)
            geometry::transformVertices(vertices, m, selected);
    });
    return true;
}

}  // namespace model
