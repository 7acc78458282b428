#pragma once
// model::ShellSkinNode: a collision mesh skinned to bones.
//
// Contract:
//  - Its parents are its bones: getNumParents() is the bone count, and
//    getParent/setParent index the bone list (std::out_of_range past it).
//    setNumParents(n) resizes the list (new entries null).
//  - getDamageArgument(): an argument number, kNoArgument (0xFFFFFFFF) by
//    default; reported by forEachArgument() when set.
//  - getBoundingBox(): kept as set, empty by default; files hold it only
//    when valid.
//  - transformGeometry() accepts nothing. isEmpty(): no vertices or no
//    indices. getType() 24, visitor slot ShellSkinNode.

#include <cstdint>
#include <vector>

#include "Indices.h"
#include "SharedWithImages.h"
#include "Vertices.h"
#include "nodes/BaseShellNode.h"
#include "nodes/BoundingBox.h"

namespace model {

class ShellSkinNode : public BaseShellNode {
public:
    ShellSkinNode() = default;
    ShellSkinNode(const ShellSkinNode&) = default;
    ~ShellSkinNode() override = default;

    std::size_t getNumParents() const override { return bones_.size(); }
    Ptr<Node> getParent(std::size_t index) const override;
    void setParent(std::size_t index, const Ptr<Node>& node) override;
    void setNumParents(std::size_t count) { bones_.resize(count); }
    const std::vector<Ptr<Node>>& getBones() const noexcept { return bones_; }
    void setBones(std::vector<Ptr<Node>> bones) { bones_ = std::move(bones); }

    std::uint32_t getDamageArgument() const noexcept { return damageArgument_; }
    void setDamageArgument(std::uint32_t argument) noexcept { damageArgument_ = argument; }

    const BoundingBox& getBoundingBox() const noexcept { return box_; }
    void setBoundingBox(const BoundingBox& box) noexcept { box_ = box; }

    const Vertices& getVertices() const noexcept { return vertices_; }
    Vertices& getVertices() noexcept { return vertices_; }
    void setVertices(Vertices vertices) { vertices_ = std::move(vertices); }
    const Indices& getIndices() const noexcept { return indices_.get(); }
    Indices& getIndices() { return indices_.edit(); }
    // The indices as they are now, for a file image to write later.
    std::shared_ptr<const Indices> shareIndices() const noexcept { return indices_.share(); }
    void setIndices(Indices indices) { indices_ = std::move(indices); }

    bool isEmpty() const override;
    void forEachArgument(const ArgumentCallback& callback) const override;

    NodeType getType() const override { return NodeType::ShellSkinNode; }
    void accept(INodeVisitor& visitor) override;
    void accept(INodeVisitor& visitor) const override;

private:
    std::vector<Ptr<Node>> bones_;
    std::uint32_t damageArgument_ = kNoArgument;
    BoundingBox box_;
    Vertices vertices_;
    SharedWithImages<Indices> indices_;
};

}  // namespace model
