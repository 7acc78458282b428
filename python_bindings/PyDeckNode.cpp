// Python class DeckNode.

#include "PyDeckNode.h"

#include <cmath>
#include <stdexcept>

#include <fmt/format.h>
#include <osg/Vec2f>
#include <osg/Vec3f>
#include "ScriptTypeNames.h"

#include "Bindings.h"
#include "DeckTangents.h"
#include "Texture.h"

namespace py = pybind11;

namespace pytav {

namespace {

// Texture uses of the deck material and the channel each reads.
constexpr std::size_t kTiledUses[] = {0, 1, 2};
constexpr std::size_t kRegularUses[] = {3, 4, 7};
constexpr std::uint32_t kTiledChannel = 0;
constexpr std::uint32_t kRegularChannel = 1;

// Texture slots of the deck material.
enum DeckSlot : std::size_t {
    kBaseTiledSlot = 0,
    kNormalTiledSlot = 1,
    kAormsTiledSlot = 2,
    kBaseSlot = 3,
    kAormsSlot = 4,
    kRainMaskSlot = 5,
    kDamageMaskSlot = 6,
    kDamageSlot = 7,
    kDamageMaskRGBASlot = 9,
};

constexpr std::uint32_t kHighestBlending = 3;
constexpr std::uint32_t kHighestDecalId = 255;

}  // namespace

DeckNode::DeckNode(const std::string& nodeName, const std::string& materialTitle)
    : FixedMaterialRenderNode(nodeName, materialTitle, "deck_material",
                              {{model::POSITION0, 4},
                               {model::NORMAL0, 3},
                               {model::TANGENT0, 3},
                               {model::BINORMAL0, 3},
                               {model::TEXCOORD0, 2},
                               {model::TEXCOORD1, 2}}) {
    model::TexCoordChannels& channels = material().getTexCoordChannels();
    for (std::size_t use : kTiledUses) channels[use] = kTiledChannel;
    for (std::size_t use : kRegularUses) channels[use] = kRegularChannel;
}

DeckNode::~DeckNode() = default;

void DeckNode::setTiledUV(const std::vector<float>& coordinates) { replaceAttribute(model::TEXCOORD0, coordinates); }

void DeckNode::setRegularUV(const std::vector<float>& coordinates) {
    replaceAttribute(model::TEXCOORD1, coordinates);
}


void DeckNode::setDecalId(std::uint32_t id) {
    if (id > kHighestDecalId) throw std::invalid_argument(fmt::format("Decal id {} is above 255.", id));
    decalId_ = static_cast<std::uint8_t>(id);
}

std::string DeckNode::build() {
    if (std::string message = checkAttributesSet({model::TANGENT0, model::BINORMAL0}); !message.empty())
        return message;
    if (indices().empty()) return "Indices aren't set.";
    if (baseTiledMap_.empty()) return "baseTiledMap isn't set.";
    if (normalTiledMap_.empty()) return "normalTiledMap isn't set.";
    if (aormsTiledMap_.empty()) return "aormsTiledMap isn't set.";
    if (baseMap_.empty()) return "baseMap isn't set.";
    if (aormsMap_.empty()) return "aormsMap isn't set.";
    if (!controlNode_) return kControlNodeNotSet;

    // The frame is computed, so it has the right size whenever the rest
    // does; sized here so that the geometry check covers the given data.
    model::Vertices frame = vertices();
    const std::size_t vertexCount = frame.getAttribute(model::POSITION0).rowCount();
    frame.getAttribute(model::TANGENT0).data.assign(vertexCount * 3, 0.0f);
    frame.getAttribute(model::BINORMAL0).data.assign(vertexCount * 3, 0.0f);
    if (std::string message = checkGeometry(frame); !message.empty()) return message;
    model::computeDeckTangentFrame(frame, indices(), frame.getAttribute(model::TANGENT0).data,
                            frame.getAttribute(model::BINORMAL0).data);
    if (std::string message = takeGeometry(std::move(frame)); !message.empty()) return message;

    model::PropertiesSet& deck = material();
    deck.setTexture(kBaseTiledSlot, model::makeTexture(baseTiledMap_));
    deck.setTexture(kNormalTiledSlot, model::makeTexture(normalTiledMap_));
    deck.setTexture(kAormsTiledSlot, model::makeTexture(aormsTiledMap_));
    deck.setTexture(kBaseSlot, model::makeTexture(baseMap_));
    deck.setTexture(kAormsSlot, model::makeTexture(aormsMap_));
    deck.setTexture(kDamageMaskSlot, model::makeTexture(damageMask_));
    deck.setTexture(kDamageSlot, model::makeTexture(damageMap_));
    deck.setTexture(kDamageMaskRGBASlot, model::makeTexture(damageMaskRGBA_));
    deck.setTexture(kRainMaskSlot, model::makeTexture(rainMask_));
    if (transparentMode_ >= 0 && static_cast<std::uint32_t>(transparentMode_) <= kHighestBlending)
        deck.setBlending(static_cast<std::uint32_t>(transparentMode_));
    deck.setDecal(decalId_);

    node().setParent(0, controlNode_);
    node().setDamageArgument(0, argument_);
    markBuilt();
    return {};
}

// --- Python class ------------------------------------------------------

void declareDeckNode(py::module_& m) { py::class_<DeckNode, IRenderNode>(m, "DeckNode"); }

void bindDeckNode(py::module_& m) {
    bindFixedMaterialNode<DeckNode, std::vector<float>>(m, "DeckNode")
        .def("setBaseTiledMap", &DeckNode::setBaseTiledMap, py::arg("file"),
             "Sets the tiled base texture's file name.")
        .def("setNormalTiledMap", &DeckNode::setNormalTiledMap, py::arg("file"),
             "Sets the tiled normal map's file name.")
        .def("setAormsTiledMap", &DeckNode::setAormsTiledMap, py::arg("file"),
             "Sets the tiled AORMS texture's file name.")
        .def("setBaseMap", &DeckNode::setBaseMap, py::arg("file"), "Sets the base texture's file name.")
        .def("setAormsMap", &DeckNode::setAormsMap, py::arg("file"), "Sets the AORMS texture's file name.")
        .def("setDamageMap", &DeckNode::setDamageMap, py::arg("file"), "Sets the damage texture's file name.")
        .def("setDamageMask", &DeckNode::setDamageMask, py::arg("file"), "Sets the damage mask's file name.")
        .def("setDamageMaskRGBA", &DeckNode::setDamageMaskRGBA, py::arg("file"),
             "Sets the RGBA damage mask's file name.")
        .def("setTiledUV", &DeckNode::setTiledUV, py::arg("coordinates"),
             "Sets the tiled texture coordinates, two floats per vertex.")
        .def("setRegularUV", &DeckNode::setRegularUV, py::arg("coordinates"),
             "Sets the regular texture coordinates, two floats per vertex.")
        .def("setRainMask", &DeckNode::setRainMask, py::arg("file"), "Sets the rain mask's file name.")
        .def("setIndices", &DeckNode::setIndices, py::arg("indices"), "Sets the triangle indices.")
        .def("setTransparentMode", &DeckNode::setTransparentMode, py::arg("mode"), "Sets the blending mode, 0 to 3.")
        .def("setDecalId", &DeckNode::setDecalId, py::arg("id"), "Sets the decal number.")
        .def("setArgument", &DeckNode::setArgument, py::arg("argument"), "Sets the argument that drives the damage.")
        .def("setControlNode", &DeckNode::setControlNode, py::arg("node"), "Hangs the render node below node.");
}

}  // namespace pytav
