#pragma once
// model::EnumConverter20: the four-character record tag of a node type in
// format 2.0 files.
//
// Contract: toTag(type) returns the tag as the u32 whose bytes, lowest
// first, are its four letters (so writeU32 puts them in reading order):
//   ArgAnimatedBone "ANBN", ArgAnimationNode "ANND", ArgVisibilityNode
//   "ANVS", Bone "BONE", Connector "CNCT", Node "NODE", ShellNode "SHLL",
//   TransformNode "TRND".
// Every other type raises qz::ExtException "Unknown node id.".

#include <cstdint>

#include "IProperty.h"
#include "NodeType.h"
#include "qz/ExtException.h"

namespace model {

struct EnumConverter20 {
    static std::uint32_t toTag(NodeType type) {
        switch (type) {
            case NodeType::ArgAnimatedBone: return makeKindTag("ANBN");
            case NodeType::ArgAnimationNode: return makeKindTag("ANND");
            case NodeType::ArgVisibilityNode: return makeKindTag("ANVS");
            case NodeType::Bone: return makeKindTag("BONE");
            case NodeType::Connector: return makeKindTag("CNCT");
            case NodeType::Node: return makeKindTag("NODE");
            case NodeType::ShellNode: return makeKindTag("SHLL");
            case NodeType::TransformNode: return makeKindTag("TRND");
            default: QZ_THROW("Unknown node id.");
        }
    }
};

}  // namespace model
