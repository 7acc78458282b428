// The last check of a save: every number the writers take is finite.

#include "utils/FiniteModel.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include <osg/Vec2f>
#include <osg/Vec3f>
#include <osg/Vec4f>

#include "AnimatedProperty.h"
#include "BaseMaterial.h"
#include "INodeVisitor.h"
#include "IPropertyVisitor.h"
#include "StaticProperty.h"
#include "nodes/ArgAnimatedBone.h"
#include "nodes/ArgAnimationNode.h"
#include "nodes/ArgVisibilityNode.h"
#include "nodes/BillboardNode.h"
#include "nodes/Bone.h"
#include "nodes/Connector.h"
#include "nodes/IBone.h"
#include "nodes/LightNode.h"
#include "nodes/LodNode.h"
#include "nodes/NumberNode.h"
#include "nodes/RenderNode.h"
#include "nodes/SegmentsNode.h"
#include "nodes/ShellNode.h"
#include "nodes/ShellSkinNode.h"
#include "nodes/SkinNode.h"
#include "nodes/TmpNumberRoot.h"
#include "nodes/TransformNode.h"
#include "qz/ExtException.h"
#include "utils/FiniteVertexData.h"

namespace model::utils {

namespace {

bool finite(double v) noexcept { return std::isfinite(v); }
bool finite(const osg::Vec2f& v) noexcept { return finite(v.x()) && finite(v.y()); }
bool finite(const osg::Vec3f& v) noexcept { return finite(v.x()) && finite(v.y()) && finite(v.z()); }
bool finite(const osg::Vec4f& v) noexcept { return finite(v.x()) && finite(v.y()) && finite(v.z()) && finite(v.w()); }

template <class T, std::size_t N>
bool finite(const std::array<T, N>& values) noexcept {
    for (const T v : values)
        if (!finite(v)) return false;
    return true;
}

bool finite(const Matrix44d& m) noexcept {
    for (const double v : m.m)
        if (!finite(v)) return false;
    return true;
}

bool finite(const BoundingBox& box) noexcept { return finite(box.minimum) && finite(box.maximum); }

bool finite(const NumberControlList& controls) noexcept {
    for (const NumberControl& c : controls)
        if (!finite(c.value) || !finite(c.value2)) return false;
    return true;
}

template <class Key>
bool finiteKeys(const std::vector<Key>& keys) noexcept {
    for (const Key& k : keys)
        if (!finite(k.time) || !finite(k.value)) return false;
    return true;
}

class FinitePropertyCheck final : public IPropertyVisitor {
public:
    bool finiteValues = true;

