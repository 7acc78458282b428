// Format 2.0 save time against the number of uniquely named nodes: the pool
// search for names must keep the save near-linear. Prints the best of a few
// runs for 5,000 and 20,000 nodes and their ratio; exits with 1 when the
// ratio is 6 or more (linear would be 4). Times are the thread's CPU time,
// so that other work on a shared machine does not blur the ratio.

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ClassRegistry.h"
#include "StaticProperty.h"
#include "io/tav2/ClassWriter20.h"
#include "nodes/ArgAnimationNode.h"
#include "nodes/RootNode.h"

using namespace model;

namespace {

template <class T>
Ptr<T> make(const char* cls) {
    Ptr<T> p = ClassRegistry::instance().createAs<T>(cls);
    if (!p) {
        std::fprintf(stderr, "can't create %s\n", cls);
        std::exit(2);
    }
    return p;
}

// Names share long tails and every node carries a string property, so the
// pool holds many suffixes; every tenth node adds key data to the pool.
Ptr<RootNode> model(int count) {
    auto top = make<Node>("model::Node");
    top->setName("top");
    Ptr<Node> group = top;
    for (int i = 0; i < count; ++i) {
        Ptr<Node> node;
        if (i % 10 == 0) {
            auto anim = make<ArgAnimationNode>("model::ArgAnimationNode");
            anim->setPositionAnimations({{1, {{0.0, {0, 0, double(i)}}, {1.0, {double(i), 0, 0}}}}});
            node = anim;
        } else {
            node = make<Node>("model::Node");
        }
        node->setName("part_" + std::to_string(i) + "_body_shape_lod0");
        auto label = make<StringProperty>("model::Property<const char*>");
        label->setName("label");
        label->setValue("label_" + std::to_string(i * 7919 % count) + "_text");
        node->addProperty(label);
        if (i % 100 == 0) {
            group = node;
            top->addChild(node);
        } else {
            group->addChild(node);
        }
    }
    auto root = make<RootNode>("model::RootNode");
    root->setTopNode(top);
    return root;
}

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double bestSeconds(int count, int runs) {
    const Ptr<RootNode> root = model(count);
    double best = 1e30;
    std::size_t size = 0;
    for (int r = 0; r < runs; ++r) {
        std::vector<uint8_t> out;
        const double start = cpuSeconds();
        ClassWriter20().write(*root, out);
        best = std::min(best, cpuSeconds() - start);
        size = out.size();
    }
    std::printf("%6d names: %.4f s (%zu bytes)\n", count, best, size);
    return best;
}

}  // namespace

int main() {
    const double small = bestSeconds(5000, 7);
    const double large = bestSeconds(20000, 7);
    const double ratio = large / small;
    std::printf("ratio 20000/5000: %.2f (limit 6)\n", ratio);
    return ratio < 6.0 ? 0 : 1;
}
