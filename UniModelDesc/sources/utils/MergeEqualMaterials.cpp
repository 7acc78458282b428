#include "utils/MergeEqualMaterials.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "BaseMaterial.h"
#include "PropertiesSet.h"
#include "StaticProperty.h"
#include "nodes/BaseRenderNode.h"
#include "qz/ExtException.h"

namespace model::utils {
namespace {

// Materials differing in name, blending, shader family or a texture file
// are never equal, so a material is only compared with the representatives
// of its own bucket: big models with thousands of materials stay near
// linear instead of comparing every pair, even where one name is given to
// all.
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

// Adds the components of a static number uniform to sum and what each may
// differ by in an equal set (see nearlyEqual, with room to spare) to reach.
void addComponents(const IProperty& p, double& sum, double& reach) {
    const auto add = [&](const float* c, int count) {
        for (int k = 0; k < count; ++k) {
            sum += c[k];
            reach += 2.0 * (1e-5 + FLT_EPSILON * std::fabs(c[k]));
        }
    };
    if (const auto* f = dynamic_cast<const FloatProperty*>(&p)) add(&f->getValue(), 1);
    else if (const auto* v = dynamic_cast<const Vec2fProperty*>(&p)) add(v->getValue().ptr(), 2);
    else if (const auto* v = dynamic_cast<const Vec3fProperty*>(&p)) add(v->getValue().ptr(), 3);
    else if (const auto* v = dynamic_cast<const Vec4fProperty*>(&p)) add(v->getValue().ptr(), 4);
}

// Sets of one bucket may still differ only in their uniforms' values (one
// name, many colours), which the bucket key cannot tell apart within the
// tolerance. Each set gets a number instead: the sum of the components of
// its static number uniforms. Equal sets whose uniforms all differ in class
// or name hold the same uniforms by name, so their sums lie within the
// reach of either; any other set has no number (NaN) and is compared with
// every set of its bucket.
struct Key {
    double sum = 0.0;
    double reach = 0.0;
};

Key keyOf(const BaseMaterial& material) {
    constexpr Key kNone{std::numeric_limits<double>::quiet_NaN(), 0.0};
    std::vector<std::pair<std::string_view, std::string_view>> names;
    Key key;
    for (const PropertyPtr& u : material.getUniforms()) {
        if (!u) return kNone;
        names.emplace_back(u->getClassName(), u->getName());
        addComponents(*u, key.sum, key.reach);
    }
    std::sort(names.begin(), names.end());
    if (std::adjacent_find(names.begin(), names.end()) != names.end() || !std::isfinite(key.sum)) return kNone;
    return key;
}

// The representatives of one bucket in the order they were found, those
// with a number also ordered by it.
struct Bucket {
    std::vector<BaseMaterial*> found;
    std::vector<Key> keys;
    std::multimap<double, std::size_t> byKey;
    std::vector<std::size_t> unkeyed;

    // Positions of the representatives that can equal a set of this key, ascending.
    std::vector<std::size_t> candidates(const Key& key) const {
        std::vector<std::size_t> out;
        if (std::isnan(key.sum)) {
            out.resize(found.size());
            for (std::size_t p = 0; p < out.size(); ++p) out[p] = p;
            return out;
        }
        for (auto it = byKey.lower_bound(key.sum - key.reach); it != byKey.end() && it->first <= key.sum + key.reach;
             ++it)
            out.push_back(it->second);
        out.insert(out.end(), unkeyed.begin(), unkeyed.end());
        std::sort(out.begin(), out.end());
        return out;
    }

    void add(BaseMaterial* material, const Key& key) {
        const std::size_t p = found.size();
        found.push_back(material);
        keys.push_back(key);
        if (std::isnan(key.sum))
            unkeyed.push_back(p);
        else
            byKey.emplace(key.sum, p);
    }
};

}  // namespace

bool mergeEqualMaterials(RootNode& root) {
    auto& nodes = root.getRenderNodes();

    // Walks the nodes in list order: the first material of a content becomes
    // its representative, later equal ones map onto it. Mapping first and
    // replacing afterwards gives what replacing in every holder at once gives.
    std::unordered_map<BucketKey, Bucket, BucketHash> buckets;
    std::unordered_map<const BaseMaterial*, Ptr<BaseMaterial>> replacement;
    std::size_t distinctBefore = 0;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        const Ptr<BaseRenderNode>& node = nodes[i];
        if (!node) continue;
        const Ptr<BaseMaterial> material = node->getMaterial();
        if (!material || replacement.count(material.get())) continue;
        ++distinctBefore;
        Bucket& bucket = buckets[bucketOf(*material)];
        const Key key = keyOf(*material);
        Ptr<BaseMaterial> representative = material;
        for (std::size_t p : bucket.candidates(key))
            if (bucket.found[p]->isEqual(*material)) {
                representative = Ptr<BaseMaterial>(bucket.found[p]);
                break;
            }
        if (representative == material) bucket.add(material.get(), key);
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
        distinctAfter += bucket.found.size();
        for (std::size_t i = 0; i < bucket.found.size(); ++i)
            for (std::size_t j : bucket.candidates(bucket.keys[i]))
                if (j > i && bucket.found[i]->isEqual(*bucket.found[j]))
                    QZ_THROW("There is still equal properties sets.");
    }
    return distinctAfter != distinctBefore;
}

}  // namespace model::utils
