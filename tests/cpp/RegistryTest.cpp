#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "AnimatedProperty.h"
#include "ClassRegistry.h"
#include "ForkedChild.h"
#include "Node.h"
#include "NodeType.h"
#include "StaticProperty.h"

namespace model {
namespace {

ClassRegistry& registry() { return ClassRegistry::instance(); }

class RegistryNames : public ::testing::TestWithParam<const char*> {};

TEST_P(RegistryNames, CreateMakesCountedObjectOfTheNamedClassAndReleaseUncountsIt) {
    const std::size_t before = registry().aliveCount();
    {
        Ptr<IObject> object = registry().create(GetParam());
        ASSERT_TRUE(object);
        EXPECT_EQ(object->getOwner(), &registry());
        EXPECT_EQ(object->refCount(), 1u);
        EXPECT_EQ(registry().aliveCount(), before + 1);
        if (auto* p = dynamic_cast<IProperty*>(object.get())) {
            EXPECT_STREQ(p->getClassName(), GetParam());
        } else {
            auto* n = dynamic_cast<INode*>(object.get());
            ASSERT_NE(n, nullptr);
            EXPECT_STREQ(getNodeTypeName(n->getType()), GetParam());
        }
    }
    EXPECT_EQ(registry().aliveCount(), before);
}

INSTANTIATE_TEST_SUITE_P(Registry, RegistryNames,
                         ::testing::Values("model::Node", "model::Property<float>", "model::Property<unsigned int>",
                                           "model::Property<osg::Vec2f>", "model::Property<osg::Vec3f>",
                                           "model::Property<osg::Vec4f>", "model::Property<const char*>",
                                           "model::ArgumentProperty", "model::AnimatedProperty<float>",
                                           "model::AnimatedProperty<osg::Vec2f>",
                                           "model::AnimatedProperty<osg::Vec3f>",
                                           "model::AnimatedProperty<osg::Vec4f>"));

TEST(RegistryTest, UnknownNamesGiveNullWithoutChangingTheCount) {
    const std::size_t before = registry().aliveCount();
    for (const char* name : {"", "model::node", "model::Property<double>", "model::Node ", "UNKNOWN_NODE_ID"}) {
        EXPECT_FALSE(registry().create(name)) << name;
        EXPECT_FALSE(registry().isRegistered(name)) << name;
    }
    auto node = registry().createAs<Node>("model::Node");
    const std::size_t withNode = registry().aliveCount();
    EXPECT_FALSE(registry().clone(*node, "model::NoSuchClass"));
    EXPECT_EQ(registry().aliveCount(), withNode);
    node.reset();
    EXPECT_EQ(registry().aliveCount(), before);
}

TEST(RegistryTest, CloneCopiesTheSourceAndCountsTheCopy) {
    auto source = registry().createAs<FloatProperty>("model::Property<float>");
    source->setName("gloss");
    source->setValue(0.25f);
    const std::size_t before = registry().aliveCount();
    auto copy = registry().cloneAs<FloatProperty>(*source, "model::Property<float>");
    ASSERT_TRUE(copy);
    EXPECT_NE(copy.get(), source.get());
    EXPECT_EQ(copy->getOwner(), &registry());
    EXPECT_EQ(copy->getName(), "gloss");
    EXPECT_EQ(copy->getValue(), 0.25f);
    EXPECT_EQ(registry().aliveCount(), before + 1);
    copy.reset();
    EXPECT_EQ(registry().aliveCount(), before);
}

TEST(RegistryTest, CloneUnderAnotherClassNameGivesNullInsteadOfAMisreadCopy) {
    auto source = registry().createAs<FloatProperty>("model::Property<float>");
    const std::size_t before = registry().aliveCount();
    EXPECT_FALSE(registry().clone(*source, "model::Property<const char*>"));
    EXPECT_FALSE(registry().clone(*source, "model::Node"));
    EXPECT_EQ(registry().aliveCount(), before);
}

TEST(RegistryTest, TypedCreateOfTheWrongTypeGivesNullAndLeavesNothingAlive) {
    const std::size_t before = registry().aliveCount();
    EXPECT_FALSE(registry().createAs<Node>("model::Property<float>"));
    EXPECT_EQ(registry().aliveCount(), before);
}

TEST(RegistryTest, ObjectsMadeOutsideTheRegistryHaveNoOwnerAndAreNotCounted) {
    const std::size_t before = registry().aliveCount();
    {
        Ptr<FloatProperty> p(new FloatProperty());
        EXPECT_EQ(p->getOwner(), nullptr);
        EXPECT_EQ(registry().aliveCount(), before);
        auto copy = registry().cloneAs<FloatProperty>(*p, "model::Property<float>");
        EXPECT_EQ(registry().aliveCount(), before + 1);
        // A plain copy of a registry object does not inherit its owner.
        Ptr<FloatProperty> plain(new FloatProperty(*copy));
        EXPECT_EQ(plain->getOwner(), nullptr);
    }
    EXPECT_EQ(registry().aliveCount(), before);
}

TEST(RegistryTest, CountFallsOnlyWhenTheLastPointerGoes) {
    const std::size_t before = registry().aliveCount();
    Ptr<IObject> a = registry().create("model::Property<float>");
    Ptr<IObject> b = a;
    Ptr<IProperty> c = qz::dynamicPtrCast<IProperty>(a);
    EXPECT_EQ(a->refCount(), 3u);
    a.reset();
    b.reset();
    EXPECT_EQ(registry().aliveCount(), before + 1);
    c.reset();
    EXPECT_EQ(registry().aliveCount(), before);
}

TEST(RegistryTest, ReleasingObjectsInAnyOrderKeepsTheLiveListExact) {
    const std::size_t before = registry().aliveCount();
    std::vector<Ptr<IObject>> objects;
    for (int i = 0; i < 50; ++i) objects.push_back(registry().create("model::Property<unsigned int>"));
    // Release from the middle outwards, and refill half the freed slots
    // before releasing everything: a reused slot must not be released twice
    // or counted for its former owner.
    for (std::size_t step = 0; step < 25; ++step) objects[(step * 17) % 50].reset();
    EXPECT_EQ(registry().aliveCount(), before + 25);
    for (auto& o : objects)
        if (!o) o = registry().create("model::Property<float>");
    EXPECT_EQ(registry().aliveCount(), before + 50);
    for (std::size_t step = 0; step < 50; ++step) {
        const std::size_t i = (step * 17) % 50;
        if (objects[i]) {
            objects[i].reset();
        } else {
            for (auto& o : objects)
                if (o) {
                    o.reset();
                    break;
                }
        }
        EXPECT_EQ(registry().aliveCount(), before + 50 - step - 1);
    }
}

TEST(RegistryTest, DuplicateRegistrationIsRefused) {
    EXPECT_THROW(registry().registerClass<Node>("model::Node"), qz::ExtException);
    EXPECT_THROW(registry().registerClass("model::NullFactoryForTest", nullptr), qz::ExtException);
    EXPECT_FALSE(registry().isRegistered("model::NullFactoryForTest"));
}

TEST(RegistryTest, ConcurrentCreateCopyAndReleaseLeaveTheCountWhereItWas) {
    const std::size_t before = registry().aliveCount();
    Ptr<IObject> shared = registry().create("model::Property<float>");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&shared] {
            for (int i = 0; i < 2000; ++i) {
                Ptr<IObject> mine = ClassRegistry::instance().create("model::AnimatedProperty<float>");
                Ptr<IObject> copy = shared;  // one object, counted from every thread
                Ptr<IObject> again = mine;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(shared->refCount(), 1u);
    EXPECT_EQ(registry().aliveCount(), before + 1);
    shared.reset();
    EXPECT_EQ(registry().aliveCount(), before);
}

// fork() copies only the forking thread; the registry's lock inherited taken
// by another thread would hang the child's first object.
TEST(RegistryTest, ChildForkedWhileAnotherThreadMakesObjectsCanMakeAndCountObjects) {
    std::atomic<bool> stop{false};
    std::thread busy([&stop] {
        while (!stop) Ptr<IObject> made = ClassRegistry::instance().create("model::Node");
    });
    int hung = 0, failed = 0;
    for (int round = 0; round < 40; ++round) {
        const coretest::ChildEnd end = coretest::runInForkedChild([] {
            const std::size_t before = registry().aliveCount();
            Ptr<IObject> made = registry().create("model::TransformNode");
            if (!made || registry().aliveCount() != before + 1) return 1;
            made.reset();
            return registry().aliveCount() == before ? 0 : 2;
        });
        hung += end == coretest::ChildEnd::Hung;
        failed += end == coretest::ChildEnd::Failed;
    }
    stop = true;
    busy.join();
    EXPECT_EQ(hung, 0);
    EXPECT_EQ(failed, 0);
}

TEST(RegistryTest, NodeTypeNamesCoverEveryIdAndNothingElse) {
    EXPECT_STREQ(getNodeTypeName(0u), "model::ArgAnimatedBone");
    EXPECT_STREQ(getNodeTypeName(10u), "model::Node");
    EXPECT_STREQ(getNodeTypeName(14u), "model::TreeShellNode");
    EXPECT_STREQ(getNodeTypeName(25u), "model::TmpNumberRoot");
    EXPECT_STREQ(getNodeTypeName(NodeType::AnimatedFakeSpotLightsNode), "model::AnimatedFakeSpotLightsNode");
    for (std::uint32_t id : {26u, 27u, 1000u, 0x7FFFFFFFu, 0xFFFFFFFFu})
        EXPECT_STREQ(getNodeTypeName(id), "UNKNOWN_NODE_ID") << id;
}

}  // namespace
}  // namespace model
