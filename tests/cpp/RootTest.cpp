// The root node: lists and attachment queries, argument counting, boxes,
// mesh preparation and saving.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "AnimatedProperty.h"
#include "ClassRegistry.h"
#include "PropertiesSet.h"
#include "StaticProperty.h"
#include "VfsTestSupport.h"
#include "io/IClassWriter.h"
#include "nodes/AnimationEvaluation.h"
#include "nodes/ArgAnimationNode.h"
#include "nodes/ArgVisibilityNode.h"
#include "nodes/BaseShellNode.h"
#include "nodes/Connector.h"
#include "nodes/FakeOmniLightsNode.h"
#include "nodes/LightNode.h"
#include "nodes/NumberNode.h"
#include "nodes/RenderNode.h"
#include "nodes/RootNode.h"
#include "nodes/SegmentsNode.h"
#include "nodes/ShellNode.h"
#include "nodes/SkinNode.h"
#include "nodes/TransformNode.h"
#include "qz/ExtException.h"

using namespace model;
using vfstest::TempDir;

namespace {


Matrix44d translation(double x, double y, double z) {
    Matrix44d m;
    m(3, 0) = x;
    m(3, 1) = y;
    m(3, 2) = z;
    return m;
}

BoundingBox box(float a, float b, float c, float d, float e, float f) { return BoundingBox::fromValues(a, b, c, d, e, f); }

Ptr<LightNode> lightWithDistance(float distance) {
    auto light = ClassRegistry::make<LightNode>("model::LightNode");
    auto p = ClassRegistry::make<FloatProperty>("model::Property<float>");
    p->setName("distance");
    p->setValue(distance);
    light->setDistance(p);
    return light;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> folderEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A writer that emits fixed bytes, or fails, and counts its calls.
struct FakeWriter : IClassWriter {
    std::string bytes = "FAKE-MODEL-BYTES";
    bool fail = false;
    int calls = 0;
    void write(const RootNode&, std::vector<uint8_t>& out) override {
        ++calls;
        if (fail) QZ_THROW("Writer refused the model.");
        out.assign(bytes.begin(), bytes.end());
    }
    uint32_t version() const override { return 10; }
};

std::string messageOf(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const qz::ExtException& e) {
        return e.what();
    }
    return "<no exception>";
}

}  // namespace

TEST(RootNodeAttached, OrderQueriesAndReplacement) {
    RootNode root;
    auto a = ClassRegistry::make<Node>("model::Node");
    auto b = ClassRegistry::make<Node>("model::Node");
    auto render = ClassRegistry::make<RenderNode>("model::RenderNode");
    render->addParentEntry(a);
    render->setParent(0, b);
    auto connector = ClassRegistry::make<Connector>("model::Connector");
    connector->setParent(0, a);
    auto light = ClassRegistry::make<LightNode>("model::LightNode");
    light->setParent(0, a);
    auto shell = ClassRegistry::make<ShellNode>("model::ShellNode");
    shell->setParent(0, a);
    // Added out of family order: the answer follows families, not calls.
    root.addRenderNode(render);
    root.addShellNode(shell);
    root.addLight(light);
    root.addConnector(connector);
    root.addConnector(Ptr<Connector>());

    const auto all = root.getAllBaseNodes();
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[0], connector);
    EXPECT_EQ(all[1], light);
    EXPECT_EQ(all[2], shell);
    EXPECT_EQ(all[3], render);

    const AttachedList attached = root.getAttached(a.get());
    ASSERT_EQ(attached.size(), 4u);
    EXPECT_EQ(attached[3].first, render);
    EXPECT_EQ(attached[3].second, 1u);
    EXPECT_TRUE(root.hasAttached(b.get()));

    auto c = ClassRegistry::make<Node>("model::Node");
    EXPECT_FALSE(root.hasAttached(c.get()));
    EXPECT_FALSE(root.replaceParent(c.get(), a));
    EXPECT_TRUE(root.replaceParent(a.get(), c));
    EXPECT_FALSE(root.hasAttached(a.get()));
    EXPECT_EQ(root.getAttached(c.get()).size(), 4u);
    EXPECT_EQ(render->getParent(0), b);
}