    void visit(const AnimatedVec4fProperty& p) override { finiteValues = finiteKeys(p.getKeys()); }
    void visit(const AnimatedVec3fProperty& p) override { finiteValues = finiteKeys(p.getKeys()); }
    void visit(const AnimatedVec2fProperty& p) override { finiteValues = finiteKeys(p.getKeys()); }
    void visit(const AnimatedFloatProperty& p) override { finiteValues = finiteKeys(p.getKeys()); }
    void visit(const ArgumentProperty&) override {}
    void visit(const StringProperty&) override {}
    void visit(const Vec4fProperty& p) override { finiteValues = finite(p.getValue()); }
    void visit(const Vec3fProperty& p) override { finiteValues = finite(p.getValue()); }
    void visit(const Vec2fProperty& p) override { finiteValues = finite(p.getValue()); }
    void visit(const UIntProperty&) override {}
    void visit(const FloatProperty& p) override { finiteValues = finite(p.getValue()); }
};

bool finite(const PropertyList& properties) {
    for (const PropertyPtr& p : properties)
        if (p && !isFiniteProperty(*p)) return false;
    return true;
}

template <std::size_t N>
bool finite(const std::array<PropertyPtr, N>& properties) {
    for (const PropertyPtr& p : properties)
        if (p && !isFiniteProperty(*p)) return false;
    return true;
}

void require(bool ok, const char* what, const std::string& name) {
    if (!ok) QZ_THROW(std::string(what) + " of " + name + " holds a value that is not finite.");
}

void requireBox(const BoundingBox& box, const char* what) {
    if (!finite(box)) QZ_THROW(std::string(what) + " holds a value that is not finite.");
}

bool finiteAnimation(const ArgAnimationNode& node) {
    for (const auto& entry : node.getPositionAnimations())
        if (!finiteKeys(entry.keys)) return false;
    for (const auto& entry : node.getRotationAnimations())
        if (!finiteKeys(entry.keys)) return false;
    for (const auto& entry : node.getScaleAnimations())
        if (!finiteKeys(entry.orientationKeys) || !finiteKeys(entry.scaleKeys)) return false;
    return finite(node.getBasePosition()) && finite(node.getBaseRotation()) &&
           finite(node.getBaseScaleOrientation()) && finite(node.getBaseScale());
}

bool finiteRanges(const LodNode& node) {
    for (const LodRange& r : node.getRanges())
        if (!finite(r.lower) || !finite(r.upper)) return false;
    return true;
}

bool finiteRanges(const ArgVisibilityNode& node) {
    for (const VisibilityEntry& entry : node.getEntries())
        for (const VisibilityRange& r : entry.ranges)
            if (!finite(r.start) || !finite(r.end)) return false;
    return true;
}

bool finiteSegments(const SegmentsNode& node) noexcept {
    for (const Segment& s : node.getSegments())
        if (!finite(s.start) || !finite(s.end)) return false;
    return true;
}

// One visit per node kind, each naming the checks of the kind and of the
// classes it derives from, in the order: matrix, bone matrix, animation,
// axis, controls, ranges, then properties (tree nodes); properties, vertex
// data, material, controls, box, segments, parameters (base nodes).
class FiniteCheck final : public INodeVisitor {
public:
    // The verdicts of hasFiniteValues on the vertex data of the base nodes,
    // made beforehand; data not among them is checked when visited.
    explicit FiniteCheck(const std::unordered_map<const Vertices*, bool>& verdicts) : verdicts_(verdicts) {}

    // Tree nodes.
    void visit(const Node& node) override {
        // A number root visits as a plain node.
        if (const auto* numberRoot = dynamic_cast<const TmpNumberRoot*>(&node))
            require(finite(numberRoot->getControls()), "Controls", node.getName());
        properties(node);
    }
    void visit(const TransformNode& node) override {
        matrix(node);
        properties(node);
    }
    void visit(const Bone& node) override {
        matrix(node);
        boneMatrix(node);
        properties(node);
    }
    void visit(const ArgAnimationNode& node) override {
        matrix(node);
        require(finiteAnimation(node), "Animation", node.getName());
        properties(node);
    }
    void visit(const ArgAnimatedBone& node) override {
        matrix(node);
        boneMatrix(node);
        require(finiteAnimation(node), "Animation", node.getName());
        properties(node);
    }
    void visit(const BillboardNode& node) override {
        matrix(node);
        require(finite(node.getAxis()), "Axis", node.getName());
        properties(node);
    }
    void visit(const LodNode& node) override {
        require(finiteRanges(node), "Ranges", node.getName());
        properties(node);
    }
    void visit(const ArgVisibilityNode& node) override {
        require(finiteRanges(node), "Ranges", node.getName());
        properties(node);
    }

