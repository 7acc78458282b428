// The class registry: objects made and cloned by name, counted while alive,
// with one lock that threads and forked children must both get through.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "ClassRegistry.h"
#include "CoreTestSupport.h"
#include "Node.h"
#include "NodeType.h"
#include "StaticProperty.h"

namespace model {
namespace {

ClassRegistry& registry() { return ClassRegistry::instance(); }

TEST(RegistryTest, UnknownNamesAndCopiesUnderAnotherClassGiveNullWithoutChangingTheCount) {
    auto source = registry().createAs<FloatProperty>("model::Property<float>");
    const std::size_t before = registry().aliveCount();
    for (const char* name : {"", "model::node", "model::Property<double>", "model::Node ", "UNKNOWN_NODE_ID"}) {
        EXPECT_FALSE(registry().create(name)) << name;
        EXPECT_FALSE(registry().isRegistered(name)) << name;
    }
    // A copy made as another class would misread the source.
    EXPECT_FALSE(registry().clone(*source, "model::Property<const char*>"));
    EXPECT_FALSE(registry().clone(*source, "model::Node"));
    EXPECT_FALSE(registry().createAs<Node>("model::Property<float>"));
    EXPECT_EQ(registry().aliveCount(), before);
    EXPECT_THROW(registry().registerClass<Node>("model::Node"), qz::ExtException);
    // A copy under the source's own class is counted while it lives.
    Ptr<IObject> copy = registry().clone(*source, "model::Property<float>");
    ASSERT_TRUE(copy);
    EXPECT_EQ(registry().aliveCount(), before + 1);
    copy.reset();
    EXPECT_EQ(registry().aliveCount(), before);
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
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(shared->refCount(), 1u);
    shared.reset();
    EXPECT_EQ(registry().aliveCount(), before);
}

// fork() copies only the forking thread; the registry's lock inherited taken
// by another thread would hang the child's first object.
TEST(RegistryTest, ChildForkedWhileAnotherThreadMakesObjectsCanMakeAndCountObjects) {
    coretest::expectForkedChildrenFinish([] { Ptr<IObject> made = ClassRegistry::instance().create("model::Node"); },
                                         [] {
                                             const std::size_t before = registry().aliveCount();
                                             Ptr<IObject> made = registry().create("model::TransformNode");
                                             if (!made || registry().aliveCount() != before + 1) return 1;
                                             made.reset();
                                             return registry().aliveCount() == before ? 0 : 2;
                                         },
                                         40);
}

}  // namespace
}  // namespace model
