#pragma once
// pytav::IRenderNode: the base of every Python render-node class (PBRNode,
// ColorNode, MirrorNode, DeckNode and the fake light sets). Model.addRenderNode
// accepts any of them through this interface.
//
// Contract for derived classes:
//  - build() turns the wrapper's settings into a model node. It returns the
//    empty text when the node exists afterwards (getModelNode() then returns
//    it), else a message for the script. Messages name no node: the caller
//    prefixes the node's name when it logs them. build() reports incomplete
//    or inconsistent settings as messages; it raises (qz::ExtException,
//    std::out_of_range) only for internal failures and for data it can't
//    place at all. A failed build leaves the previous model node (if any) in
//    place.
//  - build() may be called more than once (the same wrapper added twice);
//    each call starts from the settings again, never from data a previous
//    build produced.
//  - getModelNode() returns the node built last (null before the first
//    successful build). The returned node is shared: the root node takes its
//    own counted reference.
//  - getNodeName() returns the name the script gave the node (the one the
//    model node gets at build); it prefixes the warnings of addRenderNode.
//
// The base class itself has no node: build() raises qz::ExtException
// ("Calling pure virtual function."), getModelNode() returns null and
// getNodeName() the empty text.
//
// Model.addRenderNode(node) -> str: calls node.build(); on an empty result it
// appends getModelNode() to the root node's render list and returns ""; on a
// message it logs "{name}: {message}" at WARNING under "PYTAV", adds nothing
// and returns the message.
//
// Helpers shared by the render-node wrappers (messages are fixed texts the
// scripts see):
//  - kControlNodeNotSet: "Control node isn't set."
//  - checkIndexRange(indices, vertexCount): empty text when every index is
//    below vertexCount, else "Index {} is out of range for {} vertices." with
//    the first bad index and vertexCount. Call it before anything reads vertex
//    data by index.
// NumPy arguments are copied with the helpers of NumpyArrays.h.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "nodes/BaseRenderNode.h"

namespace pytav {

inline constexpr const char* kControlNodeNotSet = "Control node isn't set.";

std::string checkIndexRange(const std::vector<std::uint32_t>& indices, std::size_t vertexCount);

class IRenderNode {
public:
    IRenderNode() = default;
    virtual ~IRenderNode();

    IRenderNode(const IRenderNode&) = delete;
    IRenderNode& operator=(const IRenderNode&) = delete;

    virtual std::string build();
    virtual model::Ptr<model::BaseRenderNode> getModelNode() const;
    virtual std::string getNodeName() const;
};

}  // namespace pytav
