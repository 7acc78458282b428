// Format 2.0 save time against the number of uniquely named nodes: the pool
// search for names must keep the save near-linear. Prints the median save
// time for 5,000 and 20,000 nodes and their ratio, and the same for one plain
// walk over each model as a yardstick of what the caches alone do to linear
// work (the 5,000-node model stays in them, the 20,000-node one does not);
// exits with 1 when the save ratio is 6 or more (linear would be 4). Each
// measurement runs in a process of its own, the sizes taking turns; times are
// the thread's CPU time, so that other work on a shared machine blurs the
// ratio less.

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

double saveSeconds(const RootNode& root, std::size_t& size) {
    std::vector<uint8_t> out;
    const double start = bench::cpuSeconds();
    ClassWriter20().write(root, out);
    const double took = bench::cpuSeconds() - start;
    size = out.size();
    return took;
}

// For comparison: one plain walk over the model (its argument count). Its
// ratio shows what the machine's caches alone do to linear work over the
// larger model.
double walkSeconds(const RootNode& root, std::size_t& handles) {
    const double start = bench::cpuSeconds();
    handles = root.calcNumHandles();
    return bench::cpuSeconds() - start;
}

struct Sample {
    double save = 0;
    double walk = 0;
    std::size_t bytes = 0;
};

// The median of a few saves and walks of the model of `names`, measured in
// a process of its own.
Sample sampleApart(int names) {
    return bench::runApart<Sample>([names] {
        const Ptr<RootNode> root = namedModel(names);
        std::vector<double> saves, walks;
        Sample sample;
        std::size_t handles = 0;
        saveSeconds(*root, sample.bytes);  // first save: the pool's and buffers' first growth
        for (int run = 0; run < 5; ++run) {
            saves.push_back(saveSeconds(*root, sample.bytes));
            walks.push_back(walkSeconds(*root, handles));
        }
        sample.save = bench::median(saves);
        sample.walk = bench::median(walks);
        return sample;
    });
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
    // The sizes take turns, so that a busy spell of the machine does not
    // fall on one of them only.
    constexpr int kRounds = 9;
    std::vector<double> smallSaves, largeSaves, smallWalks, largeWalks;
    std::size_t smallBytes = 0, largeBytes = 0;
    for (int round = 0; round < kRounds; ++round) {
        const Sample small = sampleApart(5000);
        const Sample large = sampleApart(20000);
        smallSaves.push_back(small.save);
        largeSaves.push_back(large.save);
        smallWalks.push_back(small.walk);
        largeWalks.push_back(large.walk);
        smallBytes = small.bytes;
        largeBytes = large.bytes;
    }
    const double smallSave = bench::median(smallSaves), largeSave = bench::median(largeSaves);
    const double smallWalk = bench::median(smallWalks), largeWalk = bench::median(largeWalks);
    std::printf("save %6d names: %.4f s (%zu bytes)\n", 5000, smallSave, smallBytes);
    std::printf("save %6d names: %.4f s (%zu bytes)\n", 20000, largeSave, largeBytes);
    std::printf("walk %6d names: %.4f s\n", 5000, smallWalk);
    std::printf("walk %6d names: %.4f s\n", 20000, largeWalk);
    const double save = largeSave / smallSave;
    std::printf("ratio 20000/5000: %.2f (limit 6); a plain walk of the model: %.2f\n", save, largeWalk / smallWalk);
    return save < 6.0 ? 0 : 1;
}
