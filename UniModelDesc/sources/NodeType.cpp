#include "NodeType.h"

namespace model {

const char* getNodeTypeName(std::uint32_t id) noexcept {
    static const char* const names[kNodeTypeCount] = {
        "model::ArgAnimatedBone",
        "model::ArgAnimationNode",
        "model::ArgRotationNode",
        "model::ArgScaleNode",
        "model::ArgPositionNode",
        "model::ArgVisibilityNode",
        "model::Bone",
        "model::Connector",
        "model::LightNode",
        "model::LodNode",
        "model::Node",
        "model::RenderNode",
        "model::BillboardNode",
        "model::ShellNode",
        "model::TreeShellNode",
        "model::SegmentsNode",
        "model::RootNode",
        "model::SkinNode",
        "model::TransformNode",
        "model::FakeOmniLightsNode",
        "model::FakeSpotLightsNode",
        "model::AnimatedFakeOmniLightsNode",
        "model::AnimatedFakeSpotLightsNode",
        "model::NumberNode",
        "model::ShellSkinNode",
        "model::TmpNumberRoot",
    };
    return id < kNodeTypeCount ? names[id] : "UNKNOWN_NODE_ID";
}

}  // namespace model
