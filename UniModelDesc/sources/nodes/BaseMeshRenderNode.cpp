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

bool BaseMeshRenderNode::transformGeometry(std::size_t parentIndex, const Matrix44d& m) {
    checkParentIndex(parentIndex, getNumParents());
    editGeometry([&](Vertices& vertices, Indices&) {
        // The selection reads the fourth components, which the transform
        // leaves as they are (and in place, so the pointer stays valid).
        const VertexAttribute* positions = vertices.findAttribute(POSITION0);
        if (!positions || positions->components < 3) return;
        if (positions->components == 3) {
            geometry::transformVertices(vertices, m, [](std::size_t) { return true; });
            return;
        }
        const float wanted = static_cast<float>(parentIndex);
        geometry::transformVertices(vertices, m, [positions, wanted](std::size_t v) {
            const std::size_t at = v * positions->components + 3;
            return at < positions->data.size() && std::round(positions->data[at]) == wanted;
        });
    });
    return true;
}

}  // namespace model
