// Evaluation of animation keys and of an animation node's matrix.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>

#include "Node.h"
#include "nodes/AnimationEvaluation.h"
#include "nodes/ArgAnimationNode.h"
#include "nodes/TransformNode.h"

using namespace model;

namespace {

struct Args : IModelArguments {
    std::map<uint32_t, float> values;
    float getArgument(uint32_t a) const override {
        auto it = values.find(a);
        return it == values.end() ? 0.0f : it->second;
    }
};

const double kHalf = std::sqrt(0.5);

// Quaternion of a turn by `degrees` about z.
Quatd aboutZ(double degrees) {
    const double h = degrees * M_PI / 360.0;
    return {0, 0, std::sin(h), std::cos(h)};
}

void expectPoint(const Matrix44d& m, std::array<double, 3> in, std::array<double, 3> expected) {
    const auto p = m.transformPoint(in[0], in[1], in[2]);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(p[i], expected[i], 1e-9) << "component " << i;
}

}  // namespace

struct ClampCase {
    double a;
    double x;
};

class AnimationPositionKeys : public ::testing::TestWithParam<ClampCase> {};

// Outside the keys the ends hold; inside, the two keys around a interpolate.
TEST_P(AnimationPositionKeys, ClampAndInterpolate) {
    const std::vector<PositionKey> keys{{-1, {0, 0, 0}}, {0, {10, 0, 0}}, {0.5, {20, 0, 0}}, {1, {40, 2, 0}}};
    const ClampCase c = GetParam();
    EXPECT_NEAR(evaluatePositionKeys(keys, c.a)[0], c.x, 1e-12);
}

INSTANTIATE_TEST_SUITE_P(Values, AnimationPositionKeys,
                         ::testing::Values(ClampCase{-5, 0}, ClampCase{-1, 0}, ClampCase{-0.5, 5}, ClampCase{0, 10},
                                           ClampCase{0.25, 15}, ClampCase{0.75, 30}, ClampCase{1, 40},
                                           ClampCase{7, 40}));

TEST(AnimationKeys, NoKeysGiveZeroAndIdentity) {
    EXPECT_EQ(evaluatePositionKeys({}, 0.3), (Vec3d{0, 0, 0}));
    EXPECT_EQ(evaluateRotationKeys({}, 0.3), kIdentityQuat);
}

// A NaN argument must not walk past the key list.
TEST(AnimationKeys, NotANumberStaysInsideTheKeys) {
    const std::vector<PositionKey> keys{{0, {1, 1, 1}}, {1, {2, 2, 2}}};
    const Vec3d v = evaluatePositionKeys(keys, std::numeric_limits<double>::quiet_NaN());
    EXPECT_TRUE(v == keys.front().value || v == keys.back().value);
}

// Unsorted keys (nothing sorts them) must not divide by a zero or negative
// time span.
TEST(AnimationKeys, UnsortedKeysGiveAKeyValue) {
    const std::vector<PositionKey> keys{{0, {1, 0, 0}}, {1, {2, 0, 0}}, {0.5, {3, 0, 0}}, {2, {4, 0, 0}}};
    for (double a : {0.1, 0.6, 0.9, 1.5}) {
        const Vec3d v = evaluatePositionKeys(keys, a);
        EXPECT_TRUE(std::isfinite(v[0])) << a;
    }
}

// Key 1 is the same turn as key 0 negated plus a bit: the long way round
// would pass through a half turn.
TEST(AnimationSlerp, TakesTheShorterPath) {
    const Quatd q0 = aboutZ(0);
    Quatd q1 = aboutZ(90);
    for (double& c : q1) c = -c;
    const std::vector<RotationKey> keys{{0, q0}, {1, q1}};
    const Matrix44d m = rotationMatrix(evaluateRotationKeys(keys, 0.5));
    expectPoint(m, {1, 0, 0}, {kHalf, kHalf, 0});
}

TEST(AnimationSlerp, SphericalWeightsKeepUnitLength) {
    const Quatd q = slerpQuaternion(aboutZ(0), aboutZ(120), 0.25);
    const Quatd expected = aboutZ(30);
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(q[i], expected[i], 1e-12);
}

TEST(AnimationSlerp, NearlyEqualQuaternionsBlendLinearly) {
    const Quatd q0{0, 0, 0, 1};
    const Quatd q1{0, 0, 1e-4, 1};  // 1 - dot stays below the threshold
    const Quatd q = slerpQuaternion(q0, q1, 0.5);
    EXPECT_DOUBLE_EQ(q[2], 0.5e-4);
    EXPECT_DOUBLE_EQ(q[3], 1.0);
}

