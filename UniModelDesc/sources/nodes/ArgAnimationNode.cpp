#include "nodes/ArgAnimationNode.h"

#include "INodeVisitor.h"

namespace model {

Matrix44d ArgAnimationNode::evaluateMatrix(const IModelArguments& args) const {
    auto valueOf = [&args](std::uint32_t argument) { return static_cast<double>(args.getArgument(argument)); };

    Vec3d position = basePosition_;
    for (const PositionAnimation& entry : position_) {
        const Vec3d v = evaluatePositionKeys(entry.keys, valueOf(entry.argument));
        for (int i = 0; i < 3; ++i) position[i] += v[i];
    }

    Quatd animated = kIdentityQuat;
    for (const RotationAnimation& entry : rotation_)
        animated = multiplyQuaternions(animated, evaluateRotationKeys(entry.keys, valueOf(entry.argument)));
    // The base rotation applies first, the animated one after it.
    const Matrix44d rotation = rotationMatrix(multiplyQuaternions(animated, baseRotation_));

    Matrix44d result;
    for (const ScaleAnimation& entry : scale_) {
        const double a = valueOf(entry.argument);
        // A scale entry without scale keys leaves the size alone.
        const Vec3d s = entry.scaleKeys.empty() ? Vec3d{1.0, 1.0, 1.0} : evaluatePositionKeys(entry.scaleKeys, a);
        result = result * orientedScaleMatrix(evaluateRotationKeys(entry.orientationKeys, a), s);
    }
    result = result * orientedScaleMatrix(baseScaleOrientation_, baseScale_);
    return result * rotation * translationMatrix(position) * getMatrix();
}

bool ArgAnimationNode::hasNoKeys() const {
    for (const auto& e : position_)
        if (!e.keys.empty()) return false;
    for (const auto& e : rotation_)
        if (!e.keys.empty()) return false;
    for (const auto& e : scale_)
        if (!e.orientationKeys.empty() || !e.scaleKeys.empty()) return false;
    return true;
}

NodeType ArgAnimationNode::getSavedType() const {
    const bool p = !position_.empty();
    const bool r = !rotation_.empty();
    const bool s = !scale_.empty();
    if (!p && !r) return NodeType::ArgScaleNode;
    if (!p && r && !s) return NodeType::ArgRotationNode;
    if (p && !r && !s) return NodeType::ArgPositionNode;
    return NodeType::ArgAnimationNode;
}

void ArgAnimationNode::mergeTransform(const Matrix44d& m) { setMatrix(getMatrix() * m); }

void ArgAnimationNode::multiplyLocalMatrix(const IModelArguments& args, Matrix44d& m) const {
    m = m * evaluateMatrix(args);
}

Matrix44d ArgAnimationNode::takeTransform(const Matrix44d& m, bool) {
    setMatrix(getMatrix() * m);
    return Matrix44d::identity();
}

void ArgAnimationNode::forEachArgument(const ArgumentCallback& callback) const {
    Node::forEachArgument(callback);
    for (const auto& e : position_) callback(e.argument);
    for (const auto& e : rotation_) callback(e.argument);
    for (const auto& e : scale_) callback(e.argument);
}

void ArgAnimationNode::accept(INodeVisitor& visitor) { visitor.visit(*this); }
void ArgAnimationNode::accept(INodeVisitor& visitor) const { visitor.visit(*this); }

}  // namespace model
