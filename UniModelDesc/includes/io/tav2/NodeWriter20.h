#pragma once
// model::NodeWriter20: writes one format 2.0 node record per visit into the
// record sink of one save; names, strings, keys and ranges go into that
// save's pool and the record holds their offsets.
//
// Contract (records by class; "header" is the tag of EnumConverter20 for the
// node's getType() and the pool offset of its name; all fields u32 unless
// said otherwise; floats are converted from the model's doubles):
// - Node: header, properties block (PropertyWriter20).
// - TransformNode: Node record, the local matrix as 16 floats (row-major).
// - Bone: TransformNode record, the bone matrix as 16 floats.
// - ArgAnimationNode: TransformNode record, base position (3 floats), base
//   rotation (4), base scale orientation (4), base scale (3); then position
//   channels (count; per channel argument, key block with 3 floats per key),
//   rotation channels (count; argument, key block with 4), scale channels
//   (count; argument, key block of orientations with 4, key block of scales
//   with 3). A key block is the key count, the pool offset of the key times
//   and that of the values, both appended to the pool without search.
// - ArgAnimatedBone: ArgAnimationNode record, the bone matrix (16 floats).
// - ArgVisibilityNode: header, entry count; per entry the argument, u64
//   range count R, u64 pool offset of 2R floats (start, end per range,
//   appended without search). No properties block.
// - Connector: header, properties block. ShellNode: header only.
// - RootNode and the render, light, number, skin, fake-light, segment and
//   shell-skin nodes write nothing.
// - Failures (qz::ExtException): LodNode and BillboardNode "Unsupported
//   node."; a channel without argument "Node '<name>' has invalid
//   position handle." (rotation, scale likewise); a type without a tag
//   "Unknown node id."; counts or pool offsets beyond 32 bits.
// The writer must not outlive the sink, pool and property writer it is given.

#include <cstdint>
#include <string>

#include "INodeVisitor.h"
#include "qzvfs/MemWriter.h"

namespace model {

class DataPool20;
class INode;
class PropertyWriter20;

class NodeWriter20 final : public INodeVisitor {
public:
    NodeWriter20(qzvfs::MemWriter& sink, DataPool20& pool, PropertyWriter20& properties)
        : sink(sink), pool(pool), properties(properties) {}

    void visit(const RootNode& node) override;
    void visit(const Connector& node) override;
    void visit(const LightNode& node) override;
    void visit(const NumberNode& node) override;
    void visit(const SkinNode& node) override;
    void visit(const RenderNode& node) override;
    void visit(const AnimatedFakeSpotLightsNode& node) override;
    void visit(const FakeSpotLightsNode& node) override;
    void visit(const AnimatedFakeOmniLightsNode& node) override;
    void visit(const FakeOmniLightsNode& node) override;
    void visit(const SegmentsNode& node) override;
    void visit(const ShellSkinNode& node) override;
    void visit(const ShellNode& node) override;
    void visit(const LodNode& node) override;
    void visit(const Bone& node) override;
    void visit(const BillboardNode& node) override;
    void visit(const ArgVisibilityNode& node) override;
    void visit(const ArgAnimatedBone& node) override;
    void visit(const ArgAnimationNode& node) override;
    void visit(const TransformNode& node) override;
    void visit(const Node& node) override;

private:
    void writeHeader(const INode& node, const std::string& name);
    void writeNodeRecord(const Node& node);
    void writeTransformRecord(const TransformNode& node);
    void writeAnimationRecord(const ArgAnimationNode& node);

    qzvfs::MemWriter& sink;
    DataPool20& pool;
    PropertyWriter20& properties;
};

}  // namespace model