TEST(AnimationMatrix, RotationTurnsRowVectorsCounterClockwise) {
    expectPoint(rotationMatrix(aboutZ(90)), {1, 0, 0}, {0, 1, 0});
    // A zero quaternion can't be normalised: it stands for no turn.
    EXPECT_EQ(rotationMatrix({0, 0, 0, 0}), Matrix44d::identity());
}

TEST(AnimationMatrix, OrientedScaleStretchesAlongTheTurnedAxis) {
    const Matrix44d s = orientedScaleMatrix(aboutZ(90), {2, 1, 1});
    expectPoint(s, {0, 1, 0}, {0, 2, 0});
    expectPoint(s, {1, 0, 0}, {1, 0, 0});
}

// Order: scale, rotation, translation, base matrix.
TEST(AnimationMatrix, NodeAppliesScaleRotationPositionThenBase) {
    ArgAnimationNode node;
    Matrix44d base;
    base(3, 2) = 5;
    node.setBaseMatrix(base);
    node.setPositionAnimations({PositionAnimation{1, {{0, {0, 0, 0}}, {1, {20, 0, 0}}}}});
    node.setRotationAnimations({RotationAnimation{2, {{0, aboutZ(0)}, {1, aboutZ(180)}}}});
    node.setScaleAnimations({ScaleAnimation{3, {}, {{0, {1, 1, 1}}, {1, {3, 1, 1}}}}});
    Args args;
    args.values = {{1, 0.5f}, {2, 0.5f}, {3, 0.5f}};
    // (1, 0, 0): scaled to (2, 0, 0), turned to (0, 2, 0), moved by (10, 0, 0), then by the base.
    expectPoint(node.evaluateMatrix(args), {1, 0, 0}, {10, 2, 5});

    Matrix44d accumulated;
    node.accumulateMatrix(args, accumulated);
    expectPoint(accumulated, {1, 0, 0}, {10, 2, 5});
}

TEST(AnimationMatrix, EntriesOfOneListCombine) {
    ArgAnimationNode node;
    node.setPositionAnimations({PositionAnimation{1, {{0, {1, 0, 0}}}}, PositionAnimation{2, {{0, {0, 2, 0}}}}});
    node.setRotationAnimations({RotationAnimation{1, {{0, aboutZ(45)}}}, RotationAnimation{2, {{0, aboutZ(45)}}}});
    node.setBasePosition({0, 0, 3});
    expectPoint(node.evaluateMatrix(DummyArguments()), {1, 0, 0}, {1, 3, 3});
}

TEST(AnimationMatrix, BaseValuesWithoutKeys) {
    ArgAnimationNode node;
    EXPECT_TRUE(node.evaluateMatrix(DummyArguments()).isIdentity(0));
    node.setBaseScale({2, 2, 2});
    node.setBaseRotation(aboutZ(90));
    node.setBasePosition({0, 0, 1});
    expectPoint(node.evaluateMatrix(DummyArguments()), {1, 0, 0}, {0, 2, 1});
    EXPECT_TRUE(node.hasNoKeys());
}

// A scale entry without scale keys must not squash the node to a point.
TEST(AnimationMatrix, ScaleEntryWithoutScaleKeysKeepsSize) {
    ArgAnimationNode node;
    node.setScaleAnimations({ScaleAnimation{3, {}, {}}});
    EXPECT_TRUE(node.evaluateMatrix(DummyArguments()).isIdentity(1e-12));
}

TEST(AnimationMatrix, ChainUsesEachNodesArguments) {
    auto parent = Ptr<ArgAnimationNode>(new ArgAnimationNode());
    auto child = Ptr<ArgAnimationNode>(new ArgAnimationNode());
    parent->addChild(child);
    parent->setRotationAnimations({RotationAnimation{7, {{0, aboutZ(0)}, {1, aboutZ(90)}}}});
    child->setPositionAnimations({PositionAnimation{8, {{0, {0, 0, 0}}, {1, {4, 0, 0}}}}});
    Args args;
    args.values = {{7, 1.0f}, {8, 0.5f}};
    Matrix44d m;
    child->accumulateMatrix(args, m);
    // Moved by the child first, then turned by the parent.
    expectPoint(m, {0, 0, 0}, {0, 2, 0});
}