// Nulls can reach the lists through the mutable accessors; the root's own
// passes must step over them and leave the message to the writers.
TEST(RootNodeAttached, NullListEntriesAreSkipped) {
    RootNode root;
    root.getConnectors().push_back(Ptr<Connector>());
    root.getLights().push_back(Ptr<LightNode>());
    root.getShellNodes().push_back(Ptr<BaseShellNode>());
    root.getRenderNodes().push_back(Ptr<BaseRenderNode>());
    auto node = ClassRegistry::make<Node>("model::Node");
    EXPECT_TRUE(root.getAllBaseNodes().empty());
    EXPECT_FALSE(root.hasAttached(node.get()));
    EXPECT_FALSE(root.replaceParent(node.get(), node));
    EXPECT_EQ(root.calcNumHandles(), 0u);
    EXPECT_TRUE(root.collectMaterials().empty());
    root.calcBoundingBox();
    root.calcLightBox();
    root.prepareMeshes();
    EXPECT_FALSE(root.getBoundingBox().isValid());
}

TEST(RootNodeAttached, CheckParentNodesStopsBeforeStop) {
    auto top = ClassRegistry::make<Node>("model::Node");
    auto vis = ClassRegistry::make<ArgVisibilityNode>("model::ArgVisibilityNode");
    auto mid = ClassRegistry::make<TransformNode>("model::TransformNode");
    auto leaf = ClassRegistry::make<Node>("model::Node");
    top->addChild(vis);
    vis->addChild(mid);
    mid->addChild(leaf);
    EXPECT_TRUE(RootNode::checkParentNodes(leaf.get(), top.get()));
    EXPECT_TRUE(RootNode::checkParentNodes(leaf.get(), nullptr));
    EXPECT_FALSE(RootNode::checkParentNodes(leaf.get(), vis.get()));
    EXPECT_FALSE(RootNode::checkParentNodes(leaf.get(), mid.get()));
    EXPECT_TRUE(RootNode::checkParentNodes(vis.get(), top.get()));
}

// --- argument counting ----------------------------------------------------

// Each source below uses its own argument (1 to 9) and argument 100; a
// count that misses a source, or counts 100 more than once, is wrong.
TEST(RootNodeHandles, CountsEverySourceOnce) {
    RootNode root;
    auto top = ClassRegistry::make<Node>("model::Node");
    root.setTopNode(top);
    auto anim = ClassRegistry::make<ArgAnimationNode>("model::ArgAnimationNode");
    anim->setPositionAnimations({PositionAnimation{1, {}}, PositionAnimation{100, {}}});
    auto vis = ClassRegistry::make<ArgVisibilityNode>("model::ArgVisibilityNode");
    vis->setEntries({VisibilityEntry{2, {}}, VisibilityEntry{100, {}}});
    top->addChild(anim);
    anim->addChild(vis);

    auto render = ClassRegistry::make<RenderNode>("model::RenderNode");
    render->setDamageArgument(0, 3);
    auto material = Ptr<PropertiesSet>(new PropertiesSet());
    auto uniform = ClassRegistry::make<AnimatedFloatProperty>("model::AnimatedProperty<float>");
    uniform->setArgument(4);
    material->addUniform(uniform);
    render->setMaterial(material);
    root.addRenderNode(render);

    auto number = ClassRegistry::make<NumberNode>("model::NumberNode");
    number->addControlEntry({NumberControl{5, 0, -1, 0}, NumberControl{100, 0, 6, 0}});
    root.addRenderNode(number);

    auto lights = ClassRegistry::make<AnimatedFakeOmniLightsNode>("model::AnimatedFakeOmniLightsNode");
    lights->setArgument(7);
    root.addRenderNode(lights);

    auto light = ClassRegistry::make<LightNode>("model::LightNode");
    auto brightness = ClassRegistry::make<AnimatedFloatProperty>("model::AnimatedProperty<float>");
    brightness->setArgument(8);
    light->setBrightness(brightness);
    root.addLight(light);

    auto connector = ClassRegistry::make<Connector>("model::Connector");
    auto argument = ClassRegistry::make<ArgumentProperty>("model::ArgumentProperty");
    argument->setArgument(9);
    connector->addProperty(argument);
    root.addConnector(connector);

    auto skin = ClassRegistry::make<SkinNode>("model::SkinNode");
    skin->setDamageArgument(100);
    root.addRenderNode(skin);

    const ArgumentSet expected{1, 2, 3, 4, 5, 6, 7, 8, 9, 100};
    EXPECT_EQ(root.collectArguments(), expected);
    EXPECT_EQ(root.calcNumHandles(), 10u);
    EXPECT_EQ(RootNode::getArgumentsList(vis.get()), (ArgumentSet{2, 100}));
    EXPECT_TRUE(RootNode::getArgumentsList(nullptr).empty());
}

