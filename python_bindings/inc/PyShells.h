#pragma once
// Wrappers of the model's non-rendered geometry for Python: ShellNode (a
// collision mesh) and SegmentsNode (a set of line segments).
//
// Both make their model node through the class registry, name it with the
// constructor's text and hold a counted reference to it; the model keeps its
// own reference once the node is added, so it outlives the wrapper.
//
// SegmentsNode:
//  - set() replaces the node's segments at once (an empty list leaves none);
//    later calls change the node even after it was added to a model. A NaN
//    or an infinite coordinate raises std::invalid_argument (ValueError)
//    "Segment holds a value that is not finite." and keeps the old list.
//  - setControlNode() makes the tree node of `node` the segment set's parent.
//
// ShellNode:
//  - Collects indices and positions (POSITION0, three floats per vertex);
//    only build() hands them to the model node, so data set after a model
//    took the shell reaches it only if the shell is added again.
//  - setPositions() raises std::invalid_argument (ValueError) when the count
//    is not a multiple of three, and keeps what it had.
//  - build() returns the empty text after filling the model node, or one of
//    these messages (the model node is then left as it was):
//      "Vetex attribute POSITION0 isn't set."   no positions
//      "Indices aren't set."                     no indices
//      "Vertex data of {name} holds a value that is not finite."
//                                                a NaN or infinite position
//      "Index {} is out of range for {} vertices."  an index at or past the
//                                                vertex count (the first one)
//  - getModelNode(): the shell's model node (never null).
//  - getNodeName(): the name given at construction.

#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "PySceneNodes.h"
#include "VertexFormat.h"
#include "nodes/SegmentsNode.h"
#include "nodes/ShellNode.h"

namespace pytav {

using PyPoint = std::tuple<float, float, float>;
using PySegment = std::tuple<PyPoint, PyPoint>;

class SegmentsNode {
public:
    explicit SegmentsNode(const std::string& name);
    ~SegmentsNode();

    SegmentsNode(const SegmentsNode&) = delete;
    SegmentsNode& operator=(const SegmentsNode&) = delete;

    void set(const std::vector<PySegment>& segments);
    void setControlNode(const Node& node);

    const model::Ptr<model::SegmentsNode>& getModelNode() const noexcept { return node_; }

private:
    model::Ptr<model::SegmentsNode> node_;
};

// The build interface Model.addShellNode uses.
class IShellNode {
public:
    virtual ~IShellNode();
    virtual std::string build() = 0;
    virtual model::Ptr<model::ShellNode> getModelNode() const = 0;
    virtual std::string getNodeName() const = 0;
};

class ShellNode : public IShellNode {
public:
    explicit ShellNode(const std::string& name);
    ~ShellNode() override;

    ShellNode(const ShellNode&) = delete;
    ShellNode& operator=(const ShellNode&) = delete;

    void setIndices(const std::vector<std::uint32_t>& indices);
    void setPositions(const std::vector<float>& positions);
    void setControlNode(const Node& node);

    std::string build() override;
    model::Ptr<model::ShellNode> getModelNode() const override { return node_; }
    std::string getNodeName() const override { return node_->getName(); }

private:
    model::Ptr<model::ShellNode> node_;
    std::vector<std::uint32_t> indices_;
    // Components per semantic of the attributes a shell needs.
    model::VertexFormat components_{};
    std::map<std::uint32_t, std::vector<float>> attributes_;
};

}  // namespace pytav
