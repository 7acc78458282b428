#pragma once
// model::BillboardNode: a transform node that the renderer turns towards the
// viewer.
//
// Contract:
//  - A new node holds version 1 (as its "__VERSION__" property).
//  - Two billboard settings, 32-bit each and 0 by default; files store only
//    their low byte. The axis is three doubles, (0, 0, 0) by default. The
//    meaning of both is the renderer's; this library copies and writes them.
//  - It keeps its place under its transform: optimiser kind 1, and
//    mergeTransform() does nothing. takeTransform() is the transform node's.
//  - getType() 12, visitor slot BillboardNode.

#include <array>
#include <cstdint>

#include "nodes/TransformNode.h"

namespace model {

class BillboardNode : public TransformNode {
public:
    BillboardNode();
    BillboardNode(const BillboardNode&) = default;
    ~BillboardNode() override = default;

    std::uint32_t getBillboardSetting1() const noexcept { return setting1_; }
    void setBillboardSetting1(std::uint32_t value) noexcept { setting1_ = value; }
    std::uint32_t getBillboardSetting2() const noexcept { return setting2_; }
    void setBillboardSetting2(std::uint32_t value) noexcept { setting2_ = value; }

    const std::array<double, 3>& getAxis() const noexcept { return axis_; }
    void setAxis(const std::array<double, 3>& axis) noexcept { axis_ = axis; }

    std::uint32_t getOptimizerKind() const override { return kKeepsPlace; }
    void mergeTransform(const Matrix44d&) override {}

    NodeType getType() const override { return NodeType::BillboardNode; }
    void accept(INodeVisitor& visitor) override;
    void accept(INodeVisitor& visitor) const override;

private:
    std::uint32_t setting1_ = 0;
    std::uint32_t setting2_ = 0;
    std::array<double, 3> axis_{0.0, 0.0, 0.0};
};

}  // namespace model
