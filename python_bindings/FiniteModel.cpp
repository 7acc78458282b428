// The last check of a save: every number the writers take is finite.

#include "FiniteModel.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

#include <osg/Vec2f>
#include <osg/Vec3f>
#include <osg/Vec4f>

#include "AnimatedProperty.h"
#include "BaseMaterial.h"
#include "FiniteVertexData.h"
#include "IPropertyVisitor.h"
#include "StaticProperty.h"
#include "nodes/ArgAnimationNode.h"
#include "nodes/ArgVisibilityNode.h"
#include "nodes/BillboardNode.h"
#include "nodes/IBone.h"
#include "nodes/LightNode.h"
#include "nodes/LodNode.h"
#include "nodes/NumberNode.h"
#include "nodes/SegmentsNode.h"
#include "nodes/ShellNode.h"
#include "nodes/ShellSkinNode.h"
#include "nodes/SkinNode.h"
#include "nodes/TmpNumberRoot.h"
#include "nodes/TransformNode.h"
#include "qz/ExtException.h"

namespace pytav {

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

bool finite(const model::Matrix44d& m) noexcept {
    for (const double v : m.m)
        if (!finite(v)) return false;
    return true;
}

bool finite(const model::BoundingBox& box) noexcept { return finite(box.minimum) && finite(box.maximum); }

bool finite(const model::NumberControlList& controls) noexcept {
    for (const model::NumberControl& c : controls)
        if (!finite(c.value) || !finite(c.value2)) return false;
    return true;
}

template <class Key>
bool finiteKeys(const std::vector<Key>& keys) noexcept {
    for (const Key& k : keys)
        if (!finite(k.time) || !finite(k.value)) return false;
    return true;
}

class FinitePropertyCheck final : public model::IPropertyVisitor {
public:
    bool finiteValues = true;

    void visit(const model::AnimatedVec4fProperty& p) override { finiteValues = finiteKeys(p.getKeys()); }
    void visit(const model::AnimatedVec3fProperty& p) override { finiteValues = finiteKeys(p.getKeys()); }
    void visit(const model::AnimatedVec2fProperty& p) override { finiteValues = finiteKeys(p.getKeys()); }
    void visit(const model::AnimatedFloatProperty& p) override { finiteValues = finiteKeys(p.getKeys()); }
    void visit(const model::ArgumentProperty&) override {}
    void visit(const model::StringProperty&) override {}
    void visit(const model::Vec4fProperty& p) override { finiteValues = finite(p.getValue()); }
    void visit(const model::Vec3fProperty& p) override { finiteValues = finite(p.getValue()); }
    void visit(const model::Vec2fProperty& p) override { finiteValues = finite(p.getValue()); }
    void visit(const model::UIntProperty&) override {}
    void visit(const model::FloatProperty& p) override { finiteValues = finite(p.getValue()); }
};

bool finite(const model::PropertyList& properties) {
    for (const model::PropertyPtr& p : properties)
        if (p && !isFiniteProperty(*p)) return false;
    return true;
}

template <std::size_t N>
bool finite(const std::array<model::PropertyPtr, N>& properties) {
    for (const model::PropertyPtr& p : properties)
        if (p && !isFiniteProperty(*p)) return false;
    return true;
}

void require(bool ok, const char* what, const std::string& name) {
    if (!ok) QZ_THROW(std::string(what) + " of " + name + " holds a value that is not finite.");
}

void requireBox(const model::BoundingBox& box, const char* what) {
    if (!finite(box)) QZ_THROW(std::string(what) + " holds a value that is not finite.");
}

bool finiteAnimation(const model::ArgAnimationNode& node) {
    for (const auto& entry : node.getPositionAnimations())
        if (!finiteKeys(entry.keys)) return false;
    for (const auto& entry : node.getRotationAnimations())
        if (!finiteKeys(entry.keys)) return false;
    for (const auto& entry : node.getScaleAnimations())
        if (!finiteKeys(entry.orientationKeys) || !finiteKeys(entry.scaleKeys)) return false;
    return finite(node.getBasePosition()) && finite(node.getBaseRotation()) &&
           finite(node.getBaseScaleOrientation()) && finite(node.getBaseScale());
}

bool finiteRanges(const model::Node& node) {
    if (const auto* lod = dynamic_cast<const model::LodNode*>(&node)) {
        for (const model::LodRange& r : lod->getRanges())
            if (!finite(r.lower) || !finite(r.upper)) return false;
    }
    if (const auto* visibility = dynamic_cast<const model::ArgVisibilityNode*>(&node)) {
        for (const model::VisibilityEntry& entry : visibility->getEntries())
            for (const model::VisibilityRange& r : entry.ranges)
                if (!finite(r.start) || !finite(r.end)) return false;
    }
    return true;
}

void checkTreeNode(const model::Node& node) {
    const std::string& name = node.getName();
    if (const auto* transform = dynamic_cast<const model::TransformNode*>(&node))
        require(finite(transform->getMatrix()), "Matrix", name);
    if (const auto* bone = dynamic_cast<const model::IBone*>(&node))
        require(finite(bone->getBoneMatrix()), "Bone matrix", name);
    if (const auto* animation = dynamic_cast<const model::ArgAnimationNode*>(&node))
        require(finiteAnimation(*animation), "Animation", name);
    if (const auto* billboard = dynamic_cast<const model::BillboardNode*>(&node))
        require(finite(billboard->getAxis()), "Axis", name);
    if (const auto* numberRoot = dynamic_cast<const model::TmpNumberRoot*>(&node))
        require(finite(numberRoot->getControls()), "Controls", name);
    require(finiteRanges(node), "Ranges", name);
    require(finite(node.getProperties()), "Properties", name);
}

// Pre-order without recursion: models nest deeply enough (long bone chains)
// that a recursive walk would risk the stack.
void checkTree(const model::Node* top) {
    std::vector<const model::Node*> pending;
    if (top) pending.push_back(top);
    while (!pending.empty()) {
        const model::Node* node = pending.back();
        pending.pop_back();
        checkTreeNode(*node);
        const std::size_t firstChild = pending.size();
        for (const model::Node* c = node->firstChildNode(); c; c = c->nextSiblingNode()) pending.push_back(c);
        std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(firstChild), pending.end());
    }
}

