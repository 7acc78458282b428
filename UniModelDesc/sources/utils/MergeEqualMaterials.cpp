#include "utils/MergeEqualMaterials.h"

#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "BaseMaterial.h"
#include "PropertiesSet.h"
#include "nodes/BaseRenderNode.h"
#include "qz/ExtException.h"
#include "qz/Memory.h"

namespace model::utils {
namespace {

// Materials differing in name or blending are never equal, so a material is
// only compared with the representatives of its own bucket: big models with
// thousands of materials stay linear instead of comparing every pair.
// The name is viewed in the material, which outlives the run.
struct BucketKey {
    std::string_view name;
    std::uint32_t blending;
    bool operator==(const BucketKey&) const = default;
};

struct BucketHash {
    std::size_t operator()(const BucketKey& k) const noexcept {
        return std::hash<std::string_view>()(k.name) * 31 + k.blending;
    }
};

BucketKey bucketOf(const BaseMaterial& material) { return {material.getName(), material.getBlending()}; }

// Comparing a material reads most of it (a texture slot every other cache
// line), and on a big model every node's material is a fresh run of misses:
// the nodes some places on are asked for first, to learn where their
// materials are, then those materials. Materials are properties sets; a hint
// past the end of a smaller one only reads a few lines for nothing. A run of
// nodes sharing one material asks for it once.
class MaterialPrefetch {
public:
    explicit MaterialPrefetch(const std::vector<Ptr<BaseRenderNode>>& nodes) : nodes_(nodes) {}

    void ahead(std::size_t i) noexcept {
        if (i + kFar < nodes_.size()) qz::prefetchForRead(nodes_[i + kFar].get(), sizeof(BaseRenderNode));
        if (i + kNear >= nodes_.size() || !nodes_[i + kNear]) return;
        const BaseMaterial* material = nodes_[i + kNear]->getMaterial().get();
        if (material == last_) return;
        last_ = material;
        qz::prefetchForRead(material, sizeof(PropertiesSet));
    }

private:
    static constexpr std::size_t kFar = 16, kNear = 8;
    const std::vector<Ptr<BaseRenderNode>>& nodes_;
    const BaseMaterial* last_ = nullptr;
};

}  // namespace

bool mergeEqualMaterials(RootNode& root) {
    auto& nodes = root.getRenderNodes();

    // Walks the nodes in list order: the first material of a content becomes
    // its representative, later equal ones map onto it. Mapping first and
    // replacing afterwards gives what replacing in every holder at once gives.
    std::unordered_map<BucketKey, std::vector<BaseMaterial*>, BucketHash> buckets;
    std::unordered_map<const BaseMaterial*, Ptr<BaseMaterial>> replacement;
    std::size_t distinctBefore = 0;
    MaterialPrefetch prefetch(nodes);
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        prefetch.ahead(i);
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
