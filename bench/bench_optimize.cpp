// Scene-graph optimisation time against model size, without the rest of the
// save: the tree of bench_optimize.py (units of 100 nodes, a chain of ten
// transform, visibility and animation nodes with 90 more below it, a render
// node of 100 vertices on every tenth node) built directly in C++ and run
// through optimizeTransformations. Prints the time (thread CPU time, the best
// of two runs in a process of its own, the median of five rounds) for 10,000
// and 100,000 nodes and their ratio, then the same for 20,000 and 200,000.
// Linear work gives 10 for both; the tree walks chase pointers, so the
// ratios also show how much of each model fits in the last-level cache (the
// 10,000-node model, some 8 MB, fits in a 32 MB cache). The speed goal
// applies to the save as a whole: bench_optimize.py.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "ClassRegistry.h"
#include "PropertiesSet.h"
#include "nodes/ArgAnimationNode.h"
#include "nodes/ArgVisibilityNode.h"
#include "nodes/RenderNode.h"
#include "nodes/RootNode.h"
#include "nodes/TransformNode.h"
#include "utils/OptimizeTransformations.h"

using namespace model;
using bench::make;

namespace {

constexpr int kUnit = 100;
constexpr int kChain = 10;
constexpr int kGrid = 10;

Matrix44d shift(double x, double y, double z) {
    Matrix44d m;
    m(3, 0) = x;
    m(3, 1) = y;
    m(3, 2) = z;
    return m;
}

Ptr<Node> treeNode(int number) {
    Ptr<Node> n;
    switch (number % 7) {
        case 0: {
            auto t = make<TransformNode>("model::TransformNode");
            t->setMatrix(shift(number % 5, 1, 0));
            n = t;
            break;
        }
        case 1: {
            auto v = make<ArgVisibilityNode>("model::ArgVisibilityNode");
            v->setEntries({{1, {{-1.0, 0.5}}}});
            n = v;
            break;
        }
        case 2: {
            auto a = make<ArgAnimationNode>("model::ArgAnimationNode");
            a->setBaseMatrix(shift(0, 0, 1));
            a->setPositionAnimations({{2, {{0.0, {0, 0, 0}}, {1.0, {1, 0, 0}}}}});
            n = a;
            break;
        }
        case 3: {
            Matrix44d turn = shift(1, 0, 2);
            turn(0, 0) = 0;
            turn(0, 1) = 1;
            turn(1, 0) = -1;
            turn(1, 1) = 0;
            auto t = make<TransformNode>("model::TransformNode");
            t->setMatrix(turn);
            n = t;
            break;
        }
        case 4: {
            auto a = make<ArgAnimationNode>("model::ArgAnimationNode");
            a->setBaseMatrix(shift(2, 0, 0));
            n = a;
            break;
        }
        case 5: n = make<TransformNode>("model::TransformNode"); break;
        default: n = make<ArgVisibilityNode>("model::ArgVisibilityNode"); break;
    }
    n->setName("n" + std::to_string(number));
    return n;
}

Ptr<RenderNode> mesh(int number, const Ptr<Node>& parent, const Ptr<PropertiesSet>& material) {
    auto r = make<RenderNode>("model::RenderNode");
    r->setName("mesh" + std::to_string(number));
    r->setMaterial(material);
    Vertices v;
    std::vector<float> positions, normals;
    for (int row = 0; row < kGrid; ++row)
        for (int c = 0; c < kGrid; ++c) {
            positions.insert(positions.end(), {float(c), float(row), float(number), 0.0f});
            normals.insert(normals.end(), {0.0f, 0.0f, 1.0f});
        }
    v.setAttribute(POSITION0, 4, positions);
    v.setAttribute(NORMAL0, 3, normals);
    Indices indices;
    for (int row = 0; row + 1 < kGrid; ++row)
        for (int c = 0; c + 1 < kGrid; ++c) {
            const std::uint32_t a = row * kGrid + c;
            indices.indices.insert(indices.indices.end(), {a, a + 1, a + kGrid, a + 1, a + kGrid + 1, a + kGrid});
        }
    r->replaceGeometry(v, indices);
    r->setParent(0, parent);
    return r;
}

Ptr<RootNode> build(int nodeCount) {
    auto root = make<RootNode>("model::RootNode");
    auto top = make<Node>("model::Node");
    top->setName("root");
    root->setTopNode(top);
    Ptr<PropertiesSet> material(new PropertiesSet());
    int number = 1;
    for (int u = 0; u < nodeCount / kUnit; ++u) {
        std::vector<Ptr<Node>> chain;
        Ptr<Node> parent = top;
        for (int i = 0; i < kChain; ++i, ++number) {
            Ptr<Node> n = treeNode(number);
            parent->addChild(n);
            chain.push_back(n);
            if (number % 10 == 0) root->addRenderNode(mesh(number, n, material));
            parent = n;
        }
        for (int j = 0; j < kUnit - kChain; ++j, ++number) {
            Ptr<Node> n = treeNode(number);
            chain[j % kChain]->addChild(n);
            if (number % 10 == 0) root->addRenderNode(mesh(number, n, material));
        }
    }
    return root;
}

// The best of two runs on freshly built models, in a process of its own.
double secondsApart(int nodeCount) {
    return bench::runApart<double>([nodeCount] {
        double best = 1e300;
        for (int run = 0; run < 2; ++run) {
            Ptr<RootNode> root = build(nodeCount);
            const double start = bench::cpuSeconds();
            optimizeTransformations(*root);
            best = std::min(best, bench::cpuSeconds() - start);
        }
        return best;
    });
}

// Median over rounds in which the sizes take turns, so that a busy spell of
// the machine does not fall on one of them only.
void ratioOf(int smallCount, int largeCount) {
    constexpr int kRounds = 5;
    std::vector<double> small, large;
    for (int round = 0; round < kRounds; ++round) {
        small.push_back(secondsApart(smallCount));
        large.push_back(secondsApart(largeCount));
    }
    const double s = bench::median(small), l = bench::median(large);
    std::printf("%7d tree nodes: %9.2f ms\n", smallCount, s * 1000);
    std::printf("%7d tree nodes: %9.2f ms\n", largeCount, l * 1000);
    std::printf("ratio %d / %d: %.2f\n", largeCount, smallCount, l / s);
}

}  // namespace

// With a node count argument, times only that size (for profiling).
int main(int argc, char** argv) {
    if (argc > 1) {
        const int count = std::atoi(argv[1]);
        std::printf("%7d tree nodes: %9.2f ms\n", count, secondsApart(count) * 1000);
        return 0;
    }
    ratioOf(10000, 100000);
    ratioOf(20000, 200000);
    return 0;
}