void checkRenderNode(const model::BaseRenderNode& node) {
    const std::string& name = node.getName();
    require(hasFiniteVertexData(node), "Vertex data", name);
    if (const auto& material = node.getMaterial()) require(finite(material->getUniforms()), "Material", name);
    if (const auto* number = dynamic_cast<const model::NumberNode*>(&node)) {
        for (const model::NumberControlList& controls : number->getControlEntries())
            require(finite(controls), "Controls", name);
    }
    if (const auto* skin = dynamic_cast<const model::SkinNode*>(&node))
        require(finite(skin->getBoundingBox()), "Box", name);
}

bool finiteSegments(const model::SegmentsNode& node) noexcept {
    for (const model::Segment& s : node.getSegments())
        if (!finite(s.start) || !finite(s.end)) return false;
    return true;
}

void checkBaseNode(const model::BaseNode& node) {
    const std::string& name = node.getName();
    require(finite(node.getProperties()), "Properties", name);
    if (const auto* render = dynamic_cast<const model::BaseRenderNode*>(&node)) checkRenderNode(*render);
    if (const auto* shell = dynamic_cast<const model::ShellNode*>(&node))
        require(hasFiniteValues(shell->getVertices()), "Vertex data", name);
    if (const auto* skinShell = dynamic_cast<const model::ShellSkinNode*>(&node)) {
        require(hasFiniteValues(skinShell->getVertices()), "Vertex data", name);
        require(finite(skinShell->getBoundingBox()), "Box", name);
    }
    if (const auto* segments = dynamic_cast<const model::SegmentsNode*>(&node))
        require(finiteSegments(*segments), "Segments", name);
    if (const auto* light = dynamic_cast<const model::LightNode*>(&node))
        require(finite(light->getParameters()), "Parameters", name);
}

}  // namespace

bool isFiniteProperty(const model::IProperty& property) {
    FinitePropertyCheck check;
    property.accept(check);
    return check.finiteValues;
}

void checkFiniteModel(const model::RootNode& root) {
    // The boxes come from the nodes: a node's own fault is named first.
    checkTree(root.getTopNode().get());
    for (const model::BaseNode* node : root.getAllBaseNodePointers()) checkBaseNode(*node);
    requireBox(root.getBoundingBox(), "Bounding box");
    requireBox(root.getUserBox(), "User box");
    requireBox(root.getLightBox(), "Light box");
}

}  // namespace pytav
