// The last check of a save names the first place, by node kind, that holds
// a number that is not finite; a model of finite numbers passes.

#include <gtest/gtest.h>

#include <functional>
#include <limits>

#include "ModelTestSupport.h"
#include "nodes/Bone.h"
#include "nodes/LodNode.h"
#include "qz/tasks/ThreadPool.h"
#include "utils/FiniteModel.h"
#include "utils/FiniteVertexData.h"

using namespace model;
using namespace modeltest;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A top node with a transform "t" above a bone "b" and a mesh "m" under it.
struct Sample : Model {
    Ptr<TransformNode> t = transform("t", translation(1, 2, 3));
    Ptr<Bone> b = make<Bone>("model::Bone", "b");
    Sample() {
        top->addChild(t);
        t->addChild(b);
        const Vertices v = points({0, 0, 0, 1, 0, 0, 0, 1, 0});
        root->addRenderNode(meshNode("m", t, materialFor(v), v, indexList({0, 1, 2})));
    }
};

struct Case {
    const char* name;
    std::function<void(Sample&)> spoil;
    const char* message;
};

class FiniteModelCheck : public testing::TestWithParam<Case> {};

}  // namespace

TEST_P(FiniteModelCheck, NamesTheFirstPlaceHoldingANumberThatIsNotFinite) {
    Sample sample;
    GetParam().spoil(sample);
    EXPECT_EQ(messageOf([&] { utils::checkFiniteModel(*sample.root); }), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, FiniteModelCheck,
    testing::Values(
        Case{"FiniteModelPasses", [](Sample&) {}, ""},
        Case{"TransformMatrix", [](Sample& s) { s.t->setMatrix(translation(kNaN, 0, 0)); },
             "Matrix of t holds a value that is not finite."},
        Case{"BoneMatrixOfABone", [](Sample& s) { s.b->setBoneMatrix(translation(0, kNaN, 0)); },
             "Bone matrix of b holds a value that is not finite."},
        Case{"LevelRanges",
             [](Sample& s) {
                 auto lod = make<LodNode>("model::LodNode", "l");
                 lod->setRanges({{0, kNaN}});
                 s.top->addChild(lod);
             },
             "Ranges of l holds a value that is not finite."},
        Case{"MeshVertexData",
             [](Sample& s) {
                 auto& mesh = static_cast<RenderNode&>(*s.root->getRenderNodes().front());
                 mesh.replaceGeometry(points({0, 0, float(kNaN), 1, 0, 0, 0, 1, 0}), indexList({0, 1, 2}));
             },
             "Vertex data of m holds a value that is not finite."},
        Case{"TreeBeforeBaseNodes",
             [](Sample& s) {
                 s.t->setMatrix(translation(kNaN, 0, 0));
                 s.root->setBoundingBox(box(0, 0, 0, float(kNaN), 1, 1));
             },
             "Matrix of t holds a value that is not finite."},
        Case{"RootBox", [](Sample& s) { s.root->setBoundingBox(box(0, 0, 0, float(kNaN), 1, 1)); },
             "Bounding box holds a value that is not finite."}),
    [](const auto& info) { return std::string(info.param.name); });

// One value that is not finite, at every place of vertex data of a few sizes
// about a block of the check (a last position row cut short among them): it
// is found, unless it is the fourth float of a four-float position.
TEST(FiniteVertexData, EveryPlaceOfAValueThatIsNotFiniteIsFoundButAParentIndex) {
    constexpr float kInf = std::numeric_limits<float>::infinity();
    for (const std::uint32_t code : {POSITION0, NORMAL0})
        for (const std::uint32_t components : {3u, 4u})
            for (const std::size_t floats : {1u, 3u, 1023u, 1024u, 1025u, 1030u, 2400u, 2402u}) {
                if (code == NORMAL0 && components == 4) continue;
                for (std::size_t at = 0; at < floats; ++at)
                    for (const float bad : {float(kNaN), kInf, -kInf}) {
                        std::vector<float> data(floats, 0.5f);
                        data[at] = bad;
                        Vertices v;
                        v.setAttribute(code, components, data);
                        const bool parentIndex = code == POSITION0 && components == 4 && at % 4 == 3;
                        ASSERT_EQ(utils::hasFiniteValues(v), parentIndex) << code << " " << components << " " << floats << " " << at;
                    }
            }
}

// Checked in chunks on workers, a value that is not finite on either side of
// a chunk border, or in a last position row cut short, fails its own data
// and no other; a parent index at a border fails nothing.
TEST(FiniteVertexData, VerdictsOnWorkersAreEachDataOwnAtEveryChunkBorder) {
    constexpr std::size_t kChunk = std::size_t(1) << 18;
    qz::ThreadPool pool("FiniteTest", 2, qz::ThreadInfo{});
    Vertices clean;
    clean.setAttribute(NORMAL0, 3, std::vector<float>(3 * kChunk, 0.5f));
    for (const std::uint32_t components : {3u, 4u})
        for (const std::size_t floats : {kChunk, kChunk + 2, 2 * kChunk + 5})
            for (const std::size_t at : {std::size_t(0), kChunk - 1, kChunk, kChunk + 1, kChunk + 3, floats - 1}) {
                if (at >= floats) continue;
                std::vector<float> data(floats, 0.5f);
                data[at] = kNaN;
                Vertices bad;
                bad.setAttribute(POSITION0, components, data);
                const bool parentIndex = components == 4 && at % 4 == 3;
                const std::vector<std::uint8_t> verdicts = utils::haveFiniteValues({&clean, &bad, &clean}, utils::Workers(pool));
                EXPECT_EQ(verdicts, (std::vector<std::uint8_t>{1, parentIndex, 1})) << components << " " << floats << " " << at;
                EXPECT_EQ(utils::hasFiniteValues(bad), parentIndex) << components << " " << floats << " " << at;
            }
}
