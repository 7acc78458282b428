#pragma once
// model::RootNode: what a whole model hangs from. It holds the top node of
// the transform tree, the base nodes by family, the three boxes of the model,
// and does the last steps of saving.
//
// Contract:
//  - Version 3, no parents: getNumParents() 0, getParent(any) null,
//    setParent() ignored. getType() 16, visitor slot RootNode.
//  - The family lists keep insertion order (writers emit that order); adding
//    the same node twice lists it twice. Null nodes are not added; nulls
//    put in through the mutable list accessors are skipped by every query
//    and computation here (the writers refuse them with a clear message).
//  - Boxes are empty for a new root; setters store what they are given.
//  - The unnamed extra fields (a 16-bit and a 64-bit value, a string) only
//    travel with copies. The root holds no material list of its own: the
//    writers take collectMaterials() when they write.
//  - Copies (clone) share the listed nodes and the top node.
//  - save(path, version): version 10 or 20 picks the writer (others raise
//    qz::ExtException "Unsupported version <n>"); the whole model is
//    serialised into memory first, then written to path as a whole file
//    (qzvfs::writeWholeFile: an ordinary file is replaced through a new file
//    in its folder, so a failed save leaves it as it was and nothing beside
//    it; a FIFO or device gets the bytes written into it). A target that an
//    open for rewriting would refuse (empty path or a NUL in it included)
//    raises "Can't open <path>"; one that can't be written completely
//    "Can't write <path>". Writer failures pass through; the file is then
//    not touched.

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "BaseNode.h"
#include "io/IClassWriter.h"
#include "Node.h"
#include "nodes/BoundingBox.h"

namespace model {

class BaseMaterial;
class BaseRenderNode;
class BaseShellNode;
class Connector;
class IClassWriter;
class LightNode;

using AttachedList = std::vector<std::pair<Ptr<BaseNode>, std::size_t>>;
using ArgumentSet = std::set<std::uint32_t>;

class RootNode : public BaseNode {
public:
    RootNode();
    RootNode(const RootNode& other);
    ~RootNode() override;

    // BaseNode: no parents.
    std::size_t getNumParents() const override { return 0; }
    Ptr<Node> getParent(std::size_t index) const override;
    void setParent(std::size_t index, const Ptr<Node>& node) override;

    const Ptr<Node>& getTopNode() const noexcept { return topNode_; }
    void setTopNode(const Ptr<Node>& node);

    const std::vector<Ptr<Connector>>& getConnectors() const noexcept { return connectors_; }
    std::vector<Ptr<Connector>>& getConnectors() noexcept { return connectors_; }
    void addConnector(const Ptr<Connector>& node);

    const std::vector<Ptr<BaseRenderNode>>& getRenderNodes() const noexcept { return renderNodes_; }
    std::vector<Ptr<BaseRenderNode>>& getRenderNodes() noexcept { return renderNodes_; }
    void addRenderNode(const Ptr<BaseRenderNode>& node);

    const std::vector<Ptr<BaseShellNode>>& getShellNodes() const noexcept { return shellNodes_; }
    std::vector<Ptr<BaseShellNode>>& getShellNodes() noexcept { return shellNodes_; }
    void addShellNode(const Ptr<BaseShellNode>& node);

    const std::vector<Ptr<LightNode>>& getLights() const noexcept { return lights_; }
    std::vector<Ptr<LightNode>>& getLights() noexcept { return lights_; }
    void addLight(const Ptr<LightNode>& node);

    const BoundingBox& getBoundingBox() const noexcept { return boundingBox_; }
    void setBoundingBox(const BoundingBox& box) noexcept { boundingBox_ = box; }
    const BoundingBox& getUserBox() const noexcept { return userBox_; }
    void setUserBox(const BoundingBox& box) noexcept { userBox_ = box; }
    const BoundingBox& getLightBox() const noexcept { return lightBox_; }
    void setLightBox(const BoundingBox& box) noexcept { lightBox_ = box; }

    std::uint16_t getField16() const noexcept { return field16_; }
    void setField16(std::uint16_t value) noexcept { field16_ = value; }
    std::uint64_t getField64() const noexcept { return field64_; }
    void setField64(std::uint64_t value) noexcept { field64_ = value; }
    const std::string& getExtraString() const noexcept { return extraString_; }
    void setExtraString(std::string value) { extraString_ = std::move(value); }

    // The materials of the render nodes, each once, in order of first use
    // (render nodes without a material are skipped).
    std::vector<Ptr<BaseMaterial>> collectMaterials() const;

    // Connectors, then lights, then shell nodes, then render nodes.
    std::vector<Ptr<BaseNode>> getAllBaseNodes() const;
    // The same nodes as plain pointers (null entries skipped): no counted
    // copies, which would write to every node. Valid while the lists hold
    // the nodes.
    std::vector<BaseNode*> getAllBaseNodePointers() const;
    // Every (base node, parent index) whose parent is node, in
    // getAllBaseNodes() order and parent order.
    AttachedList getAttached(const Node* node) const;
    bool hasAttached(const Node* node) const;
    // Points every parent link to oldNode at newNode; true if any changed.
    bool replaceParent(const Node* oldNode, const Ptr<Node>& newNode);

    // Distinct arguments of node and everything below it.
    static ArgumentSet getArgumentsList(const Node* node);
    // Distinct arguments of the whole model: the tree from the top node and
    // every connector, render node, light and shell node.
    ArgumentSet collectArguments() const;
    // The same for a caller that has already gathered the tree's arguments
    // (in `tree`) on a walk of its own: adds those of the other nodes.
    ArgumentSet collectArguments(ArgumentSet tree) const;
    std::uint32_t calcNumHandles() const;

    // Walks from `from` towards the top; true when it meets a visibility
    // node before it meets `stop` (stop itself is not examined).
    static bool checkParentNodes(const Node* from, const Node* stop);

    // Recomputes the bounding box from the render nodes' parent boxes, with
    // every argument at 0 (see the .cpp for the rules).
    void calcBoundingBox();
    // The bounding box grown on every side by the largest light distance.
    void calcLightBox();
    // Gives two-sided triangle meshes their back faces.
    void prepareMeshes();

    void save(const std::string& path, std::uint16_t version) const;
    // save() with a given writer.
    void save(const std::string& path, IClassWriter& writer) const;
    // save() in its two steps: the whole file serialised into memory (raises
    // as save() does before anything is written), then the bytes written to
    // path. The second touches nothing of the model, so a caller may let
    // other threads run meanwhile: the image may hold on to index lists of
    // the model, which an edit meanwhile leaves alone (it changes a copy).
    using FileImage = model::FileImage;
    FileImage image(std::uint16_t version) const;
    static void writeImage(const std::string& path, const FileImage& image);

    NodeType getType() const override { return NodeType::RootNode; }
    void accept(INodeVisitor& visitor) override;
    void accept(INodeVisitor& visitor) const override;

private:
    std::uint16_t field16_ = 0;
    Ptr<Node> topNode_;
    std::vector<Ptr<Connector>> connectors_;
    std::vector<Ptr<BaseRenderNode>> renderNodes_;
    std::vector<Ptr<BaseShellNode>> shellNodes_;
    std::vector<Ptr<LightNode>> lights_;
    BoundingBox boundingBox_;
    BoundingBox userBox_;
    BoundingBox lightBox_;
    std::uint64_t field64_ = 0;
    std::string extraString_;
};

}  // namespace model
