#pragma once
// model::FakeOmniLightsNode and model::AnimatedFakeOmniLightsNode: sets of
// glowing sprites drawn by one render node (nodes/FakeLightsNode.h holds
// what they share with the spot sets).
//
// Contract:
//  - A parent entry is the parent link alone; getParents()/setParents() are
//    the entries under their plain name.
//  - A light is a position relative to its parent, a texture rectangle and
//    a size.
//  - getType() 19 / 21, visitor slots FakeOmniLightsNode /
//    AnimatedFakeOmniLightsNode.

#include <array>
#include <cstdint>
#include <vector>

#include <osg/Vec2f>

#include "nodes/FakeLightsNode.h"

namespace model {

struct FakeOmniLight {
    std::array<double, 3> position{0.0, 0.0, 0.0};
    // Texture rectangle corners as (u, 1 - v).
    osg::Vec2f uvStart{0.0f, 0.0f};
    osg::Vec2f uvEnd{0.0f, 0.0f};
    float size = 0.0f;
    std::uint32_t parentIndex = 0;

    friend bool operator==(const FakeOmniLight& a, const FakeOmniLight& b) {
        return a.position == b.position && a.uvStart == b.uvStart && a.uvEnd == b.uvEnd && a.size == b.size &&
               a.parentIndex == b.parentIndex;
    }
};

class FakeOmniLightsNode : public FakeLightsNode<FakeOmniLight, Ptr<Node>> {
public:
    FakeOmniLightsNode();
    FakeOmniLightsNode(const FakeOmniLightsNode& other);
    ~FakeOmniLightsNode() override;

    const std::vector<Ptr<Node>>& getParents() const noexcept { return getParentEntries(); }
    void setParents(std::vector<Ptr<Node>> parents) { setParentEntries(std::move(parents)); }

    NodeType getType() const override { return NodeType::FakeOmniLightsNode; }
    void accept(INodeVisitor& visitor) override;
    void accept(INodeVisitor& visitor) const override;
};

class AnimatedFakeOmniLightsNode : public AnimatedFakeLights<FakeOmniLightsNode> {
public:
    AnimatedFakeOmniLightsNode();
    AnimatedFakeOmniLightsNode(const AnimatedFakeOmniLightsNode& other);
    ~AnimatedFakeOmniLightsNode() override;

    NodeType getType() const override { return NodeType::AnimatedFakeOmniLightsNode; }
    void accept(INodeVisitor& visitor) override;
    void accept(INodeVisitor& visitor) const override;
};

}  // namespace model
