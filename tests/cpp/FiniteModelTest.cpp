// The last check of a save names the first place, by node kind, that holds
// a number that is not finite; a model of finite numbers passes.

#include <gtest/gtest.h>

#include <functional>
#include <limits>

#include "ModelTestSupport.h"
#include "nodes/Bone.h"
#include "nodes/LodNode.h"
#include "utils/FiniteModel.h"

using namespace modeltest;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Case {
    const char* name;
    std::function<void(model::RootNode&)> spoil;
    const char* message;
};

class FiniteModelCheck : public testing::TestWithParam<Case> {};

// A top node with a transform "t" above a bone "b" and a mesh "m" under it.
model::Ptr<model::RootNode> sample() {
    auto root = rootWithTop();
    auto t = transform("t", translation(1, 2, 3));
    root->getTopNode()->addChild(t);
    t->addChild(make<model::Bone>("model::Bone", "b"));
    const model::Vertices v = points({0, 0, 0, 1, 0, 0, 0, 1, 0});
    root->addRenderNode(meshNode("m", t, materialFor(v), v, indexList({0, 1, 2})));
    return root;
}

model::Node& named(model::RootNode& root, const char* name) {
    model::Node* found = nullptr;
    model::Node::traverse(root.getTopNode().get(), [&](model::Node* n) {
        if (n->getName() == name) found = n;
        return true;
    });
    return *found;
}

}  // namespace

TEST_P(FiniteModelCheck, NamesTheFirstPlaceHoldingANumberThatIsNotFinite) {
    auto root = sample();
    GetParam().spoil(*root);
    EXPECT_EQ(messageOf([&] { model::utils::checkFiniteModel(*root); }), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, FiniteModelCheck,
    testing::Values(
        Case{"FiniteModelPasses", [](model::RootNode&) {}, ""},
        Case{"TransformMatrix",
             [](model::RootNode& r) { static_cast<model::TransformNode&>(named(r, "t")).setMatrix(translation(kNaN, 0, 0)); },
             "Matrix of t holds a value that is not finite."},
        Case{"BoneMatrixOfABone",
             [](model::RootNode& r) { static_cast<model::Bone&>(named(r, "b")).setBoneMatrix(translation(0, kNaN, 0)); },
             "Bone matrix of b holds a value that is not finite."},
        Case{"LevelRanges",
             [](model::RootNode& r) {
                 auto lod = make<model::LodNode>("model::LodNode", "l");
                 lod->setRanges({{0, kNaN}});
                 r.getTopNode()->addChild(lod);
             },
             "Ranges of l holds a value that is not finite."},
        Case{"MeshVertexData",
             [](model::RootNode& r) {
                 auto& mesh = static_cast<model::RenderNode&>(*r.getRenderNodes().front());
                 model::Vertices v = points({0, 0, float(kNaN), 1, 0, 0, 0, 1, 0});
                 mesh.replaceGeometry(v, indexList({0, 1, 2}));
             },
             "Vertex data of m holds a value that is not finite."},
        Case{"TreeBeforeBaseNodes",
             [](model::RootNode& r) {
                 static_cast<model::TransformNode&>(named(r, "t")).setMatrix(translation(kNaN, 0, 0));
                 r.setBoundingBox(box(0, 0, 0, float(kNaN), 1, 1));
             },
             "Matrix of t holds a value that is not finite."},
        Case{"RootBox", [](model::RootNode& r) { r.setBoundingBox(box(0, 0, 0, float(kNaN), 1, 1)); },
             "Bounding box holds a value that is not finite."}),
    [](const auto& info) { return std::string(info.param.name); });
