// The Python class PBRNode.

#include "PyPBRNode.h"

#include <algorithm>
#include <stdexcept>

#include <fmt/format.h>

#include "ScriptTypeNames.h"

#include "Bindings.h"
#include "ClassRegistry.h"
#include "NumpyArrays.h"
#include "blocks/BaseBlock.h"
#include "blocks/BoneBlock.h"
#include "blocks/DamageBlock.h"
#include "nodes/RenderNode.h"
#include "nodes/SkinNode.h"

namespace py = pybind11;

namespace pytav {

namespace {

// The material rule of "def_material".
constexpr const char* kRequiredBlocks = "BT_Base";

bool isSupported(BlockType type) noexcept { return type <= BT_Decal; }

}  // namespace

PBRNode::PBRNode(std::string nodeName, std::string materialName)
    : material_(new model::PropertiesSet()), nodeName_(std::move(nodeName)) {
    material_->setName(std::move(materialName));
    material_->setMaterialName("def_material");
}

PBRNode::~PBRNode() = default;

std::string PBRNode::getName() const { return modelNode_ ? modelNode_->getName() : "EMPTY PBRNode"; }

void PBRNode::setShadowCaster(int mode) {
    switch (mode) {
        case 0: material_->setShadowsBit0(1); break;
        case 1: material_->setShadowsBit0(0); break;
        case 2: material_->setShadowsBit2(1); break;
        default: break;
    }
}

void PBRNode::setTransparentMode(int mode) {
    if (mode >= 0 && mode <= 3) material_->setBlending(std::uint32_t(mode));
}

void PBRNode::setDecalId(std::uint32_t id) {
    // Cutting the id to its low byte would silently pick another decal.
    if (id > 255) throw std::invalid_argument(fmt::format("Decal id {} is above 255.", id));
    material_->setDecal(static_cast<std::uint8_t>(id));
}

void PBRNode::addBlock(const py::object& object) {
    if (object.is_none()) return;
    IBlock* block = object.cast<IBlock*>();
    const BlockType type = block->getType();
    for (HeldBlock& held : blocks_) {
        if (held.block->getType() == type) {
            held = {object, block};
            return;
        }
    }
    blocks_.push_back({object, block});
}

const PBRNode::HeldBlock* PBRNode::findBlock(int type) const {
    for (const HeldBlock& held : blocks_) {
        if (int(held.block->getType()) == type) return &held;
    }
    return nullptr;
}

bool PBRNode::hasBlock(const std::string& typeName) const {
    const int type = blockTypeFromName(typeName);
    return type >= 0 && findBlock(type);
}

py::object PBRNode::getBlock(const std::string& typeName) const {
    const int type = blockTypeFromName(typeName);
    const HeldBlock* held = type >= 0 ? findBlock(type) : nullptr;
    return held ? held->object : py::none();
}

std::string PBRNode::check() {
    std::stable_sort(blocks_.begin(), blocks_.end(),
                     [](const HeldBlock& a, const HeldBlock& b) { return a.block->getType() < b.block->getType(); });

    const HeldBlock* base = findBlock(BT_Base);
    if (!base) return fmt::format("Material {} must have the following blocks {}.", material_->getName(), kRequiredBlocks);
    for (const HeldBlock& held : blocks_) {
        if (!isSupported(held.block->getType()))
            return fmt::format("Material {} doesn't support block {}.", material_->getName(), held.block->getTypeName());
    }

    if (indices_.indices.empty()) return "Indices aren't set.";
    for (const HeldBlock& held : blocks_) {
        if (std::string message = held.block->validate(); !message.empty()) return message;
    }

    if (!controlNode_) return kControlNodeNotSet;
    // Only the BT_Base blocks carry positions, so they define the vertex count.
    if (const auto* geometry = dynamic_cast<const GeometryBlock*>(base->block))
        return checkIndexRange(indices_.indices, geometry->getVertexCount());
    return {};
}

std::string PBRNode::build() {
    if (std::string message = check(); !message.empty()) return message;

    if (twoSided_) material_->setCulling(0);

    // Each build starts from nothing, so a node added twice doesn't carry
    // the first build's vertices into the second.
    VertexMap vertexMap;
    std::uint32_t texCoordCounter = 0;
    for (const HeldBlock& held : blocks_) {
        if (std::string message = held.block->apply(*material_, texCoordCounter, indices_, vertexMap); !message.empty())
            return message;
    }

    const HeldBlock* bones = findBlock(BT_Bone);
    const auto* boneBlock = bones ? dynamic_cast<const BoneBlock*>(bones->block) : nullptr;
    model::Ptr<model::BaseMeshRenderNode> node;
    model::Ptr<model::SkinNode> skin;
    model::Ptr<model::RenderNode> render;
    if (boneBlock) {
        skin = model::ClassRegistry::make<model::SkinNode>("model::SkinNode");
        const auto& boneNodes = boneBlock->getBones();
        skin->setNumParents(boneNodes.size() + 1);
        skin->setParent(0, controlNode_);
        for (std::size_t i = 0; i < boneNodes.size(); ++i) skin->setParent(i + 1, boneNodes[i]);
        node = skin;
    } else {
        render = model::ClassRegistry::make<model::RenderNode>("model::RenderNode");
        render->setParent(0, controlNode_);
        node = render;
    }
    node->setName(nodeName_);
    node->setMaterial(material_);
    if (!node->setGeometry(std::move(vertexMap), indices_)) return "Vertex data doesn't match the material's vertex format.";

    if (const HeldBlock* damage = findBlock(BT_Damage)) {
        if (const auto* damageBlock = dynamic_cast<const DamageBlock*>(damage->block)) {
            if (skin) skin->setDamageArgument(damageBlock->getArgument());
            else render->setDamageArgument(0, damageBlock->getArgument());
        }
    }

    modelNode_ = node;
    return {};
}

// --- Python class ------------------------------------------------------

void declarePBRNode(py::module_& m) { py::class_<PBRNode, IRenderNode>(m, "PBRNode"); }

void bindPBRNode(py::module_& m) {
    py::class_<PBRNode, IRenderNode>(m.attr("PBRNode"))
        .def(py::init<std::string, std::string>(), py::arg("name"), py::arg("material"),
             "A render node whose material is made of blocks.")
        .def("getName", &PBRNode::getName, "The node's name once built, else EMPTY PBRNode.")
        .def("setIndices", [](PBRNode& self, const IndexArray& indices) { self.setIndices(toIndexList(indices)); },
             py::arg("indices"), "Sets the triangle indices.")
        .def("setShadowCaster", &PBRNode::setShadowCaster, py::arg("mode"),
             "Sets how the node casts shadows: 0, 1 or 2.")
        .def("setTransparentMode", &PBRNode::setTransparentMode, py::arg("mode"), "Sets the blending mode, 0 to 3.")
        .def("setDecalId", &PBRNode::setDecalId, py::arg("id"), "Sets the decal number.")
        // Taken as IBlock so that the signature names it; the node keeps the
        // script's own object (found again from the pointer).
        .def("addBlock",
             [](PBRNode& self, IBlock* block) {
                 self.addBlock(block ? py::cast(block, py::return_value_policy::reference) : py::none());
             }, py::arg("block"), "Adds a block, replacing one of the same type; None is ignored.")
        .def("setTwoSided", &PBRNode::setTwoSided, py::arg("twoSided"), "Sets whether both faces are drawn.")
        .def("setControlNode", &PBRNode::setControlNode, py::arg("node"), "Hangs the render node below node.")
        .def("hasBlock", &PBRNode::hasBlock, py::arg("typeName"), "Whether a block of that type name was added.")
        .def(
            "getBlock",
            [](const PBRNode& self, const std::string& typeName) -> IBlock* {
                py::object block = self.getBlock(typeName);
                return block.is_none() ? nullptr : block.cast<IBlock*>();
            },
            py::return_value_policy::reference, py::arg("typeName"), "The block of that type name, or None.");
}

}  // namespace pytav
