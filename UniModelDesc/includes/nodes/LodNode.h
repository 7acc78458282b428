#pragma once
// model::LodNode: a level-of-detail switch; child i is shown in range i.
//
// Contract:
//  - Ranges are pairs of doubles (lower, upper), kept in the order given
//    (the Python front stores squared distances); nothing checks them.
//  - protectsChildren() is true: the optimisers never remove, replace or
//    move its children. Optimiser kind 1.
//  - getType() 9, visitor slot LodNode.

#include <vector>

#include "Node.h"

namespace model {

struct LodRange {
    double lower = 0.0;
    double upper = 0.0;
    friend bool operator==(const LodRange&, const LodRange&) = default;
};

class LodNode : public Node {
public:
    LodNode() = default;
    LodNode(const LodNode&) = default;
    ~LodNode() override = default;

    const std::vector<LodRange>& getRanges() const noexcept { return ranges_; }
    void setRanges(std::vector<LodRange> ranges) { ranges_ = std::move(ranges); }

    std::uint32_t getOptimizerKind() const override { return kKeepsPlace; }
    bool protectsChildren() const override { return true; }

    NodeType getType() const override { return NodeType::LodNode; }
    void accept(INodeVisitor& visitor) override;
    void accept(INodeVisitor& visitor) const override;

private:
    std::vector<LodRange> ranges_;
};

}  // namespace model
