// Format 2.0: small files pinned to exact bytes (one per record kind and per
// rule of the split into transform and visibility trees, the name search of
// the data pool among them) and the refusals with their messages.

#include <algorithm>
#include <functional>
#include <random>
#include <string>

#include "AnimatedProperty.h"
#include "StaticProperty.h"
#include "ModelTestSupport.h"
#include "io/tav2/ClassWriter20.h"
#include "io/tav2/DataPool20.h"
#include "qz/ExtException.h"

using namespace model;
using modeltest::hex;
using modeltest::make;
using modeltest::messageOf;
using modeltest::property;

namespace {

template <class N = Node>
Ptr<N> node(const char* cls, const std::string& name, const std::vector<Ptr<Node>>& children = {}) {
    auto n = make<N>(cls, name);
    for (const auto& c : children) n->addChild(c);
    return n;
}
Ptr<Node> plain(const std::string& name, const std::vector<Ptr<Node>>& children = {}) {
    return node("model::Node", name, children);
}
Ptr<Node> vis(const std::string& name, const std::vector<Ptr<Node>>& children = {}) {
    return node<ArgVisibilityNode>("model::ArgVisibilityNode", name, children);
}

Ptr<RootNode> rootWith(const Ptr<Node>& top, const std::vector<std::pair<const char*, Ptr<Node>>>& connectors = {}) {
    auto root = make<RootNode>("model::RootNode");
    if (top) root->setTopNode(top);
    for (const auto& [name, parent] : connectors) {
        auto c = make<Connector>("model::Connector", name);
        if (parent) c->setParent(0, parent);
        root->addConnector(c);
    }
    return root;
}

// The identity with one element changed, or 0.25, 0.75, 1.25 and so on.
Matrix44d matrix(int at, double value) {
    Matrix44d m;
    for (int i = 0; i < 16; ++i) m.m[i] = at < 0 ? 0.5 * i + 0.25 : i == at ? value : m.m[i];
    return m;
}

// "TAV2", a zero, then the handle count; the bounding, user and light boxes
// empty: FLT_MAX minima, -FLT_MAX maxima.
const std::string kTav2 = "5441563200000000";
const std::string kNoBox = "ffff7f7fffff7f7fffff7f7fffff7fffffff7fffffff7fff";
const std::string kNoBoxes = kNoBox + kNoBox + kNoBox;
const std::string kIdentity = "0000803f00000000000000000000000000000000" "0000803f00000000000000000000000000000000"
                              "0000803f00000000000000000000000000000000" "0000803f";
const std::string kCounting = "0000803e0000403f0000a03f0000e03f00001040000030400000504000007040"
                              "00008840000098400000a8400000b8400000c8400000d8400000e8400000f840";

Ptr<RootNode> under(const Ptr<Node>& child) { return rootWith(plain("top", {child})); }
Ptr<RootNode> door(const ScaleAnimation& scale) {
    auto anim = node<ArgAnimationNode>("model::ArgAnimationNode", "door");
    anim->setPositionAnimations({{1, {}}});
    anim->setScaleAnimations({scale});
    return under(anim);
}

// The bytes of a file, or the message of a refusal.
struct Case {
    const char* name;
    std::function<Ptr<RootNode>()> model;
    std::string expected;
};

class Writer20Layout : public testing::TestWithParam<Case> {};

// A second save gives the same bytes: the split into two trees works on
// copies. A refusal leaves the caller's buffer untouched. Neither keeps a
// copied node alive.
TEST_P(Writer20Layout, FileIsPinnedOrRefusedWithItsMessage) {
    std::string expected = GetParam().expected;
    if (expected.starts_with(kTav2)) std::erase(expected, ' ');
    const Ptr<RootNode> root = GetParam().model();
    const size_t alive = ClassRegistry::instance().aliveCount();
    std::vector<uint8_t> out{0xAB};
    const std::string error = messageOf([&] { ClassWriter20().write(*root, out); });
    EXPECT_EQ(error.empty() ? hex(out) : error, expected);
    if (error.empty()) ClassWriter20().write(*root, out);
    EXPECT_EQ(hex(out), error.empty() ? expected : "ab");
    EXPECT_EQ(ClassRegistry::instance().aliveCount(), alive);
}

const Case kCases[] = {
    {"PlainTopNodeWithoutBaseNodesAndTheBoxesAsStored",
     [] {
         auto root = rootWith(plain("root"));
         root->addRenderNode(make<RenderNode>("model::RenderNode", "mesh"));
         root->addShellNode(make<ShellNode>("model::ShellNode", "shell"));
         root->setBoundingBox(BoundingBox::fromValues(-1, -2, -3, 1, 2, 3));
         root->setUserBox(BoundingBox::fromValues(-4, -5, -6, 4, 5, 6));
         root->setLightBox(BoundingBox::fromValues(-7, -8, -9, 7, 8, 9));
         return root;
     },
     kTav2 + "00000000" + "000080bf 000000c0 000040c0 0000803f 00000040 00004040 000080c0 0000a0c0 0000c0c0"
     "00008040 0000a040 0000c040 0000e0c0 000000c1 000010c1 0000e040 00000041 00001041" + "42554646 05000000"
     "726f6f74 00 54525452 00000000 00000000 01000000 4e4f4445 00000000 00000000 00000000 00000000 01000000"
     "4e4f4445 04000000 00000000 00000000 00000000"},
    {"TransformBoneAndStaticPropertyRecords",
     [] {
         auto bone = node<Bone>("model::Bone", "bone");
         bone->setBoneMatrix(matrix(12, 7.0));
         for (const PropertyPtr& p : std::vector<PropertyPtr>{
                  property<FloatProperty>("f1", 0.5f), property<Vec2fProperty>("f2", osg::Vec2f{1, 2}),
                  property<Vec3fProperty>("f3", osg::Vec3f{1, 2, 3}), property<Vec4fProperty>("f4", osg::Vec4f{1, 2, 3, 4}),
                  property<UIntProperty>("i1", 0xDEADBEEF), property<ArgumentProperty>("arg", 12u),
                  property<StringProperty>("text", "bone")})  // shares the name
             bone->addProperty(p);
         auto top = node<TransformNode>("model::TransformNode", "xf", {bone});
         top->setMatrix(matrix(-1, 0));
         return rootWith(top);
     },
     kTav2 + "01000000" + kNoBoxes + "42554646 20000000 78660062 6f6e6500 66310066 32006633 00663400 69310061"
     "72670074 65787400 54525452 00000000 00000000 02000000 54524e44 00000000 00000000" + kCounting + "424f4e45"
     "03000000 07000000 464c5431 08000000 0000003f 464c5432 0b000000 0000803f 00000040 464c5433 0e000000 0000803f"
     "00000040 00004040 464c5434 11000000 0000803f 00000040 00004040 00008040 494e5431 14000000 efbeadde 41415247"
     "17000000 0c000000 53545247 1b000000 03000000" + kIdentity + "0000803f 00000000 00000000 00000000 00000000"
     "0000803f 00000000 00000000 00000000 00000000 0000803f 00000000 0000e040 00000000 00000000 0000803f 00000000"
     "01000000 01000000 01000000 00000000 01000000 4e4f4445 02000000 00000000 00000000 00000000"},
    {"AnimationChannelsWriteKeyBlocksIntoThePool",
     [] {
         auto anim = node<ArgAnimationNode>("model::ArgAnimationNode", "anim");
         anim->setBaseMatrix(matrix(-1, 0));
         anim->setBasePosition({1, 2, 3});
         anim->setBaseRotation({0, 0, 0.5, 0.75});
         anim->setBaseScaleOrientation({0.25, 0, 0, 1});
         anim->setBaseScale({2, 3, 4});
         anim->setPositionAnimations({{4, {{0.0, {1, 2, 3}}, {0.5, {4, 5, 6}}}}});
         anim->setRotationAnimations({{5, {{1.0, {0, 0, 1, 0}}}}});
         anim->setScaleAnimations({{6, {{0.0, {0, 0, 0, 1}}}, {{0.0, {1, 1, 1}}, {2.0, {2, 2, 2}}}}});
         return rootWith(anim);
     },
     kTav2 + "03000000" + kNoBoxes + "42554646 6d000000 616e696d 00000000 00000000 3f000080 3f000000 40000040"
     "40000080 400000a0 400000c0 40000080 3f000000 00000000 00000080 3f000000 00000000 00000000 00000000 00000000"
     "00000080 3f000000 00000000 40000080 3f000080 3f000080 3f000000 40000000 40000000 40 54525452 00000000"
     "00000000 01000000 414e4e44 00000000 00000000" + kCounting + "0000803f 00000040 00004040 00000000 00000000"
     "0000003f 0000403f 0000803e 00000000 00000000 0000803f 00000040 00004040 00008040 01000000 04000000 02000000"
     "05000000 0d000000 01000000 05000000 01000000 25000000 29000000 01000000 06000000 01000000 39000000 3d000000"
     "02000000 4d000000 55000000 00000000 00000000 01000000 4e4f4445 04000000 00000000 00000000 00000000"},
    // A key value whose float bytes are 'a' 'b' 'c' NUL: the later name "bc"
    // stands inside the key data, and the search covers every byte offset.
    // The animated bone has no channels: three zero counts.
    {"NameSearchFindsBytesInsideEarlierKeyData",
     [] {
         const double abc = std::bit_cast<float>(0x00636261u);
         auto bone = node<ArgAnimatedBone>("model::ArgAnimatedBone", "bc");
         bone->setBoneMatrix(matrix(0, 3.0));
         auto anim = node<ArgAnimationNode>("model::ArgAnimationNode", "", {bone});
         anim->setPositionAnimations({{1, {{0.0, {abc, abc, abc}}}}});
         return rootWith(anim);
     },
     kTav2 + "01000000" + kNoBoxes + "42554646 11000000 00000000 00616263 00616263 00616263 00 54525452 00000000"
     "00000000 02000000 414e4e44 00000000 00000000" + kIdentity + "00000000 00000000 00000000 00000000 00000000"
     "00000000 0000803f 00000000 00000000 00000000 0000803f 0000803f 0000803f 0000803f 01000000 01000000 01000000"
     "01000000 05000000 00000000 00000000 414e424e 06000000 00000000" + kIdentity + "00000000 00000000 00000000"
     "00000000 00000000 00000000 0000803f 00000000 00000000 00000000 0000803f 0000803f 0000803f 0000803f 00000000"
     "00000000 00000000 00004040 00000000 00000000 00000000 00000000 0000803f 00000000 00000000 00000000 00000000"
     "0000803f 00000000 00000000 00000000 00000000 0000803f 00000000 01000000 01000000 01000000 00000000 01000000"
     "4e4f4445 00000000 00000000 00000000 00000000"},
    // A keyless animated property points both offsets at the pool's end.
    {"VisibilityRecordUses64BitRangesAndAnimatedPropertyRecords",
     [] {
         auto v = node<ArgVisibilityNode>("model::ArgVisibilityNode", "vis");
         v->setEntries({{7, {{0.0, 0.5}, {0.75, 1.0}}}, {9, {}}});
         v->addProperty(property<FloatProperty>("ignored", 1.0f));
         auto a1 = property<AnimatedFloatProperty>("a1", 2u);
         a1->addKey(0.5, 0.25f);
         auto a2 = property<AnimatedVec2fProperty>("a2", 3u);
         a2->addKey(1.0, {1, 2});
         auto a4 = property<AnimatedVec4fProperty>("a4", 5u);
         a4->addKey(0.0, {1, 2, 3, 4});
         a4->addKey(1.0, {5, 6, 7, 8});
         auto top = plain("top", {v});
         for (const PropertyPtr& p : std::vector<PropertyPtr>{
                  a1, a2, property<AnimatedVec3fProperty>("a3", 4u), a4})
             top->addProperty(p);
         return rootWith(top);
     },
     kTav2 + "06000000" + kNoBoxes + "42554646 60000000 746f7000 61310000 00003f00 00803e61 32000000 803f0000"
     "803f0000 00406133 00613400 00000000 0000803f 0000803f 00000040 00004040 00008040 0000a040 0000c040 0000e040"
     "00000041 76697300 00000000 0000003f 0000403f 0000803f 54525452 00000000 00000000 01000000 4e4f4445 00000000"
     "04000000 41464c31 04000000 02000000 01000000 07000000 0b000000 41464c32 0f000000 03000000 01000000 12000000"
     "16000000 41464c33 1e000000 04000000 00000000 21000000 21000000 41464c34 21000000 05000000 02000000 24000000"
     "2c000000 00000000 00000000 02000000 4e4f4445 03000000 00000000 414e5653 4c000000 02000000 07000000 02000000"
     "00000000 50000000 00000000 09000000 00000000 00000000 60000000 00000000 00000000 01000000 01000000 01000000"
     "00000000"},
    // Nodes carrying connectors come first in the transform list.
    {"ConnectorsFindTheNearestVisibilityNodeAbove",
     [] {
         auto deep = plain("deep"), side = plain("side");
         auto top = plain("top", {vis("outer", {vis("inner", {plain("mid", {deep})})}), side});
         auto root = rootWith(top, {{"c1", deep}, {"c2", side}, {"c3", deep}});
         const auto& c2 = root->getConnectors()[1];
         c2->addProperty(property<StringProperty>("type", "seat"));
         return root;
     },
     kTav2 + "00000000" + kNoBoxes + "42554646 31000000 64656570 00736964 6500746f 70006d69 64006f75 74657200"
     "696e6e65 72006331 00633200 74797065 00736561 74006333 00 54525452 00000000 00000000 04000000 4e4f4445"
     "00000000 00000000 4e4f4445 05000000 00000000 4e4f4445 0a000000 00000000 4e4f4445 0e000000 00000000 00000000"
     "00000000 01000000 00000000 02000000 02000000 03000000 01000000 03000000 01000000 00000000 03000000 4e4f4445"
     "04000000 00000000 414e5653 12000000 00000000 414e5653 18000000 00000000 00000000 02000000 01000000 02000000"
     "01000000 00000000 02000000 00000000 434e4354 1e000000 00000000 00000000 02000000 434e4354 21000000 01000000"
     "53545247 24000000 29000000 01000000 00000000 434e4354 2e000000 00000000 00000000 02000000"},
    {"LodInTree", [] { return under(node<LodNode>("model::LodNode", "lod")); }, "Unsupported node."},
    {"NodeTypeWithoutTag", [] { return under(node<TmpNumberRoot>("model::TmpNumberRoot", "t")); }, "Unknown node id."},
    {"ScaleWithoutArgument", [] { return door({kNoArgument, {}, {}}); }, "Node 'door' has invalid scale handle."},
    {"ConnectorOnLod", [] { auto lod = node<LodNode>("model::LodNode", "lod"); return rootWith(lod, {{"plug", lod}}); },
     "Remove connectors from lods."},
    {"ConnectorOutsideTheTree", [] { return rootWith(plain("top"), {{"plug", plain("elsewhere")}}); },
     "Unknown node."},
    {"ConnectorWithoutParent", [] { return rootWith(plain("top"), {{"plug", nullptr}}); },
     "Connector 'plug' has no parent."},
};

INSTANTIATE_TEST_SUITE_P(Writer20, Writer20Layout, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The pool against its definition: a string is stored up to its first NUL,
// and its offset is the first place in the whole pool (raw bytes included)
// where those bytes and a NUL stand, or the end when there is none. Short
// strings over ten letters share many tails, so that index nodes grow past
// the few children they hold in a list and edges split at every depth.
TEST(DataPool20, EveryStringStandsAtTheFirstPlaceItsBytesAndANulDo) {
    std::mt19937 random(20);
    for (int round = 0; round < 20; ++round) {
        DataPool20 pool;
        std::string model;  // the pool's bytes, kept by the definition
        for (int op = 0; op < 400; ++op) {
            std::string s(random() % 7, '\0');
            for (char& c : s) c = char('a' + random() % 10);
            if (random() % 10 == 0 && !s.empty()) s[random() % s.size()] = '\0';
            if (random() % 8 == 0) {
                pool.write(s.data(), s.size());
                model += s;
                continue;
            }
            const std::string stored = s.substr(0, s.find('\0')) + std::string(1, '\0');
            const std::size_t first = model.find(stored);
            const std::uint32_t offset = pool.addString(s);
            if (first == std::string::npos) {
                EXPECT_EQ(offset, model.size()) << "round " << round << " op " << op;
                model += stored;
            } else {
                EXPECT_EQ(offset, first) << "round " << round << " op " << op;
            }
            ASSERT_EQ(std::string(pool.bytes().begin(), pool.bytes().end()), model) << "round " << round << " op " << op;
        }
    }
}

}  // namespace