// --- boxes ----------------------------------------------------------------

// Parent 0 holds the vertices and sits under a moved transform; parent 1
// holds none and sits far away: it must not stretch the box.
TEST(RootNodeBoxes, ParentBoxesAreMovedAndEmptyOnesIgnored) {
    RootNode root;
    auto top = ClassRegistry::make<Node>("model::Node");
    root.setTopNode(top);
    auto moved = ClassRegistry::make<TransformNode>("model::TransformNode");
    moved->setMatrix(translation(10, 0, 0));
    auto anim = ClassRegistry::make<ArgAnimationNode>("model::ArgAnimationNode");
    // Evaluated with every argument at 0: half way between the keys.
    anim->setPositionAnimations({PositionAnimation{3, {{-1, {0, 0, -4}}, {1, {0, 0, 4}}}}});
    auto far = ClassRegistry::make<TransformNode>("model::TransformNode");
    far->setMatrix(translation(1000, 1000, 1000));
    top->addChild(moved);
    moved->addChild(anim);
    top->addChild(far);

    auto render = ClassRegistry::make<RenderNode>("model::RenderNode");
    render->setParent(0, anim);
    render->addParentEntry(far);
    Vertices v;
    v.setAttribute(POSITION0, 4, {0, 0, 0, 0, 1, 2, 3, 0});
    render->replaceGeometry(v, Indices());
    ASSERT_FALSE(render->getParentBox(1).isValid());
    root.addRenderNode(render);

    root.calcBoundingBox();
    EXPECT_EQ(root.getBoundingBox(), box(10, 0, 0, 11, 2, 3));
}

TEST(RootNodeBoxes, FakeLightsCountByTheirPositions) {
    RootNode root;
    auto lights = ClassRegistry::make<FakeOmniLightsNode>("model::FakeOmniLightsNode");
    FakeOmniLight a, b;
    a.position = {-1, 0, 0};
    b.position = {2, 3, 4};
    lights->setLights({a, b});
    root.addRenderNode(lights);
    root.calcBoundingBox();
    EXPECT_EQ(root.getBoundingBox(), box(-1, 0, 0, 2, 3, 4));
}

TEST(RootNodeBoxes, AnimatedDistanceUsesItsLargestKeyAndNegativesCountAsZero) {
    RootNode root;
    root.setBoundingBox(box(0, 0, 0, 1, 1, 1));
    root.addLight(lightWithDistance(-50));
    root.calcLightBox();
    EXPECT_EQ(root.getLightBox(), box(0, 0, 0, 1, 1, 1));

    auto light = ClassRegistry::make<LightNode>("model::LightNode");
    auto distance = ClassRegistry::make<AnimatedFloatProperty>("model::AnimatedProperty<float>");
    distance->addKey(0, 3);
    distance->addKey(1, 7);
    light->setDistance(distance);
    root.addLight(light);
    root.calcLightBox();
    EXPECT_EQ(root.getLightBox(), box(-7, -7, -7, 8, 8, 8));
}

// --- mesh preparation -----------------------------------------------------

namespace {

Ptr<RenderNode> quadMesh(uint8_t culling, uint32_t kind) {
    auto render = ClassRegistry::make<RenderNode>("model::RenderNode");
    auto material = Ptr<PropertiesSet>(new PropertiesSet());
    material->setCulling(culling);
    render->setMaterial(material);
    Vertices v;
    v.setAttribute(POSITION0, 4, {0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 1, 1, 0, 0});
    v.setAttribute(NORMAL0, 3, {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1});
    v.setAttribute(NORMAL1, 3, {1, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0});
    v.setAttribute(TEXCOORD0, 2, {0, 0, 1, 0, 0, 1, 1, 1});
    Indices i;
    i.primitiveKind = kind;
    i.indices = {0, 1, 2};
    render->replaceGeometry(v, i);
    return render;
}

}  // namespace

