#pragma once
// model::RenderNode: a mesh drawn under one or more tree nodes.
//
// Contract:
//  - Parent entries: a parent link, a damage argument (kNoArgument,
//    0xFFFFFFFF, means none) and the box of the vertices that belong to that
//    parent. A new node has one entry with a null parent.
//  - The box of entry i is always the box of the positions (x, y, z) of the
//    vertices whose fourth position component rounds to i (of all vertices
//    when positions have three components); it is recomputed whenever the
//    vertex data or the entry list changes, so it can't be set directly.
//  - getParent/setParent/getDamageArgument/setDamageArgument/getParentBox
//    raise std::out_of_range for an index past the entries.
//  - forEachArgument(): properties, material, then each entry's damage
//    argument when set.
//  - getType() 11, visitor slot RenderNode.

#include <cstdint>
#include <vector>

#include "nodes/BaseMeshRenderNode.h"

namespace model {

struct RenderParentEntry {
    Ptr<Node> node;
    std::uint32_t damageArgument = kNoArgument;
    BoundingBox box;
};

class RenderNode : public BaseMeshRenderNode {
public:
    RenderNode();
    RenderNode(const RenderNode& other);
    ~RenderNode() override;

    std::size_t getNumParents() const override { return entries_.size(); }
    Ptr<Node> getParent(std::size_t index) const override;
    const Node* parentNode(std::size_t index) const override;
    void setParent(std::size_t index, const Ptr<Node>& node) override;

    std::uint32_t getDamageArgument(std::size_t index) const;
    void setDamageArgument(std::size_t index, std::uint32_t argument);
    BoundingBox getParentBox(std::size_t index) const override;

    const std::vector<RenderParentEntry>& getParentEntries() const noexcept { return entries_; }
    // Replaces the entries (their boxes are recomputed from the vertices).
    void setParentEntries(std::vector<RenderParentEntry> entries);
    // Appends an entry; returns its index.
    std::size_t addParentEntry(const Ptr<Node>& node, std::uint32_t damageArgument = kNoArgument);

    void forEachArgument(const ArgumentCallback& callback) const override;

    NodeType getType() const override { return NodeType::RenderNode; }
    void accept(INodeVisitor& visitor) override;
    void accept(INodeVisitor& visitor) const override;

protected:
    void onVerticesChanged() override { updateBoxes(); }

private:
    void updateBoxes();

    std::vector<RenderParentEntry> entries_;
};

}  // namespace model
