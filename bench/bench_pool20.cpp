// Format 2.0 save time against the number of uniquely named nodes: the pool
// search for names must keep the save near-linear. Prints the median of a
// few runs for 5,000 and 20,000 nodes and their ratio, and the same for one
// plain walk over each model as a yardstick of what the caches alone do to
// linear work; exits with 1 when the save ratio is 6 or more (linear would
// be 4). Times are the thread's CPU time, so that other work on a shared
// machine blurs the ratio less.

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "ClassRegistry.h"
#include "StaticProperty.h"
#include "io/tav2/ClassWriter20.h"
#include "nodes/ArgAnimationNode.h"
#include "nodes/RootNode.h"

using namespace model;
using bench::make;

namespace {

// Names share long tails and every node carries a string property, so the
// pool holds many suffixes; every tenth node adds key data to the pool.
Ptr<RootNode> namedModel(int count) {
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

double saveSeconds(const RootNode& root, std::size_t& size) {
    std::vector<uint8_t> out;
    const double start = cpuSeconds();
    ClassWriter20().write(root, out);
    const double took = cpuSeconds() - start;
    size = out.size();
    return took;
}

// For comparison: one plain walk over the model (its argument count), which
// any save makes. Its ratio shows what the machine's caches alone do to
// linear work over the larger model.
double walkSeconds(const RootNode& root, std::size_t& handles) {
    const double start = cpuSeconds();
    handles = root.calcNumHandles();
    return cpuSeconds() - start;
}

double median(std::vector<double> times) {
    std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
    return times[times.size() / 2];
}

// Median ratio of measure on the two models, the sizes taking turns so that
// a busy spell of the machine does not fall on one of them only.
template <class Measure>
double compare(const char* what, const RootNode& small, const RootNode& large, Measure measure) {
    constexpr int kRuns = 11;
    std::vector<double> smallTimes, largeTimes;
    std::size_t smallSize = 0, largeSize = 0;
    for (int run = 0; run < kRuns; ++run) {
        smallTimes.push_back(measure(small, smallSize));
        largeTimes.push_back(measure(large, largeSize));
    }
    const double smallTime = median(smallTimes);
    const double largeTime = median(largeTimes);
    std::printf("%s %6d names: %.4f s (%zu)\n", what, 5000, smallTime, smallSize);
    std::printf("%s %6d names: %.4f s (%zu)\n", what, 20000, largeTime, largeSize);
    return largeTime / smallTime;
}

}  // namespace

// With a name count argument, saves only that model, many times (for
// profiling).
int main(int argc, char** argv) {
    if (argc > 1) {
        const Ptr<RootNode> only = namedModel(std::atoi(argv[1]));
        std::size_t size = 0;
        double total = 0;
        for (int run = 0; run < 50; ++run) total += saveSeconds(*only, size);
        std::printf("%s names: %.4f s per save (%zu bytes)\n", argv[1], total / 50, size);
        return 0;
    }
    const Ptr<RootNode> small = namedModel(5000);
    const Ptr<RootNode> large = namedModel(20000);
    const double save = compare("save (bytes)", *small, *large, saveSeconds);
    const double walk = compare("walk (handles)", *small, *large, walkSeconds);
    std::printf("ratio 20000/5000: %.2f (limit 6); a plain walk of the model: %.2f\n", save, walk);
    return save < 6.0 ? 0 : 1;
}
