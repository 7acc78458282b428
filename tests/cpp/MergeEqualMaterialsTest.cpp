// The material merge against its definition: each material, in node order,
// takes the first earlier representative it equals, on sets of one name
// whose uniforms differ around the equality tolerance.

#include <random>

#include "ModelTestSupport.h"
#include "StaticProperty.h"
#include "utils/MergeEqualMaterials.h"

using namespace model;
using namespace modeltest;

namespace {

// What the merge must give: for every node, the position of the node whose
// material it ends up holding.
std::vector<std::size_t> definition(const std::vector<Ptr<PropertiesSet>>& materials) {
    std::vector<std::size_t> representatives, out;
    for (std::size_t i = 0; i < materials.size(); ++i) {
        std::size_t taken = i;
        for (std::size_t r : representatives)
            if (materials[r]->isEqual(*materials[i])) {
                taken = r;
                break;
            }
        if (taken == i) representatives.push_back(i);
        out.push_back(taken);
    }
    return out;
}

// Values a step of the tolerance apart, near zero and far from it, so that
// neighbours are equal and the next but one are not.
float near(std::mt19937& rng, float base) {
    return base + std::uniform_int_distribution<int>(0, 4)(rng) * 0.6e-5f * std::max(1.0f, std::fabs(base) * 1e-2f);
}

Ptr<PropertiesSet> drawn(std::mt19937& rng) {
    auto set = material("def_material", "paint");
    const float bases[] = {0.0f, 0.5f, -3.0f, 1e6f};
    std::vector<PropertyPtr> uniforms;
    auto color = property<Vec3fProperty>("color");
    color->setValue(osg::Vec3f(near(rng, bases[rng() % 4]), near(rng, 0.25f), 1.0f));
    uniforms.push_back(color);
    uniforms.push_back(property<FloatProperty>("gloss", near(rng, bases[rng() % 2 * 3])));
    // Often a uniform more, named before the others.
    if (rng() % 3 == 0) uniforms.push_back(property<FloatProperty>("a_first", near(rng, 2.0f)));
    // Equality takes uniforms in any order.
    std::shuffle(uniforms.begin(), uniforms.end(), rng);
    for (const auto& u : uniforms) set->addUniform(u);
    return set;
}

}  // namespace

TEST(MergeEqualMaterials, EachTakesTheFirstEarlierEqualSetOnRandomSetsOfOneName) {
    for (unsigned seed = 0; seed < 20; ++seed) {
        std::mt19937 rng(seed);
        Model model;
        std::vector<Ptr<PropertiesSet>> materials;
        std::vector<Ptr<RenderNode>> nodes;
        for (int i = 0; i < 200; ++i) {
            materials.push_back(drawn(rng));
            nodes.push_back(meshNode("n", model.top, materials.back(), points({0, 0, 0}), indexList({0, 0, 0})));
            model.root->addRenderNode(nodes.back());
        }
        const std::vector<std::size_t> wanted = definition(materials);
        utils::mergeEqualMaterials(*model.root);
        std::vector<std::size_t> got;
        for (const auto& n : nodes)
            got.push_back(std::find(materials.begin(), materials.end(), n->getMaterial()) - materials.begin());
        ASSERT_EQ(got, wanted) << "seed " << seed;
    }
}
