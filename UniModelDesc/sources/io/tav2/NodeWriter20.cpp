#include "io/tav2/NodeWriter20.h"

#include <fmt/format.h>

#include "io/tav2/ClassWriter20.h"
#include "io/tav2/DataPool20.h"
#include "io/tav2/EnumConverter20.h"
#include "io/tav2/PropertyWriter20.h"
#include "nodes/ArgAnimatedBone.h"
#include "nodes/ArgAnimationNode.h"
#include "nodes/ArgVisibilityNode.h"
#include "nodes/Bone.h"
#include "nodes/Connector.h"
#include "nodes/ShellNode.h"
#include "nodes/TransformNode.h"
#include "qz/ExtException.h"

namespace model {

namespace {

void writeMatrix(qzvfs::MemWriter& sink, const Matrix44d& m) {
    for (double v : m.m) sink.writeFloat(static_cast<float>(v));
}

template <std::size_t N>
void writeFloats(qzvfs::MemWriter& sink, const std::array<double, N>& values) {
    for (double v : values) sink.writeFloat(static_cast<float>(v));
}

// Key count, then where the times and the values start in the pool; both
// arrays are appended, never searched for.
template <class Key>
void writeKeyBlock(qzvfs::MemWriter& sink, DataPool20& pool, const std::vector<Key>& keys) {
    sink.writeU32(ClassWriter20::count32(keys.size(), "keys"));
    sink.writeU32(pool.size());
    for (const Key& key : keys) pool.writeFloat(static_cast<float>(key.time));
    sink.writeU32(pool.size());
    for (const Key& key : keys)
        for (double v : key.value) pool.writeFloat(static_cast<float>(v));
}

// Channels without an argument could never be driven by the game.
void checkHandle(std::uint32_t argument, const Node& node, const char* channel) {
    if (argument == kNoArgument)
        QZ_THROW(fmt::format("Node '{}' has invalid {} handle.", node.getName(), channel));
}

}  // namespace

void NodeWriter20::writeHeader(const INode& node, const std::string& name) {
    sink.writeU32(EnumConverter20::toTag(node.getType()));
    sink.writeU32(pool.addString(name));
}

void NodeWriter20::writeNodeRecord(const Node& node) {
    writeHeader(node, node.getName());
    properties.writeBlock(node.getProperties(), node.getName());
}

void NodeWriter20::writeTransformRecord(const TransformNode& node) {
    writeNodeRecord(node);
    writeMatrix(sink, node.getMatrix());
}

void NodeWriter20::writeAnimationRecord(const ArgAnimationNode& node) {
    writeTransformRecord(node);
    writeFloats(sink, node.getBasePosition());
    writeFloats(sink, node.getBaseRotation());
    writeFloats(sink, node.getBaseScaleOrientation());
    writeFloats(sink, node.getBaseScale());

    const auto& position = node.getPositionAnimations();
    sink.writeU32(ClassWriter20::count32(position.size(), "position channels"));
    for (const PositionAnimation& channel : position) {
        checkHandle(channel.argument, node, "position");
        sink.writeU32(channel.argument);
        writeKeyBlock(sink, pool, channel.keys);
    }
    const auto& rotation = node.getRotationAnimations();
    sink.writeU32(ClassWriter20::count32(rotation.size(), "rotation channels"));
    for (const RotationAnimation& channel : rotation) {
        checkHandle(channel.argument, node, "rotation");
        sink.writeU32(channel.argument);
        writeKeyBlock(sink, pool, channel.keys);
    }
    const auto& scale = node.getScaleAnimations();
    sink.writeU32(ClassWriter20::count32(scale.size(), "scale channels"));
    for (const ScaleAnimation& channel : scale) {
        checkHandle(channel.argument, node, "scale");
        sink.writeU32(channel.argument);
        writeKeyBlock(sink, pool, channel.orientationKeys);
        writeKeyBlock(sink, pool, channel.scaleKeys);
    }
}

void NodeWriter20::visit(const RootNode&) {}

void NodeWriter20::visit(const Connector& node) {
    writeHeader(node, node.getName());
    properties.writeBlock(node.getProperties(), node.getName());
}

// Not part of this layout: the trees and connectors are all it holds.
void NodeWriter20::visit(const LightNode&) {}
void NodeWriter20::visit(const NumberNode&) {}
void NodeWriter20::visit(const SkinNode&) {}
void NodeWriter20::visit(const RenderNode&) {}
void NodeWriter20::visit(const AnimatedFakeSpotLightsNode&) {}
void NodeWriter20::visit(const FakeSpotLightsNode&) {}
void NodeWriter20::visit(const AnimatedFakeOmniLightsNode&) {}
void NodeWriter20::visit(const FakeOmniLightsNode&) {}
void NodeWriter20::visit(const SegmentsNode&) {}
void NodeWriter20::visit(const ShellSkinNode&) {}

void NodeWriter20::visit(const ShellNode& node) { writeHeader(node, node.getName()); }

void NodeWriter20::visit(const LodNode&) { QZ_THROW("Unsupported node."); }

void NodeWriter20::visit(const Bone& node) {
    writeTransformRecord(node);
    writeMatrix(sink, node.getBoneMatrix());
}

void NodeWriter20::visit(const BillboardNode&) { QZ_THROW("Unsupported node."); }

void NodeWriter20::visit(const ArgVisibilityNode& node) {
    writeHeader(node, node.getName());
    const auto& entries = node.getEntries();
    sink.writeU32(ClassWriter20::count32(entries.size(), "visibility arguments"));
    for (const VisibilityEntry& entry : entries) {
        sink.writeU32(entry.argument);
        sink.writeU64(entry.ranges.size());
        sink.writeU64(pool.size());
        for (const VisibilityRange& range : entry.ranges) {
            pool.writeFloat(static_cast<float>(range.start));
            pool.writeFloat(static_cast<float>(range.end));
        }
    }
}

void NodeWriter20::visit(const ArgAnimatedBone& node) {
    writeAnimationRecord(node);
    writeMatrix(sink, node.getBoneMatrix());
}

void NodeWriter20::visit(const ArgAnimationNode& node) { writeAnimationRecord(node); }

void NodeWriter20::visit(const TransformNode& node) { writeTransformRecord(node); }

void NodeWriter20::visit(const Node& node) { writeNodeRecord(node); }

}  // namespace model
