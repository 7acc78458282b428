// Evaluation of animation keys and of an animation node's matrix.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>

#include "Node.h"
#include "nodes/AnimationEvaluation.h"
#include "nodes/ArgAnimationNode.h"

using namespace model;

namespace {

struct Args : IModelArguments {
    std::map<uint32_t, float> values;
    float getArgument(uint32_t a) const override { return values.contains(a) ? values.at(a) : 0.0f; }
};

// A turn by `degrees` about z.
Quatd aboutZ(double degrees) { return {0, 0, std::sin(degrees * M_PI / 360.0), std::cos(degrees * M_PI / 360.0)}; }

class AnimationPositionKeys : public testing::TestWithParam<std::pair<double, double>> {};

}  // namespace

// Outside the keys the ends hold; inside, the two keys around a interpolate.
TEST_P(AnimationPositionKeys, ClampAndInterpolate) {
    const std::vector<PositionKey> keys{{-1, {0, 0, 0}}, {0, {10, 0, 0}}, {0.5, {20, 0, 0}}, {1, {40, 2, 0}}};
    EXPECT_NEAR(evaluatePositionKeys(keys, GetParam().first)[0], GetParam().second, 1e-12);
}

INSTANTIATE_TEST_SUITE_P(Values, AnimationPositionKeys,
                         testing::Values(std::pair{-5.0, 0.0}, std::pair{-0.5, 5.0}, std::pair{0.0, 10.0},
                                         std::pair{0.25, 15.0}, std::pair{0.75, 30.0}, std::pair{7.0, 40.0}));

// Scale, rotation, translation, then the base matrix; a scale entry without
// keys keeps the size.
TEST(AnimationMatrix, NodeAppliesScaleRotationPositionThenBase) {
    ArgAnimationNode node;
    Matrix44d base;
    base(3, 2) = 5;
    node.setBaseMatrix(base);
    node.setPositionAnimations({PositionAnimation{1, {{0, {0, 0, 0}}, {1, {20, 0, 0}}}}});
    node.setRotationAnimations({RotationAnimation{2, {{0, aboutZ(0)}, {1, aboutZ(180)}}}});
    node.setScaleAnimations({ScaleAnimation{3, {}, {{0, {1, 1, 1}}, {1, {3, 1, 1}}}}, ScaleAnimation{4, {}, {}}});
    Args args;
    args.values = {{1, 0.5f}, {2, 0.5f}, {3, 0.5f}};
    // (1, 0, 0): scaled to (2, 0, 0), turned to (0, 2, 0), moved by (10, 0, 0), then by the base.
    const auto p = node.evaluateMatrix(args).transformPoint(1, 0, 0);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(p[i], (std::array{10.0, 2.0, 5.0})[i], 1e-9) << "component " << i;
}
