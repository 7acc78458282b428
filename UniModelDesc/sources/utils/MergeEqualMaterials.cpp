#include "utils/MergeEqualMaterials.h"

#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "BaseMaterial.h"
#include "PropertiesSet.h"
#include "nodes/BaseRenderNode.h"
#include "qz/ExtException.h"

namespace model::utils {
namespace {

// Materials differing in name, blending, shader family or a texture file
// are never equal, so a material is only compared with the representatives
// of its own bucket: big models with thousands of materials stay linear
// instead of comparing every pair, even where one name is given to all.
// The name is viewed in the material, which outlives the run.
struct BucketKey {
    std::string_view name;
    std::uint32_t blending;
    std::size_t files;  // the shader family and the used slots' files, hashed
    bool operator==(const BucketKey&) const = default;
};

struct BucketHash {
    std::size_t operator()(const BucketKey& k) const noexcept {
        return (std::hash<std::string_view>()(k.name) * 31 + k.blending) * 31 + k.files;
    }
};

// Equal sets have the same files in the same used slots (and unused slots
// are empty), so equal sets hash alike.
std::size_t filesOf(const BaseMaterial& material) {
    const auto* set = dynamic_cast<const PropertiesSet*>(&material);
    if (!set) return 0;
    std::size_t h = std::hash<std::string>()(set->getMaterialName());
    for (std::size_t slot = 0; slot < PropertiesSet::kTextureSlots; ++slot)
        if (const Texture& t = set->getTexture(slot); t.isUsed())
            h = h * 1000003 + std::hash<std::string>()(t.file) + slot;
    return h;
}

BucketKey bucketOf(const BaseMaterial& material) {
    return {material.getName(), material.getBlending(), filesOf(material)};
}

}  // namespace

bool mergeEqualMaterials(RootNode& root) {
    auto& nodes = root.getRenderNodes();

    // Walks the nodes in list order: the first material of a content becomes
    // its representative, later equal ones map onto it. Mapping first and
    // replacing afterwards gives what replacing in every holder at once gives.
    std::unordered_map<BucketKey, std::vector<BaseMaterial*>, BucketHash> buckets;
    std::unordered_map<const BaseMaterial*, Ptr<BaseMaterial>> replacement;
    std::size_t distinctBefore = 0;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        const Ptr<BaseRenderNode>& node = nodes[i];
        if (!node) continue;
        const Ptr<BaseMaterial> material = node->getMaterial();
        if (!material || replacement.count(material.get())) continue;
        ++distinctBefore;
        std::vector<BaseMaterial*>& bucket = buckets[bucketOf(*material)];
        Ptr<BaseMaterial> representative = material;
        for (BaseMaterial* r : bucket)
            if (r->isEqual(*material)) {
                representative = Ptr<BaseMaterial>(r);
                break;
            }
        if (representative == material) bucket.push_back(material.get());
        replacement.emplace(material.get(), std::move(representative));
    }
    for (const auto& node : nodes)
        if (node && node->getMaterial()) {
            const Ptr<BaseMaterial>& r = replacement.at(node->getMaterial().get());
            if (r != node->getMaterial()) node->setMaterial(r);
        }

    // Two nodes holding equal but distinct materials means two distinct
    // materials in use are equal; only one bucket can hold such a pair.
    std::size_t distinctAfter = 0;
    for (const auto& [key, bucket] : buckets) {
        distinctAfter += bucket.size();
        for (std::size_t i = 0; i < bucket.size(); ++i)
            for (std::size_t j = i + 1; j < bucket.size(); ++j)
                if (bucket[i]->isEqual(*bucket[j])) QZ_THROW("There is still equal properties sets.");
    }
    return distinctAfter != distinctBefore;
}

}  // namespace model::utils
