#include "utils/MergeEqualMaterials.h"

#include <algorithm>
#include <vector>

#include "BaseMaterial.h"
#include "nodes/BaseRenderNode.h"
#include "qz/ExtException.h"

namespace model::utils {

bool mergeEqualMaterials(RootNode& root) {
    auto& nodes = root.getRenderNodes();
    const std::size_t before = root.collectMaterials().size();

    std::vector<Ptr<BaseMaterial>> representatives;
    for (const auto& node : nodes) {
        if (!node) continue;
        const Ptr<BaseMaterial> material = node->getMaterial();
        if (!material) continue;
        if (std::find(representatives.begin(), representatives.end(), material) != representatives.end()) continue;
        const auto equal = std::find_if(representatives.begin(), representatives.end(),
                                        [&](const Ptr<BaseMaterial>& r) { return r->isEqual(*material); });
        if (equal == representatives.end()) {
            representatives.push_back(material);
            continue;
        }
        for (const auto& other : nodes)
            if (other && other->getMaterial() == material) other->setMaterial(*equal);
    }

    // Two nodes holding equal but distinct materials means two distinct
    // materials in use are equal, so comparing the distinct ones suffices.
    const std::vector<Ptr<BaseMaterial>> inUse = root.collectMaterials();
    for (std::size_t i = 0; i < inUse.size(); ++i)
        for (std::size_t j = i + 1; j < inUse.size(); ++j)
            if (inUse[i]->isEqual(*inUse[j])) QZ_THROW("There is still equal properties sets.");
    return inUse.size() != before;
}

}  // namespace model::utils
