#pragma once
// model::ShellNode: a collision mesh under one control node.
//
// Contract:
//  - Vertex data and indices as given (the Python front provides POSITION0
//    with three components). getVertices()/getIndices() have mutable forms
//    for the vertex passes.
//  - transformGeometry(0, M) applies M to every vertex (positions as points,
//    normals and tangent frames as directions) and returns true.
//  - isEmpty(): no vertices or no indices.
//  - getType() 13, visitor slot ShellNode.

#include "Indices.h"
#include "SharedWithImages.h"
#include "Vertices.h"
#include "nodes/BaseShellNode.h"

namespace model {

class ShellNode : public BaseShellNode {
public:
    ShellNode() = default;
    ShellNode(const ShellNode&) = default;
    ~ShellNode() override = default;

    const Vertices& getVertices() const noexcept { return vertices_; }
    Vertices& getVertices() noexcept { return vertices_; }
    void setVertices(Vertices vertices) { vertices_ = std::move(vertices); }
    const Indices& getIndices() const noexcept { return indices_.get(); }
    Indices& getIndices() { return indices_.edit(); }
    // The indices as they are now, for a file image to write later.
    std::shared_ptr<const Indices> shareIndices() const noexcept { return indices_.share(); }
    void setIndices(Indices indices) { indices_ = std::move(indices); }

    bool transformGeometry(std::size_t parentIndex, const Matrix44d& m) override;
    bool takesGeometryTransform(std::size_t parentIndex) const override;
    bool isEmpty() const override;

    NodeType getType() const override { return NodeType::ShellNode; }
    void accept(INodeVisitor& visitor) override;
    void accept(INodeVisitor& visitor) const override;

private:
    Vertices vertices_;
    SharedWithImages<Indices> indices_;
};

}  // namespace model
