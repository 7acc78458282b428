#pragma once
// model::FakeSpotLightsNode and model::AnimatedFakeSpotLightsNode: sets of
// directed glowing sprites drawn by one render node. Version 1.
//
// Contract:
//  - Parent entries: a parent link and the direction the lights of that
//    parent shine in, (0, 0, 0) by default; one entry with a null link for a
//    new node (setNumParents resizes). getParent/setParent/getDirection/
//    setDirection raise std::out_of_range past the entries.
//  - Lights are kept in the order given; light.parentIndex names the parent
//    entry the light belongs to.
//  - transformGeometry(i, M): applies M (dividing by the homogeneous
//    coordinate) to the position of every light of parent i, and turns entry
//    i's direction by M (length kept); returns true.
//  - getParentBox(i): the box of the positions of the lights of parent i.
//  - The animated set adds an argument (kNoArgument by default, reported by
//    forEachArgument() when set) and its brightness curves: 128 floats per
//    light, light by light.
//  - getType() 20 / 22, visitor slots FakeSpotLightsNode /
//    AnimatedFakeSpotLightsNode.

#include <array>
#include <cstdint>
#include <vector>

#include <osg/Vec2f>
#include <osg/Vec3f>

#include "nodes/BaseRenderNode.h"

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
};

class FakeSpotLightsNode : public BaseRenderNode {
public:
    FakeSpotLightsNode();
    FakeSpotLightsNode(const FakeSpotLightsNode& other);
    ~FakeSpotLightsNode() override;

    std::size_t getNumParents() const override { return entries_.size(); }
    Ptr<Node> getParent(std::size_t index) const override;
    void setParent(std::size_t index, const Ptr<Node>& node) override;
    void setNumParents(std::size_t count) { entries_.resize(count); }
    const std::vector<FakeSpotParentEntry>& getParentEntries() const noexcept { return entries_; }
    void setParentEntries(std::vector<FakeSpotParentEntry> entries) { entries_ = std::move(entries); }
    const osg::Vec3f& getDirection(std::size_t index) const;
    void setDirection(std::size_t index, const osg::Vec3f& direction);

    const std::vector<FakeSpotLight>& getLights() const noexcept { return lights_; }
    void setLights(std::vector<FakeSpotLight> lights) { lights_ = std::move(lights); }

    bool transformGeometry(std::size_t parentIndex, const Matrix44d& m) override;
    BoundingBox getParentBox(std::size_t index) const override;

    NodeType getType() const override { return NodeType::FakeSpotLightsNode; }
    void accept(INodeVisitor& visitor) override;
    void accept(INodeVisitor& visitor) const override;

private:
    std::vector<FakeSpotParentEntry> entries_;
    std::vector<FakeSpotLight> lights_;
};

class AnimatedFakeSpotLightsNode : public FakeSpotLightsNode {
public:
    static constexpr std::size_t kSamplesPerLight = 128;

    AnimatedFakeSpotLightsNode();
    AnimatedFakeSpotLightsNode(const AnimatedFakeSpotLightsNode& other);
    ~AnimatedFakeSpotLightsNode() override;

    std::uint32_t getArgument() const noexcept { return argument_; }
    void setArgument(std::uint32_t argument) noexcept { argument_ = argument; }
    const std::vector<float>& getAnimationData() const noexcept { return data_; }
    void setAnimationData(std::vector<float> data) { data_ = std::move(data); }

    void forEachArgument(const ArgumentCallback& callback) const override;

    NodeType getType() const override { return NodeType::AnimatedFakeSpotLightsNode; }
    void accept(INodeVisitor& visitor) override;
    void accept(INodeVisitor& visitor) const override;

private:
    std::uint32_t argument_ = kNoArgument;
    std::vector<float> data_;
};

}  // namespace model