TEST(RootNodePrepareMeshes, TwoSidedTrianglesGetReversedBackFaces) {
    RootNode root;
    auto render = quadMesh(0, 5);
    root.addRenderNode(render);
    root.prepareMeshes();
    const Vertices& v = render->getVertices();
    EXPECT_EQ(v.vertexCount(), 8u);
    EXPECT_EQ(render->getIndices().indices, (std::vector<uint32_t>{0, 1, 2, 4, 6, 5}));
    const auto& n0 = v.getAttribute(NORMAL0).data;
    const auto& n1 = v.getAttribute(NORMAL1).data;
    ASSERT_EQ(n0.size(), 24u);
    EXPECT_EQ(n0[2], 1);    // front faces keep their normals
    EXPECT_EQ(n0[14], -1);  // back faces get them negated
    EXPECT_EQ(n1[0], 1);
    EXPECT_EQ(n1[12], -1);
    const auto& uv = v.getAttribute(TEXCOORD0).data;
    EXPECT_EQ(std::vector<float>(uv.begin() + 8, uv.end()), std::vector<float>(uv.begin(), uv.begin() + 8));
}

TEST(RootNodePrepareMeshes, LeavesCulledAndNonTriangleMeshesAlone) {
    RootNode root;
    auto culled = quadMesh(1, 5);
    auto strip = quadMesh(0, 6);
    auto noMaterial = quadMesh(0, 5);
    noMaterial->setMaterial(Ptr<BaseMaterial>());
    root.addRenderNode(culled);
    root.addRenderNode(strip);
    root.addRenderNode(noMaterial);
    root.addRenderNode(ClassRegistry::make<FakeOmniLightsNode>("model::FakeOmniLightsNode"));
    root.prepareMeshes();
    for (const auto& r : {culled, strip, noMaterial}) {
        EXPECT_EQ(r->getVertices().vertexCount(), 4u);
        EXPECT_EQ(r->getIndices().indices.size(), 3u);
    }
}

// Attributes of different lengths can't be doubled row by row.
TEST(RootNodePrepareMeshes, InconsistentVertexDataIsLeftForTheWriterToRefuse) {
    RootNode root;
    auto render = quadMesh(0, 5);
    render->editGeometry([](Vertices& v, Indices&) { v.getAttribute(TEXCOORD0).data.resize(6); });
    root.addRenderNode(render);
    root.prepareMeshes();
    EXPECT_EQ(render->getIndices().indices.size(), 3u);
    EXPECT_EQ(render->getVertices().getAttribute(POSITION0).data.size(), 16u);
}

// --- saving ---------------------------------------------------------------

TEST(RootNodeSave, UnsupportedVersionCreatesNoFile) {
    TempDir dir;
    RootNode root;
    root.setTopNode(ClassRegistry::make<Node>("model::Node"));
    for (uint16_t version : {uint16_t(11), uint16_t(0), uint16_t(0xFFFF)}) {
        const std::string path = dir / "model.tav";
        EXPECT_EQ(messageOf([&] { root.save(path, version); }), "Unsupported version " + std::to_string(version));
        EXPECT_TRUE(folderEntries(dir.path()).empty());
    }
}

TEST(RootNodeSave, UnopenablePathFailsAfterSerialising) {
    TempDir dir;
    RootNode root;
    FakeWriter writer;
    const std::string missingFolder = dir / "no/such/folder/model.tav";
    EXPECT_EQ(messageOf([&] { root.save(missingFolder, writer); }), "Can't open " + missingFolder);
    EXPECT_EQ(writer.calls, 1);
    EXPECT_EQ(messageOf([&] { root.save(dir.path(), writer); }), "Can't open " + dir.path());
    EXPECT_EQ(messageOf([&] { root.save("", writer); }), "Can't open ");
    EXPECT_EQ(writer.calls, 3);
    EXPECT_TRUE(folderEntries(dir.path()).empty());
}

TEST(RootNodeSave, WriterFailureLeavesTheOldFile) {
    TempDir dir;
    const std::string path = dir / "model.tav";
    const std::string old = "previous model";
    writeFile(path, old);
    RootNode root;
    FakeWriter writer;
    writer.fail = true;
    EXPECT_EQ(messageOf([&] { root.save(path, writer); }), "Writer refused the model.");
    EXPECT_EQ(readFile(path), old);
    EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{"model.tav"});
}

// The file size limit makes the write come up short, as a full disk would.
TEST(RootNodeSave, ShortWriteFailsAndLeavesTheOldFile) {
    TempDir dir;
    const std::string path = dir / "model.tav";
    const std::string old = "previous";
    writeFile(path, old);
    RootNode root;
    FakeWriter writer;
    writer.bytes = std::string(4096, 'n');

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
    EXPECT_EQ(readFile(path), old);
    EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{"model.tav"});
}
