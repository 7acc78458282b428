#include "utils/MergeRenderNodes.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <functional>
#include <limits>
#include <unordered_map>
#include <vector>

#include "ClassRegistry.h"
#include "qz/ExtException.h"
#include "utils/MergeEqualMaterials.h"

namespace model::utils {
namespace {

// Glass materials (blending 1) are never merged.
constexpr std::uint32_t kGlassBlending = 1;

void requireMaterial(const BaseRenderNode& node) {
    if (!node.getMaterial()) QZ_THROW("Material of render node isn't set.");
}

bool propertyListsEqual(const PropertyList& a, const PropertyList& b) {
    if (a.size() != b.size()) return false;
    std::size_t matched = 0;
    for (const PropertyPtr& mine : a)
        for (const PropertyPtr& theirs : b)
            if (mine && mine->isEqual(theirs)) {
                ++matched;
                break;
            }
    return matched == a.size();
}

// The conditions every kind of mergeable node shares.
MergeRefusal commonRefusal(const BaseRenderNode& a, const BaseRenderNode& b) {
    requireMaterial(a);
    requireMaterial(b);
    if (&a == &b) return MergeRefusal::SameNode;
    if (a.getNumParents() != 1 || b.getNumParents() != 1) return MergeRefusal::ParentCount;
    if (a.getMaterial() != b.getMaterial()) return MergeRefusal::Material;
    if (!propertyListsEqual(a.getProperties(), b.getProperties())) return MergeRefusal::Properties;
    if (!parentsCanShareNode(a.getParent(0).get(), b.getParent(0).get())) return MergeRefusal::Parents;
    return MergeRefusal::None;
}

// Vertex data whose attributes agree on the vertex count and indices that
// stay inside it: anything else would be mixed up with the other members'
// vertices once appended.
bool geometryIsSound(const RenderNode& node) {
    const Vertices& v = node.getVertices();
    if (!v.isValid()) return false;
    const std::size_t count = v.vertexCount();
    for (const auto& [code, a] : v.getAttributes())
        if (a.components != 0 && a.rowCount() != count) return false;
    // The largest index, without a branch per index.
    std::uint32_t largest = 0;
    for (std::uint32_t i : node.getIndices().indices) largest = std::max(largest, i);
    return node.getIndices().indices.empty() || largest < count;
}

// Whether the geometry of each render node of a list is sound, by list
// position. The judge reads all of a node's indices, so it runs only for
// nodes that can meet another: those whose material another render node
// shares are judged up front on the workers, any other when first asked.
class SoundGeometry {
public:
    SoundGeometry(const std::vector<Ptr<BaseRenderNode>>& list, const Workers& workers)
        : list_(list), known_(list.size(), kUnknown) {
        std::unordered_map<const BaseMaterial*, std::size_t> users;
        for (const Ptr<BaseRenderNode>& node : list)
            if (node && node->getType() == NodeType::RenderNode) ++users[node->getMaterial().get()];
        workers.forEachItem(list.size(), [&](std::size_t pos) {
            const BaseRenderNode* node = list[pos].get();
            if (node && node->getType() == NodeType::RenderNode && users.find(node->getMaterial().get())->second > 1)
                at(pos);
        });
    }

