#pragma once
// model::FakeSpotLightsNode and model::AnimatedFakeSpotLightsNode: sets of
// directed glowing sprites drawn by one render node (nodes/FakeLightsNode.h
// holds what they share with the omni sets). Version 1.
//
// Contract:
//  - A parent entry is a parent link and the direction the lights of that
//    parent shine in, (0, 0, 0) by default. getDirection/setDirection raise
//    std::out_of_range past the entries.
//  - transformGeometry(i, M) also turns entry i's direction by M (length
//    kept).
//  - A light is what an omni light is, plus a back side rectangle and
//    whether the back side is drawn.
//  - getType() 20 / 22, visitor slots FakeSpotLightsNode /
//    AnimatedFakeSpotLightsNode.

#include <array>
#include <cstdint>
#include <vector>

#include <osg/Vec2f>
#include <osg/Vec3f>

#include "nodes/FakeLightsNode.h"

namespace model {

struct FakeSpotLight {
    std::array<double, 3> position{0.0, 0.0, 0.0};
    // Texture rectangle corners as (u, 1 - v).
    osg::Vec2f uvStart{0.0f, 0.0f};
    osg::Vec2f uvEnd{0.0f, 0.0f};
    float size = 0.0f;
    std::uint32_t parentIndex = 0;
    // Back side rectangle, stored as the front one.
    osg::Vec2f backUvStart{0.0f, 0.0f};
    osg::Vec2f backUvEnd{0.0f, 0.0f};
    std::uint8_t backSide = 0;

    friend bool operator==(const FakeSpotLight& a, const FakeSpotLight& b) {
        return a.position == b.position && a.uvStart == b.uvStart && a.uvEnd == b.uvEnd && a.size == b.size &&
               a.parentIndex == b.parentIndex && a.backUvStart == b.backUvStart && a.backUvEnd == b.backUvEnd &&
               a.backSide == b.backSide;
    }
};

struct FakeSpotParentEntry {
    Ptr<Node> node;
    osg::Vec3f direction{0.0f, 0.0f, 0.0f};

    friend bool operator==(const FakeSpotParentEntry& a, const FakeSpotParentEntry& b) {
        return a.node == b.node && a.direction == b.direction;
    }
};

inline Ptr<Node>& entryNode(FakeSpotParentEntry& entry) noexcept { return entry.node; }
inline const Ptr<Node>& entryNode(const FakeSpotParentEntry& entry) noexcept { return entry.node; }
// The direction is given in the parent's space too: once the lights leave
// that space it has to turn with them.
void transformEntry(FakeSpotParentEntry& entry, const Matrix44d& m);

class FakeSpotLightsNode : public FakeLightsNode<FakeSpotLight, FakeSpotParentEntry> {
public:
    FakeSpotLightsNode();
    FakeSpotLightsNode(const FakeSpotLightsNode& other);
    ~FakeSpotLightsNode() override;

    const osg::Vec3f& getDirection(std::size_t index) const;
    void setDirection(std::size_t index, const osg::Vec3f& direction);

    NodeType getType() const override { return NodeType::FakeSpotLightsNode; }
    void accept(INodeVisitor& visitor) override;
    void accept(INodeVisitor& visitor) const override;
};

class AnimatedFakeSpotLightsNode : public AnimatedFakeLights<FakeSpotLightsNode> {
public:
    AnimatedFakeSpotLightsNode();
    AnimatedFakeSpotLightsNode(const AnimatedFakeSpotLightsNode& other);
    ~AnimatedFakeSpotLightsNode() override;

    NodeType getType() const override { return NodeType::AnimatedFakeSpotLightsNode; }
    void accept(INodeVisitor& visitor) override;
    void accept(INodeVisitor& visitor) const override;
};

}  // namespace model
