#pragma once
// model::ArgAnimationNode: a transform node driven by animation arguments.
//
// The node's transform matrix (getMatrix/setMatrix, also named the base
// matrix) is the last factor of its animated matrix:
//
//   evaluateMatrix(args) = scale entries' O*S*O^-1 (entry order)
//                          * baseScaleOrientation-oriented base scale
//                          * R * translation(P) * base matrix
//
// with P = base position + the value of every position entry, and R the
// rotation matrix of the base rotation combined with the product of every
// rotation entry's quaternion (entry order). Each entry is evaluated at
// args.getArgument(entry.argument) (see AnimationEvaluation.h).
//
// Contract:
//  - Entries keep their order; keys are kept as given.
//  - getSavedType(): the id the node is written under, by which of the three
//    lists are non-empty: none or only scale -> ArgScaleNode (3); only
//    rotation -> ArgRotationNode (2); only position -> ArgPositionNode (4);
//    any other mix -> ArgAnimationNode (1).
//  - multiplyLocalMatrix(args, M): M := M * evaluateMatrix(args).
//  - mergeTransform(M) and takeTransform(M, any): base matrix := base * M;
//    takeTransform returns the identity.
//  - forEachArgument(): the node's properties, then the argument of every
//    position, rotation and scale entry, in that order.
//  - hasNoKeys(): no entry of the three lists holds a key.
//  - getType() 1, visitor slot ArgAnimationNode, optimiser kind 0. The class
//    is also made by the registry under "model::ArgScaleNode",
//    "model::ArgRotationNode" and "model::ArgPositionNode".

#include <cstdint>
#include <vector>

#include "nodes/AnimationEvaluation.h"
#include "nodes/TransformNode.h"

namespace model {

struct PositionAnimation {
    std::uint32_t argument = kNoArgument;
    std::vector<PositionKey> keys;
    friend bool operator==(const PositionAnimation&, const PositionAnimation&) = default;
};

struct RotationAnimation {
    std::uint32_t argument = kNoArgument;
    std::vector<RotationKey> keys;
    friend bool operator==(const RotationAnimation&, const RotationAnimation&) = default;
};

// A scale along axes that can themselves be rotated: the orientation keys
// (interpolated as rotations) come first in files, then the scale keys.
struct ScaleAnimation {
    std::uint32_t argument = kNoArgument;
    std::vector<RotationKey> orientationKeys;
    std::vector<ScaleKey> scaleKeys;
    friend bool operator==(const ScaleAnimation&, const ScaleAnimation&) = default;
};

class ArgAnimationNode : public TransformNode {
public:
    ArgAnimationNode() = default;
    ArgAnimationNode(const ArgAnimationNode&) = default;
    ~ArgAnimationNode() override = default;

    // The base matrix is the transform node's matrix.
    const Matrix44d& getBaseMatrix() const noexcept { return getMatrix(); }
    void setBaseMatrix(const Matrix44d& m) noexcept { setMatrix(m); }

    const std::vector<PositionAnimation>& getPositionAnimations() const noexcept { return position_; }
    void setPositionAnimations(std::vector<PositionAnimation> entries) { position_ = std::move(entries); }
    const std::vector<RotationAnimation>& getRotationAnimations() const noexcept { return rotation_; }
    void setRotationAnimations(std::vector<RotationAnimation> entries) { rotation_ = std::move(entries); }
    const std::vector<ScaleAnimation>& getScaleAnimations() const noexcept { return scale_; }
    void setScaleAnimations(std::vector<ScaleAnimation> entries) { scale_ = std::move(entries); }

    // Base values, in the order files store them.
    const Vec3d& getBasePosition() const noexcept { return basePosition_; }
    void setBasePosition(const Vec3d& v) noexcept { basePosition_ = v; }
    const Quatd& getBaseRotation() const noexcept { return baseRotation_; }
    void setBaseRotation(const Quatd& q) noexcept { baseRotation_ = q; }
    const Quatd& getBaseScaleOrientation() const noexcept { return baseScaleOrientation_; }
    void setBaseScaleOrientation(const Quatd& q) noexcept { baseScaleOrientation_ = q; }
    const Vec3d& getBaseScale() const noexcept { return baseScale_; }
    void setBaseScale(const Vec3d& v) noexcept { baseScale_ = v; }

    // The node's matrix under args (see the file comment).
    Matrix44d evaluateMatrix(const IModelArguments& args) const;

    virtual bool hasNoKeys() const;

    NodeType getSavedType() const override;
    void mergeTransform(const Matrix44d& m) override;
    void multiplyLocalMatrix(const IModelArguments& args, Matrix44d& m) const override;
    Matrix44d takeTransform(const Matrix44d& m, bool handOn) override;
    void forEachArgument(const ArgumentCallback& callback) const override;

    NodeType getType() const override { return NodeType::ArgAnimationNode; }
    void accept(INodeVisitor& visitor) override;
    void accept(INodeVisitor& visitor) const override;

private:
    std::vector<PositionAnimation> position_;
    std::vector<RotationAnimation> rotation_;
    std::vector<ScaleAnimation> scale_;
    Vec3d basePosition_{0.0, 0.0, 0.0};
    Quatd baseRotation_ = kIdentityQuat;
    Quatd baseScaleOrientation_ = kIdentityQuat;
    Vec3d baseScale_{1.0, 1.0, 1.0};
};

}  // namespace model
