// The slab pool behind tree nodes: storage of every size class is distinct
// while held, aligned, and safe to use from several threads at once.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <sched.h>
#include <thread>
#include <vector>

#include "ClassRegistry.h"
#include "CoreTestSupport.h"
#include "Node.h"
#include "qz/SlabPool.h"

namespace {

// Without the pool's lock two threads are handed the same cell, and one
// thread's bytes show up in the other's block. Each thread counts its own
// faults: a counter shared in the loop would order the threads' steps for the
// thread sanitizer and hide from it a race between them.
TEST(SlabPool, ThreadsAllocatingAndReleasingAtOnceGetDistinctAlignedBlocks) {
    std::atomic<int> bad{0};
    std::vector<std::thread> threads;
    for (unsigned seed = 1; seed <= 4; ++seed)
        threads.emplace_back([seed, &bad] {
            cpu_set_t one;  // threads spread over the processors, so that they run at the same moment
            CPU_ZERO(&one);
            CPU_SET(seed % std::thread::hardware_concurrency(), &one);
            sched_setaffinity(0, sizeof one, &one);
            std::vector<std::pair<unsigned char*, std::size_t>> held;
            int mine = 0;
            for (unsigned i = 0; i < 50000; ++i) {
                const std::size_t size = 8 + (i % 4) * 16;  // few classes, so that threads meet in them
                auto* p = static_cast<unsigned char*>(qz::SlabPool::allocate(size));
                mine += reinterpret_cast<std::uintptr_t>(p) % alignof(std::max_align_t) != 0;
                std::memset(p, int(seed), size);
                held.emplace_back(p, size);
                if (held.size() < 16) continue;
                for (const auto& [q, n] : held) {
                    for (std::size_t k = 0; k < n; ++k) mine += q[k] != seed;
                    qz::SlabPool::release(q, n);
                }
                held.clear();
            }
            bad += mine;
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(bad.load(), 0);
}

// A child inheriting the pool's lock, or its construction half done, from a
// thread that does not exist in it would hang at its first allocation.
TEST(SlabPool, ChildForkedWhileAnotherThreadAllocatesCanAllocate) {
    const auto allocate = [] { qz::SlabPool::release(qz::SlabPool::allocate(64), 64); };
    coretest::expectForkedChildrenFinish(allocate, [allocate] { return allocate(), 0; }, 20);
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
