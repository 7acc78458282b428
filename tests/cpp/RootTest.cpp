// The root node: argument counting, boxes and the save frame around the
// class writers.

#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "AnimatedProperty.h"
#include "ModelTestSupport.h"
#include "StaticProperty.h"
#include "CoreTestSupport.h"
#include "io/IClassWriter.h"
#include "qz/ExtException.h"

using namespace model;
using namespace modeltest;

namespace {

template <class P>
Ptr<P> argumentProperty(const char* cls, uint32_t argument) {
    auto p = make<P>(cls);
    p->setArgument(argument);
    return p;
}

}  // namespace

// Each source below uses its own argument (1 to 9) and argument 100; a
// count that misses a source, or counts 100 more than once, is wrong.
TEST(RootNodeHandles, CountsEverySourceOnce) {
    Model model;
    auto anim = make<ArgAnimationNode>("model::ArgAnimationNode");
    anim->setPositionAnimations({PositionAnimation{1, {}}, PositionAnimation{100, {}}});
    auto vis = make<ArgVisibilityNode>("model::ArgVisibilityNode");
    vis->setEntries({VisibilityEntry{2, {}}, VisibilityEntry{100, {}}});
    model.top->addChild(anim);
    anim->addChild(vis);
    auto render = make<RenderNode>("model::RenderNode");
    render->setDamageArgument(0, 3);
    auto material = Ptr<PropertiesSet>(new PropertiesSet());
    material->addUniform(argumentProperty<AnimatedFloatProperty>("model::AnimatedProperty<float>", 4));
    render->setMaterial(material);
    model.root->addRenderNode(render);
    auto number = make<NumberNode>("model::NumberNode");
    number->addControlEntry({NumberControl{5, 0, -1, 0}, NumberControl{100, 0, 6, 0}});
    model.root->addRenderNode(number);
    auto lights = make<AnimatedFakeOmniLightsNode>("model::AnimatedFakeOmniLightsNode");
    lights->setArgument(7);
    model.root->addRenderNode(lights);
    auto light = make<LightNode>("model::LightNode");
    light->setBrightness(argumentProperty<AnimatedFloatProperty>("model::AnimatedProperty<float>", 8));
    model.root->addLight(light);
    auto connector = make<Connector>("model::Connector");
    connector->addProperty(argumentProperty<ArgumentProperty>("model::ArgumentProperty", 9));
    model.root->addConnector(connector);
    auto skin = make<SkinNode>("model::SkinNode");
    skin->setDamageArgument(100);
    model.root->addRenderNode(skin);

    EXPECT_EQ(model.root->collectArguments(), (ArgumentSet{1, 2, 3, 4, 5, 6, 7, 8, 9, 100}));
    EXPECT_EQ(model.root->calcNumHandles(), 10u);
}

// Parent 0 holds the vertices and sits under a moved transform and an
// animation evaluated with every argument at 0, half way between its keys;
// parent 1 holds none and sits far away: it must not stretch the box.
TEST(RootNodeBoxes, ParentBoxesAreMovedAndEmptyOnesIgnored) {
    Model model;
    auto moved = transform("moved", translation(10, 0, 0));
    auto anim = make<ArgAnimationNode>("model::ArgAnimationNode");
    anim->setPositionAnimations({PositionAnimation{3, {{-1, {0, 0, -4}}, {1, {0, 0, 4}}}}});
    auto far = transform("far", translation(1000, 1000, 1000));
    model.top->addChild(moved);
    moved->addChild(anim);
    model.top->addChild(far);
    auto render = make<RenderNode>("model::RenderNode");
    render->setParent(0, anim);
    render->addParentEntry(far);
    Vertices v;
    v.setAttribute(POSITION0, 4, {0, 0, 0, 0, 1, 2, 3, 0});
    render->replaceGeometry(v, Indices());
    model.root->addRenderNode(render);
    model.root->calcBoundingBox();
    EXPECT_EQ(model.root->getBoundingBox(), box(10, 0, 0, 11, 2, 3));
}

// The file size limit makes the write come up short, as a full disk would;
// an unsupported version or a path that can't be opened fails before any
// file is made.
TEST(RootNodeSave, FailedSavesLeaveTheOldFileOrNone) {
    struct FixedWriter : IClassWriter {
        void write(const RootNode&, std::vector<uint8_t>& out) override { out.assign(4096, 'n'); }
        uint32_t version() const override { return 10; }
    } writer;
    coretest::TempDir dir;
    const std::string path = dir / "model.tav";
    RootNode root;
    root.setTopNode(node());
    EXPECT_EQ(messageOf([&] { root.save(path, 11); }), "Unsupported version 11");
    EXPECT_FALSE(std::filesystem::exists(path));
    const std::string missingFolder = dir / "no/such/folder/model.tav";
    EXPECT_EQ(messageOf([&] { root.save(missingFolder, writer); }), "Can't open " + missingFolder);
    std::ofstream(path, std::ios::binary) << "previous";

    struct rlimit saved;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*oldHandler)(int) = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string message = messageOf([&] { root.save(path, writer); });
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(message, "Can't write " + path);
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), "previous");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()), 1);
}
