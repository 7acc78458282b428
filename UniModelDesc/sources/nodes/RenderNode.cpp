#include "nodes/RenderNode.h"

#include <algorithm>
#include <bit>
#include <cstdint>

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
    const std::size_t rows = positions->rowCount(), step = positions->components;
    const float* data = positions->data.data();
    for (std::size_t v = 0; v < rows;) {
        const std::uint32_t bits = std::bit_cast<std::uint32_t>(data[v * step + 3]);
        const double index = data[v * step + 3];
        // Vertices naming no entry belong to nobody.
        if (!(index > -0.5 && index < past)) {
            ++v;
            continue;
        }
        // A merged node holds its members' rows one after the other, so the
        // rows of an entry come in runs (equal fourth floats): a run's
        // extremes are kept in registers and stored into the box once.
        BoundingBox& box = entries_[static_cast<std::size_t>(index + 0.5)].box;
        float lo[3] = {box.minimum.x(), box.minimum.y(), box.minimum.z()};
        float hi[3] = {box.maximum.x(), box.maximum.y(), box.maximum.z()};
        do {
            const float* row = data + v * step;
            for (int a = 0; a < 3; ++a) {
                lo[a] = std::min(lo[a], row[a]);
                hi[a] = std::max(hi[a], row[a]);
            }
        } while (++v < rows && std::bit_cast<std::uint32_t>(data[v * step + 3]) == bits);
        box.minimum.set(lo[0], lo[1], lo[2]);
        box.maximum.set(hi[0], hi[1], hi[2]);
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
