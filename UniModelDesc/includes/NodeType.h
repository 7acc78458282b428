#pragma once
// Node type ids (what model::INode::getType returns) and their class names.
//
// Contract: the ids are fixed (they are written into model files); the
// names are the registered class names. ArgRotationNode, ArgScaleNode and
// ArgPositionNode only come from getSavedType of an animation node, and
// TreeShellNode from nothing at all.

#include <cstdint>

namespace model {

enum class NodeType : std::uint32_t {
    ArgAnimatedBone = 0,
    ArgAnimationNode = 1,
    ArgRotationNode = 2,
    ArgScaleNode = 3,
    ArgPositionNode = 4,
    ArgVisibilityNode = 5,
    Bone = 6,
    Connector = 7,
    LightNode = 8,
    LodNode = 9,
    Node = 10,
    RenderNode = 11,
    BillboardNode = 12,
    ShellNode = 13,
    TreeShellNode = 14,
    SegmentsNode = 15,
    RootNode = 16,
    SkinNode = 17,
    TransformNode = 18,
    FakeOmniLightsNode = 19,
    FakeSpotLightsNode = 20,
    AnimatedFakeOmniLightsNode = 21,
    AnimatedFakeSpotLightsNode = 22,
    NumberNode = 23,
    ShellSkinNode = 24,
    TmpNumberRoot = 25,
};

inline constexpr std::uint32_t kNodeTypeCount = 26;

// "model::<Class>" for ids 0 to 25, "UNKNOWN_NODE_ID" for any other id.
const char* getNodeTypeName(std::uint32_t id) noexcept;
inline const char* getNodeTypeName(NodeType type) noexcept {
    return getNodeTypeName(static_cast<std::uint32_t>(type));
}

}  // namespace model
