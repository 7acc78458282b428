#pragma once
// model::FakeLightsNode and model::AnimatedFakeLights: what the fake omni
// and spot light sets share. A set is a list of parent entries and a list
// of lights drawn by one render node; the two kinds differ only in their
// records: the light (FakeOmniLight, FakeSpotLight) and the parent entry (a
// link alone for omni sets, a link and a direction for spot sets).
//
// Contract:
//  - Parent entries: one entry with a null link for a new set
//    (setNumParents resizes). getParent/setParent raise std::out_of_range
//    past the entries.
//  - Lights are kept in the order given; light.parentIndex names the entry
//    the light belongs to.
//  - transformGeometry(i, M): applies M (dividing by the homogeneous
//    coordinate) to the position of every light of entry i, and lets entry
//    i turn what it holds (transformEntry); returns true (std::out_of_range
//    for i past the entries).
//  - getParentBox(i): the box of the positions of the lights of entry i.
//  - AnimatedFakeLights<Set> adds an argument (kNoArgument by default,
//    reported by forEachArgument() when set) and the brightness curves:
//    kFakeLightSamples floats per light, light by light.
//
// An entry type E provides entryNode(E&) (its link) and transformEntry(E&,
// M), found by argument-dependent lookup.

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "IModelArguments.h"
#include "Matrix.h"
#include "Node.h"
#include "nodes/BaseRenderNode.h"
#include "nodes/BoundingBox.h"

namespace model {

// Brightness samples per light of an animated set.
inline constexpr std::size_t kFakeLightSamples = 128;

// The omni sets' parent entry is the link alone.
inline Ptr<Node>& entryNode(Ptr<Node>& entry) noexcept { return entry; }
inline const Ptr<Node>& entryNode(const Ptr<Node>& entry) noexcept { return entry; }
inline void transformEntry(Ptr<Node>&, const Matrix44d&) noexcept {}

template <class Light, class ParentEntry>
class FakeLightsNode : public BaseRenderNode {
public:
    using LightType = Light;
    using EntryType = ParentEntry;

    std::size_t getNumParents() const override { return entries_.size(); }
    Ptr<Node> getParent(std::size_t index) const override {
        checkParentIndex(index, entries_.size());
        return entryNode(entries_[index]);
    }
    void setParent(std::size_t index, const Ptr<Node>& node) override {
        checkParentIndex(index, entries_.size());
        entryNode(entries_[index]) = node;
    }
    void setNumParents(std::size_t count) { entries_.resize(count); }
    const std::vector<ParentEntry>& getParentEntries() const noexcept { return entries_; }
    void setParentEntries(std::vector<ParentEntry> entries) { entries_ = std::move(entries); }

    const std::vector<Light>& getLights() const noexcept { return lights_; }
    void setLights(std::vector<Light> lights) { lights_ = std::move(lights); }

    bool takesGeometryTransform(std::size_t parentIndex) const override {
        checkParentIndex(parentIndex, entries_.size());
        return true;
    }
    bool transformGeometry(std::size_t parentIndex, const Matrix44d& m) override {
        checkParentIndex(parentIndex, entries_.size());
        for (Light& light : lights_)
            if (light.parentIndex == parentIndex)
                light.position = m.transformPoint(light.position[0], light.position[1], light.position[2]);
        transformEntry(entries_[parentIndex], m);
        return true;
    }

    BoundingBox getParentBox(std::size_t index) const override {
        checkParentIndex(index, entries_.size());
        BoundingBox box;
        for (const Light& light : lights_)
            if (light.parentIndex == index)
                box.expand(static_cast<float>(light.position[0]), static_cast<float>(light.position[1]),
                           static_cast<float>(light.position[2]));
        return box;
    }

protected:
    FakeLightsNode() : entries_(1) {}
    FakeLightsNode(const FakeLightsNode&) = default;

    // Entry index; std::out_of_range past the entries.
    ParentEntry& parentEntry(std::size_t index) {
        checkParentIndex(index, entries_.size());
        return entries_[index];
    }
    const ParentEntry& parentEntry(std::size_t index) const {
        checkParentIndex(index, entries_.size());
        return entries_[index];
    }

private:
    std::vector<ParentEntry> entries_;
    std::vector<Light> lights_;
};

template <class Set>
class AnimatedFakeLights : public Set {
public:
    std::uint32_t getArgument() const noexcept { return argument_; }
    void setArgument(std::uint32_t argument) noexcept { argument_ = argument; }
    const std::vector<float>& getAnimationData() const noexcept { return data_; }
    void setAnimationData(std::vector<float> data) { data_ = std::move(data); }

    void forEachArgument(const ArgumentCallback& callback) const override {
        Set::forEachArgument(callback);
        if (argument_ != kNoArgument) callback(argument_);
    }

protected:
    AnimatedFakeLights() = default;
    AnimatedFakeLights(const AnimatedFakeLights&) = default;

private:
    std::uint32_t argument_ = kNoArgument;
    std::vector<float> data_;
};

}  // namespace model
