#pragma once
// pytav::PBRNode: the general render node of scripts, a mesh whose material
// is assembled from material blocks (see blocks/pytav_iblock.h).
//
// Contract:
//  - The material is made with the node: its name is the second constructor
//    argument, its material name "def_material". It is shared, not copied,
//    by every model node the PBRNode builds; the mode setters write into it
//    at once, so they act before or after addBlock alike.
//  - addBlock keeps the block's Python object alive for the node's life; a
//    block of the same type takes the place of the one held (one block per
//    type). None is ignored.
//  - build() (through Model.addRenderNode) returns the first of, in order:
//    "Material {} must have the following blocks {}." (no BT_Base block),
//    "Material {} doesn't support block {}." (a BT_Glass block),
//    "Indices aren't set.", the first block's validation message in type
//    order, "Control node isn't set.", "Index {} is out of range for {}
//    vertices." (checked against the BT_Base block's vertex count), and, when
//    the geometry doesn't fit the material's vertex format (left over from a
//    build with other blocks), "Vertex data doesn't match the material's
//    vertex format.". Nothing is made in those cases; the material may have
//    been changed by the blocks when only the last check fails.
//    Otherwise it makes a "model::RenderNode" (a "model::SkinNode" with the
//    control node then the bones as parents when a BoneBlock is present),
//    named after the first constructor argument, with the material, the
//    vertex data (rebuilt from the blocks on every build) and the indices,
//    and the damage argument of a DamageBlock; it returns "".
//  - getName(): the built node's name, "EMPTY PBRNode" before a build
//    succeeded.
//  - Must be destroyed with the interpreter lock held (it owns Python
//    references to its blocks).

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <pybind11/pybind11.h>

#include "PropertiesSet.h"
#include "PyRenderNode.h"
#include "PySceneNodes.h"
#include "blocks/pytav_iblock.h"

namespace pytav {

class PBRNode : public IRenderNode {
public:
    PBRNode(std::string nodeName, std::string materialName);
    ~PBRNode() override;

    std::string getName() const;
    void setIndices(std::vector<std::uint32_t> indices) { indices_.indices = std::move(indices); }
    void setShadowCaster(int mode);
    void setTransparentMode(int mode);
    // The material's decal field is 8 bits: ids above 255 raise ValueError.
    void setDecalId(std::uint32_t id);
    // `block` is the Python object of an IBlock (or None).
    void addBlock(const pybind11::object& block);
    void setTwoSided(bool twoSided) noexcept { twoSided_ = twoSided; }
    void setControlNode(const Node& node) { controlNode_ = node.getModelNode(); }
    bool hasBlock(const std::string& typeName) const;
    // The Python object of the block of that type name, or None.
    pybind11::object getBlock(const std::string& typeName) const;

    std::string build() override;
    model::Ptr<model::BaseRenderNode> getModelNode() const override { return modelNode_; }
    std::string getNodeName() const override { return nodeName_; }

    const model::Ptr<model::PropertiesSet>& getMaterial() const noexcept { return material_; }

private:
    struct HeldBlock {
        pybind11::object object;
        IBlock* block;
    };

    const HeldBlock* findBlock(int type) const;
    // The checks of build that come before anything changes; empty when all pass.
    std::string check();

    model::Ptr<model::BaseRenderNode> modelNode_;
    model::Ptr<model::PropertiesSet> material_;
    std::string nodeName_;
    model::Ptr<model::Node> controlNode_;
    model::Indices indices_;
    std::vector<HeldBlock> blocks_;
    bool twoSided_ = false;
};

}  // namespace pytav
