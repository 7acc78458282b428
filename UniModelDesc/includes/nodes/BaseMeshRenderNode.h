#pragma once
// model::BaseMeshRenderNode: a render node drawn from vertex data and
// indices (render nodes, number nodes, skinned meshes).
//
// Contract:
//  - setGeometry(vertices, indices) takes both only when the vertex data
//    matches the vertex format of the node's material (a PropertiesSet); it
//    returns false and changes nothing otherwise (no material, a material
//    without a vertex format, or a mismatch).
//  - replaceGeometry() takes them unchecked, for passes that keep the
//    material in step themselves; editGeometry(fn) lets fn change both in
//    place. Every change of the vertex data goes through one of these three
//    (or transformGeometry), so that data derived from the vertices (the
//    per-parent boxes of render nodes) is recomputed each time.
//  - editAttributes(fn) is editGeometry for edits of other lists than the
//    positions (texture coordinates, say): fn must not change POSITION0's
//    values. The derived data is then left as it is, unless fn replaced,
//    resized or removed the positions' list, which recomputes it as
//    editGeometry does.
//  - The indices alone may be changed through getIndices() (they do not
//    affect derived data). shareIndices() gives a file image its hold on
//    the current list, shareVertices() on the vertex data; a change after
//    that goes to a copy (see SharedWithImages.h).
//  - getPrimitiveCount(): by primitive kind with n indices: 0 -> n; 1 -> n/2;
//    2 -> n-1; 5 -> n/3; 6, 7 -> n-2; 3, 4 and kinds above 7 -> 0 (never
//    below 0).
//  - transformGeometry(i, M): applies M to the vertices of parent i (see
//    vertexParentIndex; every vertex when positions have three components):
//    positions as points, normals and tangent frames as directions. Returns
//    true; std::out_of_range for i >= getNumParents().
//  - vertexBelongsToParent(v, i): with four-component positions, vertex v
//    belongs to the parent its fourth component names (rounded to the
//    nearest integer); with three components, every vertex belongs to every
//    parent; without positions, none does.
//  - hasBackFaces(): whether the node already holds the back faces that a
//    save adds to two-sided meshes (RootNode::prepareMeshes sets it, nodes
//    made from such nodes by the save's passes inherit it, copies keep it),
//    so that saving a model again does not add them a second time.

#include <cstddef>
#include <functional>

#include "Indices.h"
#include "SharedWithImages.h"
#include "Vertices.h"
#include "nodes/BaseRenderNode.h"

namespace model {

class BaseMeshRenderNode : public BaseRenderNode {
public:
    ~BaseMeshRenderNode() override;

    const Vertices& getVertices() const noexcept { return vertices_.get(); }
    const Indices& getIndices() const noexcept { return indices_.get(); }
    Indices& getIndices() { return indices_.edit(); }
    // The indices as they are now, for a file image to write later.
    std::shared_ptr<const Indices> shareIndices() const noexcept { return indices_.share(); }
    std::shared_ptr<const Vertices> shareVertices() const noexcept { return vertices_.share(); }

    bool setGeometry(Vertices vertices, Indices indices);
    void replaceGeometry(Vertices vertices, Indices indices);
    void editGeometry(const std::function<void(Vertices&, Indices&)>& edit);
    void editAttributes(const std::function<void(Vertices&, Indices&)>& edit);

    std::size_t getPrimitiveCount() const noexcept;
    static std::size_t primitiveCount(std::uint32_t kind, std::size_t indexCount) noexcept;

    bool transformGeometry(std::size_t parentIndex, const Matrix44d& m) override;
    bool takesGeometryTransform(std::size_t parentIndex) const override;

    static bool vertexBelongsToParent(const Vertices& vertices, std::size_t vertex, std::size_t parent);

    bool hasBackFaces() const noexcept { return backFaces_; }
    void setHasBackFaces(bool added) noexcept { backFaces_ = added; }

protected:
    BaseMeshRenderNode();
    BaseMeshRenderNode(const BaseMeshRenderNode& other);

    // Called after every change of the vertex data.
    virtual void onVerticesChanged() {}

private:
    SharedWithImages<Vertices> vertices_;
    SharedWithImages<Indices> indices_;
    bool backFaces_ = false;
};

}  // namespace model
