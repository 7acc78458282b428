#pragma once
// model::BaseRenderNode: the common base of everything the renderer draws
// (meshes, skinned meshes, number displays, fake light sets).
//
// Contract:
//  - getMaterial(): the node's material, shared with other nodes that use
//    it; null for a new node. The writers refuse a node without one.
//  - forEachArgument(): the node's own argument-driven properties, then the
//    material's, then the node's further argument sources (each class lists
//    them).
//  - getParentBox(i): the box of the geometry that hangs off parent i, in
//    that parent's space; empty when there is none. std::out_of_range for
//    i >= getNumParents().

#include <cstddef>

#include "BaseMaterial.h"
#include "BaseNode.h"
#include "Node.h"
#include "nodes/BoundingBox.h"

namespace model {

class BaseRenderNode : public BaseNode {
public:
    ~BaseRenderNode() override;

    const Ptr<BaseMaterial>& getMaterial() const noexcept { return material_; }
    void setMaterial(const Ptr<BaseMaterial>& material);

    void forEachArgument(const ArgumentCallback& callback) const override;

    virtual BoundingBox getParentBox(std::size_t index) const = 0;

protected:
    BaseRenderNode();
    BaseRenderNode(const BaseRenderNode& other);

private:
    Ptr<BaseMaterial> material_;
};

}  // namespace model