    // Base nodes.
    void visit(const RootNode& node) override { properties(node); }
    void visit(const Connector& node) override { properties(node); }
    void visit(const LightNode& node) override {
        properties(node);
        require(finite(node.getParameters()), "Parameters", node.getName());
    }
    void visit(const RenderNode& node) override { mesh(node); }
    void visit(const NumberNode& node) override {
        mesh(node);
        for (const NumberControlList& controls : node.getControlEntries())
            require(finite(controls), "Controls", node.getName());
    }
    void visit(const SkinNode& node) override {
        mesh(node);
        require(finite(node.getBoundingBox()), "Box", node.getName());
    }
    void visit(const AnimatedFakeSpotLightsNode& node) override { lights(node); }
    void visit(const FakeSpotLightsNode& node) override { lights(node); }
    void visit(const AnimatedFakeOmniLightsNode& node) override { lights(node); }
    void visit(const FakeOmniLightsNode& node) override { lights(node); }
    void visit(const ShellNode& node) override {
        properties(node);
        require(finiteVertices(node.getVertices()), "Vertex data", node.getName());
    }
    void visit(const ShellSkinNode& node) override {
        properties(node);
        require(finiteVertices(node.getVertices()), "Vertex data", node.getName());
        require(finite(node.getBoundingBox()), "Box", node.getName());
    }
    void visit(const SegmentsNode& node) override {
        properties(node);
        require(finiteSegments(node), "Segments", node.getName());
    }

private:
    template <class N>
    static void properties(const N& node) {
        require(finite(node.getProperties()), "Properties", node.getName());
    }
    static void matrix(const TransformNode& node) { require(finite(node.getMatrix()), "Matrix", node.getName()); }
    template <class B>
    static void boneMatrix(const B& node) {
        require(finite(static_cast<const IBone&>(node).getBoneMatrix()), "Bone matrix", node.getName());
    }
    static void material(const BaseRenderNode& node) {
        if (const auto& m = node.getMaterial()) require(finite(m->getUniforms()), "Material", node.getName());
    }
    void mesh(const BaseMeshRenderNode& node) const {
        properties(node);
        require(finiteVertices(node.getVertices()), "Vertex data", node.getName());
        material(node);
    }
    bool finiteVertices(const Vertices& vertices) const {
        const auto verdict = verdicts_.find(&vertices);
        return verdict != verdicts_.end() ? verdict->second : hasFiniteValues(vertices);
    }
    template <class Lights>
    static void lights(const Lights& node) {
        properties(node);
        require(hasFiniteLights(node), "Vertex data", node.getName());
        material(node);
    }

    const std::unordered_map<const Vertices*, bool>& verdicts_;
};

const Vertices* verticesOf(const BaseNode& node) {
    if (const auto* mesh = dynamic_cast<const BaseMeshRenderNode*>(&node)) return &mesh->getVertices();
    if (const auto* shell = dynamic_cast<const ShellNode*>(&node)) return &shell->getVertices();
    if (const auto* shell = dynamic_cast<const ShellSkinNode*>(&node)) return &shell->getVertices();
    return nullptr;
}

// Pre-order without recursion: models nest deeply enough (long bone chains)
// that a recursive walk would risk the stack.
void checkTree(const Node* top, FiniteCheck& check) {
    std::vector<const Node*> pending;
    if (top) pending.push_back(top);
    while (!pending.empty()) {
        const Node* node = pending.back();
        pending.pop_back();
        node->accept(check);
        const std::size_t firstChild = pending.size();
        for (const Node* c = node->firstChildNode(); c; c = c->nextSiblingNode()) pending.push_back(c);
        std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(firstChild), pending.end());
    }
}

}  // namespace

bool isFiniteProperty(const IProperty& property) {
    FinitePropertyCheck check;
    property.accept(check);
    return check.finiteValues;
}

void checkFiniteModel(const RootNode& root, const Workers& workers) {
    // Vertex data holds nearly all of the numbers: it is checked first, all
    // of it at once on the workers; the walk then names the first fault in
    // its own order.
    std::vector<const Vertices*> all;
    for (const BaseNode* node : root.getAllBaseNodePointers())
        if (const Vertices* vertices = verticesOf(*node)) all.push_back(vertices);
    const std::vector<std::uint8_t> finite = haveFiniteValues(all, workers);
    std::unordered_map<const Vertices*, bool> verdicts;
    for (std::size_t k = 0; k < all.size(); ++k) verdicts.emplace(all[k], finite[k] != 0);

    // The boxes come from the nodes: a node's own fault is named first.
    FiniteCheck check(verdicts);
    checkTree(root.getTopNode().get(), check);
    for (const BaseNode* node : root.getAllBaseNodePointers()) node->accept(check);
    requireBox(root.getBoundingBox(), "Bounding box");
    requireBox(root.getUserBox(), "User box");
    requireBox(root.getLightBox(), "Light box");
}

}  // namespace model::utils
