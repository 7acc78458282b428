#pragma once
// model::FakeOmniLightsNode and model::AnimatedFakeOmniLightsNode: sets of
// glowing sprites drawn by one render node.
//
// Contract:
//  - Parents: a list of parent links, one null link for a new node
//    (setNumParents resizes). getParent/setParent raise std::out_of_range past
//    the list.
//  - Lights are kept in the order given; light.parentIndex names the parent
//    the light's position is relative to.
//  - transformGeometry(i, M): applies M (dividing by the homogeneous
//    coordinate) to the position of every light whose parentIndex is i;
//    returns true (std::out_of_range for i past the parents).
//  - getParentBox(i): the box of the positions of the lights of parent i.
//  - The animated set adds an argument (kNoArgument by default, reported by
//    forEachArgument() when set) and its brightness curves: 128 floats per
//    light, light by light.
//  - getType() 19 / 21, visitor slots FakeOmniLightsNode /
//    AnimatedFakeOmniLightsNode.

#include <array>
#include <cstdint>
#include <vector>

#include <osg/Vec2f>

#include "nodes/BaseRenderNode.h"

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

class FakeOmniLightsNode : public BaseRenderNode {
public:
    FakeOmniLightsNode();
    FakeOmniLightsNode(const FakeOmniLightsNode& other);
    ~FakeOmniLightsNode() override;

    std::size_t getNumParents() const override { return parents_.size(); }
    Ptr<Node> getParent(std::size_t index) const override;
    void setParent(std::size_t index, const Ptr<Node>& node) override;
    void setNumParents(std::size_t count) { parents_.resize(count); }
    const std::vector<Ptr<Node>>& getParents() const noexcept { return parents_; }
    void setParents(std::vector<Ptr<Node>> parents) { parents_ = std::move(parents); }

    const std::vector<FakeOmniLight>& getLights() const noexcept { return lights_; }
    void setLights(std::vector<FakeOmniLight> lights) { lights_ = std::move(lights); }

    bool transformGeometry(std::size_t parentIndex, const Matrix44d& m) override;
    BoundingBox getParentBox(std::size_t index) const override;

    NodeType getType() const override { return NodeType::FakeOmniLightsNode; }
    void accept(INodeVisitor& visitor) override;
    void accept(INodeVisitor& visitor) const override;

private:
    std::vector<Ptr<Node>> parents_;
    std::vector<FakeOmniLight> lights_;
};

class AnimatedFakeOmniLightsNode : public FakeOmniLightsNode {
public:
    static constexpr std::size_t kSamplesPerLight = 128;

    AnimatedFakeOmniLightsNode();
    AnimatedFakeOmniLightsNode(const AnimatedFakeOmniLightsNode& other);
    ~AnimatedFakeOmniLightsNode() override;

    std::uint32_t getArgument() const noexcept { return argument_; }
    void setArgument(std::uint32_t argument) noexcept { argument_ = argument; }
    const std::vector<float>& getAnimationData() const noexcept { return data_; }
    void setAnimationData(std::vector<float> data) { data_ = std::move(data); }

    void forEachArgument(const ArgumentCallback& callback) const override;

    NodeType getType() const override { return NodeType::AnimatedFakeOmniLightsNode; }
    void accept(INodeVisitor& visitor) override;
    void accept(INodeVisitor& visitor) const override;

private:
    std::uint32_t argument_ = kNoArgument;
    std::vector<float> data_;
};

}  // namespace model