    bool at(std::size_t pos) {
        if (known_[pos] == kUnknown)
            known_[pos] = geometryIsSound(static_cast<const RenderNode&>(*list_[pos])) ? kSound : kUnsound;
        return known_[pos] == kSound;
    }

private:
    static constexpr std::uint8_t kUnknown = 2, kUnsound = 0, kSound = 1;
    const std::vector<Ptr<BaseRenderNode>>& list_;
    // Bytes, not bits: the workers write neighbouring entries at once.
    std::vector<std::uint8_t> known_;
};

bool sameLayout(const Vertices& a, const Vertices& b) {
    const auto& x = a.getAttributes();
    const auto& y = b.getAttributes();
    return x.size() == y.size() && std::equal(x.begin(), x.end(), y.begin(), [](const auto& p, const auto& q) {
               return p.first == q.first && p.second.components == q.second.components;
           });
}

bool holdsParentIndices(const Vertices& v) {
    const VertexAttribute* positions = v.findAttribute(POSITION0);
    return positions && positions->components >= 4;
}

bool sameEntry(const RenderParentEntry& a, const RenderParentEntry& b) {
    return a.node == b.node && a.damageArgument == b.damageArgument;
}

MergeRefusal renderRefusal(const RenderNode& a, const RenderNode& b, bool aSound, bool bSound) {
    const MergeRefusal common = commonRefusal(a, b);
    if (common != MergeRefusal::None) return common;
    if (a.getMaterial()->getBlending() == kGlassBlending) return MergeRefusal::Blending;
    const std::uint32_t kind = a.getIndices().primitiveKind;
    if (kind != b.getIndices().primitiveKind || (kind != primitive_kind::kLineList && kind != primitive_kind::kTriangleList))
        return MergeRefusal::PrimitiveKind;
    if (!aSound || !bSound || !sameLayout(a.getVertices(), b.getVertices())) return MergeRefusal::Geometry;
    // Three-component positions have no room for the parent-entry index.
    if (!holdsParentIndices(a.getVertices()) && !sameEntry(a.getParentEntries()[0], b.getParentEntries()[0]))
        return MergeRefusal::Geometry;
    return MergeRefusal::None;
}

template <class Set>
MergeRefusal lightRefusal(const Set& a, const Set& b) {
    const MergeRefusal common = commonRefusal(a, b);
    if (common != MergeRefusal::None) return common;
    for (const Set* set : {&a, &b})
        for (const auto& light : set->getLights())
            if (light.parentIndex >= set->getNumParents()) return MergeRefusal::Lights;
    return MergeRefusal::None;
}

template <class T>
void copyIdentity(T& merged, const BaseRenderNode& first) {
    merged.setName(first.getName());
    for (const PropertyPtr& p : first.getProperties()) merged.addProperty(p);
    merged.setMaterial(first.getMaterial());
}

Ptr<BaseRenderNode> mergeMeshes(const std::vector<const RenderNode*>& members) {
    const RenderNode& first = *members.front();
    Ptr<RenderNode> merged = ClassRegistry::make<RenderNode>("model::RenderNode");
    copyIdentity(*merged, first);

    std::vector<RenderParentEntry> entries;
    std::vector<std::size_t> entryOf;
    for (const RenderNode* m : members) {
        const RenderParentEntry& e = m->getParentEntries().front();
        auto it = std::find_if(entries.begin(), entries.end(),
                               [&](const RenderParentEntry& x) { return sameEntry(x, e); });
        if (it == entries.end()) it = entries.insert(entries.end(), RenderParentEntry{e.node, e.damageArgument, {}});
        entryOf.push_back(static_cast<std::size_t>(it - entries.begin()));
    }

    // Room for every member at once: big groups are copied once, not at
    // every growth of the buffers.
    std::size_t totalRows = 0, totalIndices = 0;
    for (const RenderNode* m : members) {
        totalRows += m->getVertices().vertexCount();
        totalIndices += m->getIndices().indices.size();
    }
    Vertices vertices;
    for (const auto& [code, a] : first.getVertices().getAttributes()) {
        std::vector<float> data;
        data.reserve(totalRows * a.components);
        data.insert(data.end(), a.data.begin(), a.data.end());
        vertices.setAttribute(code, a.components, std::move(data));
    }
    std::vector<std::size_t> starts{0};
    for (std::size_t k = 1; k < members.size(); ++k) {
        starts.push_back(vertices.vertexCount());
        if (!vertices.append(members[k]->getVertices())) QZ_THROW("Render nodes with different vertex layouts merged.");
    }
    const std::size_t total = vertices.vertexCount();
    if (total > std::size_t(std::numeric_limits<std::uint32_t>::max()) + 1)
        QZ_THROW("Merged render node would hold too many vertices for 32-bit indices.");
    starts.push_back(total);

    if (VertexAttribute* positions = vertices.findAttribute(POSITION0); positions && positions->components >= 4) {
        const std::size_t c = positions->components;
        for (std::size_t k = 0; k < members.size(); ++k)
            for (std::size_t v = starts[k]; v < starts[k + 1]; ++v)
                positions->data[v * c + 3] = static_cast<float>(entryOf[k]);
    }

    Indices indices;
    indices.primitiveKind = first.getIndices().primitiveKind;
    indices.indices.resize(totalIndices);
    auto out = indices.indices.begin();
    for (std::size_t k = 0; k < members.size(); ++k) {
        const auto offset = static_cast<std::uint32_t>(starts[k]);
        const std::vector<std::uint32_t>& own = members[k]->getIndices().indices;
        out = std::transform(own.begin(), own.end(), out, [offset](std::uint32_t i) { return i + offset; });
    }

    // Geometry first: the entries' boxes are then read from it once.
    merged->replaceGeometry(std::move(vertices), std::move(indices));
    merged->setParentEntries(std::move(entries));
    // Members share one material, so they are two-sided alike.
    merged->setHasBackFaces(first.hasBackFaces());
    return merged;
}

// One light set made of the members': its parent entries are the distinct
// entries the members' lights use, in order of first use (two spot entries
// of one parent with different directions both stay), each light's parent
// index rewritten to match.
template <class Set>
Ptr<BaseRenderNode> mergeLightSets(const std::vector<const Set*>& members, const char* className) {
    const Set& first = *members.front();
    Ptr<Set> merged = ClassRegistry::make<Set>(className);
    copyIdentity(*merged, first);
    merged->setVersion(first.getVersion());
    std::vector<typename Set::EntryType> entries;
    std::vector<typename Set::LightType> lights;
    for (const Set* m : members)
        for (typename Set::LightType light : m->getLights()) {
            const auto& entry = m->getParentEntries().at(light.parentIndex);
            auto it = std::find(entries.begin(), entries.end(), entry);
            if (it == entries.end()) it = entries.insert(entries.end(), entry);
            light.parentIndex = static_cast<std::uint32_t>(it - entries.begin());
            lights.push_back(light);
        }
    merged->setParentEntries(std::move(entries));
    merged->setLights(std::move(lights));
    return merged;
}

// Which nodes can possibly be merged: two parents pass the parent test
// only when the nearest visibility node at or above each is the same (or,
// without one, when they share a tree), so that node (or the tree's top)
// anchors a parent. Anchors are remembered along every walked path, which
// keeps the cost linear in the tree size however many nodes ask.
class ParentAnchors {
public:
    const Node* anchorOf(const Node* node) {
        std::vector<const Node*> path;
        const Node* anchor = nullptr;
        for (const Node* n = node; n; n = n->parentNode()) {
            if (auto it = known_.find(n); it != known_.end()) {
                anchor = it->second;
                break;
            }
            path.push_back(n);
            if (n->getType() == NodeType::ArgVisibilityNode || !n->parentNode()) {
                anchor = n;
                break;
            }
        }
        for (const Node* n : path) known_.emplace(n, anchor);
        return anchor;
    }

private:
    std::unordered_map<const Node*, const Node*> known_;
};

struct CandidateKey {
    const BaseMaterial* material;
    const Node* anchor;
    bool operator==(const CandidateKey&) const = default;
};

struct CandidateKeyHash {
    std::size_t operator()(const CandidateKey& k) const noexcept {
        const std::hash<const void*> h;
        return h(k.material) * 31 + h(k.anchor);
    }
};

// How a group's first node (at list position firstPos) takes the node at
// pos: MergeRefusal::None when the node joins the group.
template <class T>
using Refusal = std::function<MergeRefusal(const T& first, std::size_t firstPos, const T& node, std::size_t pos)>;

// Groups the nodes of exactly `type` in list order and replaces each group
// of two or more by merge(members) at its first member's position, the
// groups' merges spread over `workers`. Returns the number of groups
// replaced.
template <class T>
std::size_t groupAndMerge(std::vector<Ptr<BaseRenderNode>>& list, NodeType type, const Refusal<T>& refusal,
                          const std::function<Ptr<BaseRenderNode>(const std::vector<const T*>&)>& merge,
                          MergeStats& stats, const Workers& workers) {
    std::vector<std::vector<std::size_t>> groups;
    // A node is tried only against the groups, still in group order, whose
    // first node holds its material and shares its parent anchor: every
    // other group would refuse it. A node without exactly one parent in a
    // tree can join no group and no one can join its group.
    ParentAnchors anchors;
    std::unordered_map<CandidateKey, std::vector<std::size_t>, CandidateKeyHash> candidatesOf;
    for (std::size_t pos = 0; pos < list.size(); ++pos) {
        const BaseRenderNode* node = list[pos].get();
        if (!node || node->getType() != type) continue;
        requireMaterial(*node);
        const Ptr<Node> parent = node->getNumParents() == 1 ? node->getParent(0) : Ptr<Node>();
        if (!parent) {
            groups.push_back({pos});
            continue;
        }
        const T& typed = static_cast<const T&>(*node);
        std::vector<std::size_t>& candidates = candidatesOf[{node->getMaterial().get(), anchors.anchorOf(parent.get())}];
        bool placed = false;
        for (std::size_t g : candidates) {
            const std::size_t first = groups[g].front();
            const MergeRefusal r = refusal(static_cast<const T&>(*list[first]), first, typed, pos);
            if (r == MergeRefusal::None) {
                groups[g].push_back(pos);
                placed = true;
                break;
            }
            ++stats.refusals[static_cast<std::size_t>(r)];
        }
        if (!placed) {
            candidates.push_back(groups.size());
            groups.push_back({pos});
        }
    }

    constexpr std::size_t kAlone = std::numeric_limits<std::size_t>::max();
    std::vector<std::size_t> groupAt(list.size(), kAlone);
    std::vector<std::size_t> toMerge;  // in list order of their first members
    for (std::size_t g = 0; g < groups.size(); ++g)
        if (groups[g].size() > 1) {
            toMerge.push_back(g);
            for (std::size_t pos : groups[g]) groupAt[pos] = g;
        }
    if (toMerge.empty()) return 0;

    // Each task writes only its own group's result and list entries; a node
    // listed in two groups is only read, and stays alive through the other.
    std::vector<Ptr<BaseRenderNode>> made(groups.size());
    std::exception_ptr failure;
    try {
        workers.forEachTask(toMerge.size(), [&](std::size_t task) {
            const std::vector<std::size_t>& group = groups[toMerge[task]];
            std::vector<const T*> members;
            for (std::size_t p : group) members.push_back(static_cast<const T*>(list[p].get()));
            made[toMerge[task]] = merge(members);
            // Members the list alone held go now, so that the next groups'
            // copies reuse their memory: merging every mesh of a big model
            // would otherwise hold all of its geometry twice and grow the
            // heap by the whole of it.
            for (std::size_t p : group) list[p].reset();
        });
    } catch (...) {
        failure = std::current_exception();
    }

    // The list stays whole even after a failure: merged groups stand for
    // their members, every other entry keeps its place.
    std::vector<bool> replaced(groups.size());
    for (std::size_t g : toMerge) replaced[g] = bool(made[g]);
    std::vector<Ptr<BaseRenderNode>> out;
    out.reserve(list.size());
    std::size_t merged = 0;
    for (std::size_t pos = 0; pos < list.size(); ++pos) {
        const std::size_t g = groupAt[pos];
        if (g == kAlone || !replaced[g]) {
            out.push_back(std::move(list[pos]));
        } else if (groups[g].front() == pos) {
            out.push_back(std::move(made[g]));
            ++merged;
        }
    }
    list = std::move(out);
    if (failure) std::rethrow_exception(failure);
    return merged;
}

}  // namespace

bool parentsCanShareNode(const Node* a, const Node* b) {
    if (!a || !b) return false;
    const NodePtr common = Node::commonAncestor(a, b);
    if (!common || common->getType() == NodeType::LodNode) return false;
    return !RootNode::checkParentNodes(a, common.get()) && !RootNode::checkParentNodes(b, common.get());
}

MergeRefusal canMergeRenderNodes(const RenderNode& a, const RenderNode& b) {
    return renderRefusal(a, b, geometryIsSound(a), geometryIsSound(b));
}

MergeRefusal canMergeLightSets(const FakeOmniLightsNode& a, const FakeOmniLightsNode& b) {
    return lightRefusal(a, b);
}

MergeRefusal canMergeLightSets(const FakeSpotLightsNode& a, const FakeSpotLightsNode& b) {
    return lightRefusal(a, b);
}

std::size_t removeEmptyRenderNodes(RootNode& root) {
    auto& list = root.getRenderNodes();
    const std::size_t before = list.size();
    list.erase(std::remove_if(list.begin(), list.end(),
                              [](const Ptr<BaseRenderNode>& node) {
                                  if (!node) return false;
                                  if (const auto* mesh = dynamic_cast<const BaseMeshRenderNode*>(node.get()))
                                      return mesh->getPrimitiveCount() == 0;
                                  if (const auto* omni = dynamic_cast<const FakeOmniLightsNode*>(node.get()))
                                      return omni->getLights().empty();
                                  if (const auto* spot = dynamic_cast<const FakeSpotLightsNode*>(node.get()))
                                      return spot->getLights().empty();
                                  return false;
                              }),
               list.end());
    return before - list.size();
}

MergeStats mergeRenderNodes(RootNode& root) { return mergeRenderNodes(root, Workers()); }

MergeStats mergeRenderNodes(RootNode& root, const Workers& workers) {
    MergeStats stats;
    stats.removedEmpty = removeEmptyRenderNodes(root);
    mergeEqualMaterials(root);
    auto& list = root.getRenderNodes();

    SoundGeometry sound(list, workers);
    stats.mergedRenderGroups = groupAndMerge<RenderNode>(
        list, NodeType::RenderNode,
        [&sound](const RenderNode& a, std::size_t aPos, const RenderNode& b, std::size_t bPos) {
            return renderRefusal(a, b, sound.at(aPos), sound.at(bPos));
        },
        mergeMeshes, stats, workers);
    stats.mergedLightGroups = groupAndMerge<FakeOmniLightsNode>(
        list, NodeType::FakeOmniLightsNode,
        [](const FakeOmniLightsNode& a, std::size_t, const FakeOmniLightsNode& b, std::size_t) {
            return lightRefusal(a, b);
        },
        [](const std::vector<const FakeOmniLightsNode*>& members) {
            return mergeLightSets(members, "model::FakeOmniLightsNode");
        },
        stats, Workers());
    stats.mergedLightGroups += groupAndMerge<FakeSpotLightsNode>(
        list, NodeType::FakeSpotLightsNode,
        [](const FakeSpotLightsNode& a, std::size_t, const FakeSpotLightsNode& b, std::size_t) {
            return lightRefusal(a, b);
        },
        [](const std::vector<const FakeSpotLightsNode*>& members) {
            return mergeLightSets(members, "model::FakeSpotLightsNode");
        },
        stats, Workers());
    return stats;
}

}  // namespace model::utils
