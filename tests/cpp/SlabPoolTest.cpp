// The slab pool behind tree nodes: storage of every size class is distinct
// while held, aligned, and safe to use from several threads at once.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "ClassRegistry.h"
#include "CoreTestSupport.h"
#include "Node.h"
#include "qz/SlabPool.h"

namespace {

// Without the pool's lock two threads are handed the same cell, and one
// thread's bytes show up in the other's block.
TEST(SlabPool, ThreadsAllocatingAndReleasingAtOnceGetDistinctAlignedBlocks) {
    auto churn = [](unsigned seed, int& bad) {
        std::vector<std::pair<void*, std::size_t>> held;
        for (unsigned i = 0; i < 20000; ++i) {
            const std::size_t size = 8 + (seed * 131 + i * 29) % 600;
            void* p = qz::SlabPool::allocate(size);
            bad += reinterpret_cast<std::uintptr_t>(p) % alignof(std::max_align_t) != 0;
            std::memset(p, int(seed), size);
            held.emplace_back(p, size);
            if (held.size() > 64) {
                const auto [q, n] = held[i % held.size()];
                held[i % held.size()] = held.back();
                held.pop_back();
                for (std::size_t k = 0; k < n; ++k) bad += static_cast<const unsigned char*>(q)[k] != seed;
                qz::SlabPool::release(q, n);
            }
        }
        for (const auto& [q, n] : held) qz::SlabPool::release(q, n);
    };
    int bad1 = 0, bad2 = 0;
    std::thread a(churn, 1u, std::ref(bad1));
    std::thread b(churn, 2u, std::ref(bad2));
    a.join();
    b.join();
    EXPECT_EQ(bad1, 0);
    EXPECT_EQ(bad2, 0);
}

// A child inheriting the pool's lock, or its construction half done, from a
// thread that does not exist in it would hang at its first allocation.
TEST(SlabPool, ChildForkedWhileAnotherThreadAllocatesCanAllocate) {
    coretest::expectForkedChildrenFinish([] { qz::SlabPool::release(qz::SlabPool::allocate(64), 64); },
                                         [] {
                                             qz::SlabPool::release(qz::SlabPool::allocate(64), 64);
                                             return 0;
                                         },
                                         20);
}

// A node deleted through a base pointer must hand its dynamic size back: a
// mismatch would put storage in the wrong size class and overlap it with a
// later, larger node.
TEST(SlabPool, NodesOfEveryKindAreFreedWithTheirOwnSize) {
    std::vector<model::NodePtr> nodes;
    for (const char* cls : {"model::Node", "model::TransformNode", "model::ArgAnimationNode",
                            "model::ArgVisibilityNode", "model::LodNode", "model::Bone"})
        for (int i = 0; i < 50; ++i) {
            nodes.push_back(model::ClassRegistry::make<model::Node>(cls));
            nodes.back()->setName(std::string(cls) + std::to_string(i));
        }
    for (std::size_t i = 0; i < nodes.size(); i += 2) nodes[i].reset();
    std::vector<model::NodePtr> again;
    for (int i = 0; i < 150; ++i) again.push_back(model::ClassRegistry::make<model::Node>("model::ArgAnimationNode"));
    for (std::size_t i = 1; i < nodes.size(); i += 2) EXPECT_EQ(nodes[i]->getName().rfind("model::", 0), 0u);
}

}  // namespace
