// Python class DeckNode and the tangent frame of deck surfaces.

#include "PyDeckNode.h"

#include <cmath>
#include <stdexcept>

#include <fmt/format.h>
#include <osg/Vec2f>
#include <osg/Vec3f>
#include "ScriptTypeNames.h"

#include "Bindings.h"
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

// Triangles whose texture mapping is this close to degenerate give no usable
// direction; their neighbours decide.
constexpr float kDegenerateMapping = 1e-5f;
// Below this the accumulated tangent is too short to trust (opposite
// mappings cancelled out), so any direction across the normal will do.
constexpr float kShortTangent = 0.01f;

osg::Vec3f row3(const std::vector<float>& data, std::size_t stride, std::size_t vertex) {
    const float* p = data.data() + vertex * stride;
    return osg::Vec3f(p[0], p[1], p[2]);
}

osg::Vec2f row2(const std::vector<float>& data, std::size_t vertex) {
    const float* p = data.data() + vertex * 2;
    return osg::Vec2f(p[0], p[1]);
}

void normalise(osg::Vec3f& v) {
    const float length = v.length();
    if (length > 0.0f) v /= length;
}

}  // namespace

void computeDeckTangentFrame(const model::Vertices& vertices, const std::vector<std::uint32_t>& indices,
                             std::vector<float>& tangents, std::vector<float>& binormals) {
    const model::VertexAttribute& positions = vertices.getAttribute(model::POSITION0);
    const model::VertexAttribute& normals = vertices.getAttribute(model::NORMAL0);
    const model::VertexAttribute& coordinates = vertices.getAttribute(model::TEXCOORD0);
    const std::size_t vertexCount = positions.rowCount();
    if (normals.rowCount() < vertexCount || coordinates.rowCount() < vertexCount || positions.components < 3 ||
        normals.components < 3 || coordinates.components != 2)
        throw std::out_of_range("Deck vertex data is incomplete.");
    for (std::uint32_t index : indices) {
        if (index >= vertexCount) throw std::out_of_range(fmt::format("Index {} is out of range.", index));
    }

    std::vector<osg::Vec3f> s(vertexCount, osg::Vec3f(0, 0, 0));
    std::vector<osg::Vec3f> t(vertexCount, osg::Vec3f(0, 0, 0));
    for (std::size_t i = 0; i + 2 < indices.size(); i += 3) {
        const std::uint32_t i0 = indices[i], i1 = indices[i + 1], i2 = indices[i + 2];
        const osg::Vec3f p0 = row3(positions.data, positions.components, i0);
        const osg::Vec3f e1 = row3(positions.data, positions.components, i1) - p0;
        const osg::Vec3f e2 = row3(positions.data, positions.components, i2) - p0;
        const osg::Vec2f c0 = row2(coordinates.data, i0);
        const osg::Vec2f d1 = row2(coordinates.data, i1) - c0;
        const osg::Vec2f d2 = row2(coordinates.data, i2) - c0;
        const float ds1 = d1.x(), dt1 = d1.y(), ds2 = d2.x(), dt2 = d2.y();
        const float d = dt2 * ds1 - ds2 * dt1;
        if (std::fabs(d) < kDegenerateMapping) continue;
        const osg::Vec3f sdir = (e1 * dt2 - e2 * dt1) / d;
        const osg::Vec3f tdir = (e2 * ds1 - e1 * ds2) / d;
        for (std::uint32_t v : {i0, i1, i2}) {
            s[v] += sdir;
            t[v] += tdir;
        }
    }

    tangents.assign(vertexCount * 3, 0.0f);
    binormals.assign(vertexCount * 3, 0.0f);
    for (std::size_t v = 0; v < vertexCount; ++v) {
        const osg::Vec3f n = row3(normals.data, normals.components, v);
        osg::Vec3f tangent = s[v] - n * (s[v] * n);
        if (tangent.length() < kShortTangent) {
            const osg::Vec3f acrossZ = n ^ osg::Vec3f(0, 0, 1);
            const osg::Vec3f acrossY = n ^ osg::Vec3f(0, 1, 0);
            tangent = acrossZ.length2() > acrossY.length2() ? acrossZ : acrossY;
        }
        normalise(tangent);
        osg::Vec3f binormal = n ^ tangent;
        normalise(binormal);
        if (binormal * t[v] < 0.0f) binormal = -binormal;
        for (int k = 0; k < 3; ++k) {
            tangents[v * 3 + k] = tangent[k];
            binormals[v * 3 + k] = binormal[k];
        }
    }
}

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

void DeckNode::setPositions(const std::vector<float>& positions) { appendPositions(positions); }
void DeckNode::setNormals(const std::vector<float>& normals) { replaceAttribute(model::NORMAL0, normals); }
void DeckNode::setTiledUV(const std::vector<float>& coordinates) { replaceAttribute(model::TEXCOORD0, coordinates); }

void DeckNode::setRegularUV(const std::vector<float>& coordinates) {
    replaceAttribute(model::TEXCOORD1, coordinates);
}

void DeckNode::setIndices(const std::vector<std::uint32_t>& indices) { replaceIndices(indices); }

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
    computeDeckTangentFrame(frame, indices(), frame.getAttribute(model::TANGENT0).data,
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
    py::class_<DeckNode, IRenderNode>(m.attr("DeckNode"))
        .def(py::init<const std::string&, const std::string&>())
        .def("setPositions", &DeckNode::setPositions)
        .def("setNormals", &DeckNode::setNormals)
        .def("setBaseTiledMap", &DeckNode::setBaseTiledMap)
        .def("setNormalTiledMap", &DeckNode::setNormalTiledMap)
        .def("setAormsTiledMap", &DeckNode::setAormsTiledMap)
        .def("setBaseMap", &DeckNode::setBaseMap)
        .def("setAormsMap", &DeckNode::setAormsMap)
        .def("setDamageMap", &DeckNode::setDamageMap)
        .def("setDamageMask", &DeckNode::setDamageMask)
        .def("setDamageMaskRGBA", &DeckNode::setDamageMaskRGBA)
        .def("setTiledUV", &DeckNode::setTiledUV)
        .def("setRegularUV", &DeckNode::setRegularUV)
        .def("setRainMask", &DeckNode::setRainMask)
        .def("setIndices", &DeckNode::setIndices)
        .def("setTransparentMode", &DeckNode::setTransparentMode)
        .def("setDecalId", &DeckNode::setDecalId)
        .def("setArgument", &DeckNode::setArgument)
        .def("setControlNode", &DeckNode::setControlNode);
}

}  // namespace pytav
