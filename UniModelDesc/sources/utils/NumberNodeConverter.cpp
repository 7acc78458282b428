#include "utils/NumberNodeConverter.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "ClassRegistry.h"
#include "PropertiesSet.h"
#include "nodes/NumberNode.h"
#include "nodes/RenderNode.h"
#include "nodes/TmpNumberRoot.h"

namespace model {

namespace {

// A number display has at most this many digits.
constexpr std::size_t kMaxDigits = 8;

struct NumberGroup {
    Ptr<TmpNumberRoot> numberRoot;
    std::vector<Ptr<RenderNode>> digits;
};

TmpNumberRoot* findNumberRoot(Node* from) {
    for (Node* n = from; n; n = n->parentNode())
        if (n->getType() == NodeType::TmpNumberRoot) return static_cast<TmpNumberRoot*>(n);
    return nullptr;
}

Node* firstParent(const BaseRenderNode& node) {
    return node.getNumParents() == 0 ? nullptr : node.getParent(0).get();
}

// Strips and fans can't be joined by putting their index lists one after
// the other: the seams would draw extra primitives between the digits.
bool isListKind(std::uint32_t kind) {
    return kind == primitive_kind::kPointList || kind == primitive_kind::kLineList ||
           kind == primitive_kind::kTriangleList;
}

// Every attribute holds exactly one row per vertex: the merged data can
// then be offset by whole vertices.
bool hasWholeRows(const Vertices& vertices) {
    const std::size_t count = vertices.vertexCount();
    for (const auto& [code, attribute] : vertices.getAttributes())
        if (attribute.components == 0 || attribute.data.size() != count * attribute.components) return false;
    return true;
}

bool mergeDigits(NumberNode& target, const std::vector<Ptr<RenderNode>>& digits, const NumberControlList& controls) {
    if (digits.empty() || digits.size() > kMaxDigits || controls.size() != digits.size()) return false;
    const RenderNode& first = *digits.front();
    const auto* material = dynamic_cast<const PropertiesSet*>(first.getMaterial().get());
    if (!material || material->getVertexFormat()[COLOR1] != 0) return false;
    if (first.getNumParents() != 1) return false;
    for (const Ptr<RenderNode>& digit : digits)
        if (digit->getMaterial() != first.getMaterial() || digit->getNumParents() != 1 ||
            digit->getParent(0) != first.getParent(0))
            return false;
    if (target.getNumParents() != 1) return false;

    Ptr<PropertiesSet> merged = material->copySet();
    merged->getVertexFormat()[COLOR1] = 1;

    Vertices vertices;
    Indices indices;
    indices.primitiveKind = first.getIndices().primitiveKind;
    if (!isListKind(indices.primitiveKind)) return false;
    for (std::size_t d = 0; d < digits.size(); ++d) {
        const RenderNode& digit = *digits[d];
        if (digit.getIndices().primitiveKind != indices.primitiveKind) return false;
        const Vertices& source = digit.getVertices();
        if (!source.matchesFormat(material->getVertexFormat()) || !hasWholeRows(source)) return false;
        const std::size_t count = source.vertexCount();
        const std::size_t offset = d == 0 ? 0 : vertices.vertexCount();
        if (offset + count > std::numeric_limits<std::uint32_t>::max()) return false;
        for (std::uint32_t index : digit.getIndices().indices) {
            // An index past its own digit would silently draw another
            // digit's vertices once the lists are joined.
            if (index >= count) return false;
            indices.indices.push_back(static_cast<std::uint32_t>(offset + index));
        }
        Vertices withDigit = source;
        withDigit.setAttribute(COLOR1, 1, std::vector<float>(count, static_cast<float>(d)));
        if (d == 0)
            vertices = std::move(withDigit);
        else if (!vertices.append(withDigit))
            return false;
    }

    target.setMaterial(merged);
    target.replaceGeometry(std::move(vertices), std::move(indices));
    target.setDamageArgument(0, first.getDamageArgument(0));
    target.addControlEntry(controls);
    return true;
}

}  // namespace

bool numberNodeConverter(RootNode& root) {
    std::vector<NumberGroup> groups;
    std::unordered_map<const TmpNumberRoot*, std::size_t> groupOf;
    std::unordered_set<const BaseRenderNode*> digits;

    for (const Ptr<BaseRenderNode>& node : root.getRenderNodes()) {
        if (!node) continue;
        TmpNumberRoot* numberRoot = findNumberRoot(firstParent(*node));
        if (!numberRoot) continue;
        if (node->getType() != NodeType::RenderNode) QZ_THROW("Only render nodes can be digits.");
        if (numberRoot->hasChildren()) QZ_THROW("TmpNumberRoot must be childfree.");
        if (node->getNumParents() != 1) QZ_THROW("Number of control nodes must be == 1.");
        const auto [it, isNew] = groupOf.emplace(numberRoot, groups.size());
        if (isNew) groups.push_back(NumberGroup{Ptr<TmpNumberRoot>(numberRoot), {}});
        groups[it->second].digits.push_back(qz::staticPtrCast<RenderNode>(node));
        digits.insert(node.get());
    }
    if (groups.empty()) return false;

    for (const NumberGroup& group : groups) {
        std::vector<std::vector<Ptr<RenderNode>>> byMaterial;
        for (const Ptr<RenderNode>& digit : group.digits) {
            auto same = std::find_if(byMaterial.begin(), byMaterial.end(), [&](const auto& list) {
                return list.front()->getMaterial() == digit->getMaterial();
            });
            if (same == byMaterial.end())
                byMaterial.push_back({digit});
            else
                same->push_back(digit);
        }
        for (const auto& sameMaterial : byMaterial) {
            Ptr<NumberNode> number = ClassRegistry::make<NumberNode>("model::NumberNode");
            if (!mergeDigits(*number, sameMaterial, group.numberRoot->getControls())) QZ_THROW("Can't merge digits.");
            number->setHasBackFaces(sameMaterial.front()->hasBackFaces());
            number->setName(group.numberRoot->getName());
            number->setParent(0, group.numberRoot->getParent());
            root.addRenderNode(number);
        }
    }

    auto& renderNodes = root.getRenderNodes();
    renderNodes.erase(std::remove_if(renderNodes.begin(), renderNodes.end(),
                                     [&digits](const Ptr<BaseRenderNode>& n) { return digits.count(n.get()) != 0; }),
                      renderNodes.end());
    for (const NumberGroup& group : groups) group.numberRoot->detach();
    return true;
}

}  // namespace model
