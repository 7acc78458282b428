// The slab pool behind tree nodes: storage of every size class is distinct
// while held, reused once released, aligned, and safe to use from several
// threads at once.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ClassRegistry.h"
#include "Node.h"
#include "qz/SlabPool.h"

namespace {

struct Block {
    void* p;
    std::size_t size;
};

TEST(SlabPool, HeldBlocksNeverOverlapAndKeepTheirBytes) {
    std::vector<Block> blocks;
    for (std::size_t i = 0; i < 3000; ++i) {
        const std::size_t size = 1 + (i * 37) % (qz::SlabPool::kLargest + 200);  // some beyond the pooled sizes
        void* p = qz::SlabPool::allocate(size);
        ASSERT_EQ(reinterpret_cast<std::uintptr_t>(p) % alignof(std::max_align_t), 0u);
        std::memset(p, int(i & 0xff), size);
        blocks.push_back({p, size});
    }
    std::set<std::pair<std::uintptr_t, std::uintptr_t>> spans;
    for (const Block& b : blocks) {
        const auto start = reinterpret_cast<std::uintptr_t>(b.p);
        const auto next = spans.lower_bound({start, 0});
        if (next != spans.end()) {
            EXPECT_LE(start + b.size, next->first);
        }
        if (next != spans.begin()) {
            EXPECT_LE(std::prev(next)->second, start);
        }
        spans.insert({start, start + b.size});
    }
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const auto* bytes = static_cast<const unsigned char*>(blocks[i].p);
        for (std::size_t k = 0; k < blocks[i].size; ++k) ASSERT_EQ(bytes[k], i & 0xff) << "block " << i;
        qz::SlabPool::release(blocks[i].p, blocks[i].size);
    }
    qz::SlabPool::release(nullptr, 16);
}

TEST(SlabPool, ThreadsAllocatingAndReleasingAtOnceGetDistinctBlocks) {
    auto churn = [](unsigned seed, bool& ok) {
        std::vector<Block> held;
        for (unsigned i = 0; i < 20000; ++i) {
            const std::size_t size = 8 + (seed * 131 + i * 29) % 600;
            void* p = qz::SlabPool::allocate(size);
            std::memset(p, int(seed), size);
            held.push_back({p, size});
            if (held.size() > 64) {
                const Block b = held[i % held.size()];
                held[i % held.size()] = held.back();
                held.pop_back();
                const auto* bytes = static_cast<const unsigned char*>(b.p);
                for (std::size_t k = 0; k < b.size; ++k) ok = ok && bytes[k] == (seed & 0xff);
                qz::SlabPool::release(b.p, b.size);
            }
        }
        for (const Block& b : held) qz::SlabPool::release(b.p, b.size);
    };
    bool ok1 = true, ok2 = true;
    std::thread a(churn, 1u, std::ref(ok1));
    std::thread b(churn, 2u, std::ref(ok2));
    a.join();
    b.join();
    EXPECT_TRUE(ok1);
    EXPECT_TRUE(ok2);
}

TEST(SlabPool, ChildForkedWhileAnotherThreadAllocatesCanAllocate) {
    // A child inheriting the pool's lock, or its construction half done,
    // from a thread that does not exist in it would hang at its first
    // allocation. In a process of its own (as ctest runs it) the busy
    // thread's first allocation races the first fork.
    std::atomic<bool> stop{false};
    std::thread busy([&stop] {
        while (!stop) qz::SlabPool::release(qz::SlabPool::allocate(64), 64);
    });
    int hung = 0, failed = 0;
    for (int round = 0; round < 20; ++round) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            void* p = qz::SlabPool::allocate(64);
            qz::SlabPool::release(p, 64);
            _exit(0);
        }
        int status = 0;
        bool done = false;
        for (int wait = 0; wait < 500 && !done; ++wait) {
            done = waitpid(pid, &status, WNOHANG) == pid;
            if (!done) usleep(10000);
        }
        if (!done) {
            ++hung;
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            ++failed;
        }
    }
    stop = true;
    busy.join();
    EXPECT_EQ(hung, 0);
    EXPECT_EQ(failed, 0);
}

TEST(SlabPool, NodesOfEveryKindGoThroughItAndAreFreedWithTheirOwnSize) {
    // A node deleted through a base pointer must hand its dynamic size back:
    // a mismatch would put storage in the wrong size class and overlap it
    // with a later, larger node.
    std::vector<model::NodePtr> nodes;
    for (const char* cls : {"model::Node", "model::TransformNode", "model::ArgAnimationNode",
                            "model::ArgVisibilityNode", "model::LodNode", "model::Bone"})
        for (int i = 0; i < 50; ++i) {
            model::NodePtr n = model::ClassRegistry::make<model::Node>(cls);
            ASSERT_TRUE(n) << cls;
            n->setName(std::string(cls) + std::to_string(i));
            nodes.push_back(n);
        }
    for (std::size_t i = 0; i < nodes.size(); i += 2) nodes[i].reset();
    std::vector<model::NodePtr> again;
    for (int i = 0; i < 150; ++i)
        again.push_back(model::ClassRegistry::make<model::Node>("model::ArgAnimationNode"));
    for (std::size_t i = 1; i < nodes.size(); i += 2) EXPECT_EQ(nodes[i]->getName().rfind("model::", 0), 0u);
}

}  // namespace
