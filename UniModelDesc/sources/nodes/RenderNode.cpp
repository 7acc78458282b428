#include "nodes/RenderNode.h"

#include "INodeVisitor.h"
#include "nodes/GeometryTransform.h"

namespace model {

RenderNode::RenderNode() : entries_(1) {}
RenderNode::RenderNode(const RenderNode& other) = default;
RenderNode::~RenderNode() = default;

Ptr<Node> RenderNode::getParent(std::size_t index) const {
    checkParentIndex(index, entries_.size());
    return entries_[index].node;
}

const Node* RenderNode::parentNode(std::size_t index) const {
    checkParentIndex(index, entries_.size());
    return entries_[index].node.get();
}

void RenderNode::setParent(std::size_t index, const Ptr<Node>& node) {
    checkParentIndex(index, entries_.size());
    entries_[index].node = node;
}

std::uint32_t RenderNode::getDamageArgument(std::size_t index) const {
    checkParentIndex(index, entries_.size());
    return entries_[index].damageArgument;
}

void RenderNode::setDamageArgument(std::size_t index, std::uint32_t argument) {
    checkParentIndex(index, entries_.size());
    entries_[index].damageArgument = argument;
}

BoundingBox RenderNode::getParentBox(std::size_t index) const {
    checkParentIndex(index, entries_.size());
    return entries_[index].box;
}

void RenderNode::setParentEntries(std::vector<RenderParentEntry> entries) {
    entries_ = std::move(entries);
    updateBoxes();
}

std::size_t RenderNode::addParentEntry(const Ptr<Node>& node, std::uint32_t damageArgument) {
    entries_.push_back(RenderParentEntry{node, damageArgument, BoundingBox()});
    updateBoxes();
    return entries_.size() - 1;
}

void RenderNode::updateBoxes() {
    for (RenderParentEntry& e : entries_) e.box = BoundingBox();
    const VertexAttribute* positions = getVertices().findAttribute(POSITION0);
    if (!positions || positions->components < 3 || entries_.empty()) return;
    if (positions->components == 3) {
        const BoundingBox all = geometry::positionsBox(getVertices());
        for (RenderParentEntry& e : entries_) e.box = all;
        return;
    }
    // The parent index rounds half away from zero: to entry i from (i - 0.5,
    // i + 0.5), -0.5 itself to none. Tested on those bounds and rounded in
    // double, where the sums are exact, this costs no call per vertex.
    const double past = static_cast<double>(entries_.size()) - 0.5;
    const std::size_t rows = positions->rowCount();
    for (std::size_t v = 0; v < rows; ++v) {
        const float* row = positions->data.data() + v * positions->components;
        const double index = row[3];
        // Vertices naming no entry belong to nobody.
        if (!(index > -0.5 && index < past)) continue;
        entries_[static_cast<std::size_t>(index + 0.5)].box.expand(row[0], row[1], row[2]);
    }
}

void RenderNode::forEachArgument(const ArgumentCallback& callback) const {
    BaseMeshRenderNode::forEachArgument(callback);
    for (const RenderParentEntry& e : entries_)
        if (e.damageArgument != kNoArgument) callback(e.damageArgument);
}

void RenderNode::accept(INodeVisitor& visitor) { visitor.visit(*this); }
void RenderNode::accept(INodeVisitor& visitor) const { visitor.visit(*this); }

}  // namespace model
