#include "utils/CompactTextureChannels.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <unordered_map>
#include <utility>
#include <vector>

#include "PropertiesSet.h"
#include "qz/ExtException.h"

namespace model::utils {
namespace {

constexpr float kSameCoordinate = 0.001f;
constexpr std::size_t kCheckedUses = 8;

bool sameCoordinates(const VertexAttribute& a, const VertexAttribute& b) {
    if (a.components != b.components || a.data.size() != b.data.size()) return false;
    for (std::size_t i = 0; i < a.data.size(); ++i)
        if (!(std::fabs(a.data[i] - b.data[i]) <= kSameCoordinate)) return false;
    return true;
}

// Steps 2: removes duplicate coordinate lists; returns removed -> kept.
std::map<std::uint32_t, std::uint32_t> removeDuplicateCoordinates(Vertices& vertices) {
    std::map<std::uint32_t, std::uint32_t> duplicates;
    std::vector<std::uint32_t> kept;
    for (std::uint32_t semantic = TEXCOORD0; semantic <= TEXCOORD15; ++semantic) {
        const VertexAttribute* a = vertices.findAttribute(semantic);
        if (!a) continue;
        const auto twin = std::find_if(kept.begin(), kept.end(), [&](std::uint32_t k) {
            return sameCoordinates(*a, vertices.getAttribute(k));
        });
        if (twin == kept.end()) {
            kept.push_back(semantic);
        } else {
            duplicates[semantic] = *twin;
            vertices.eraseAttribute(semantic);
        }
    }
    return duplicates;
}

void checkVertexSize(const Vertices& vertices, const VertexFormat& format) {
    if (vertices.vertexSize() != vertexFormatSize(format)) QZ_THROW("Wrong vertex size.");
}

const PropertiesSet& materialOf(const BaseMeshRenderNode& node) {
    if (!node.getMaterial()) QZ_THROW("Material of render node isn't set.");
    const auto* set = dynamic_cast<const PropertiesSet*>(node.getMaterial().get());
    if (!set) QZ_THROW("Material of render node isn't a properties set.");
    return *set;
}

// Steps 2 to 7 on the node's geometry and on the given channel table and
// vertex format (which start as the material's); returns the number of
// duplicate lists removed.
std::size_t compactGeometry(BaseMeshRenderNode& node, TexCoordChannels& channels, VertexFormat& format) {
    std::size_t removed = 0;
    // Only texture coordinates move, so the boxes stay as they are.
    node.editAttributes([&](Vertices& vertices, Indices&) {
        const std::map<std::uint32_t, std::uint32_t> duplicates = removeDuplicateCoordinates(vertices);
        channels.remapChannels(duplicates);
        removed = duplicates.size();

        format = vertices.getFormat();

        for (std::uint32_t channel = 0; channel < TEXCOORD_CHANNEL_COUNT; ++channel) {
            const std::uint32_t semantic = TEXCOORD0 + channel;
            if (format[semantic] != 0 && channels.findChannel(channel) == -1) {
                vertices.eraseAttribute(semantic);
                format[semantic] = 0;
            }
        }
        checkVertexSize(vertices, format);

        // Dense renumbering in order of first use.
        std::vector<std::uint32_t> order;
        for (std::size_t use = 0; use < TexCoordChannels::size(); ++use) {
            const std::uint32_t e = channels[use];
            if (e != TexCoordChannels::NONE && std::find(order.begin(), order.end(), e) == order.end())
                order.push_back(e);
        }
        for (std::size_t use = 0; use < TexCoordChannels::size(); ++use) {
            const std::uint32_t e = channels[use];
            if (e != TexCoordChannels::NONE)
                channels[use] = static_cast<std::uint32_t>(std::find(order.begin(), order.end(), e) - order.begin());
        }
        // Every list is taken out before any is put back, so moves onto a
        // semantic that is itself moving away can't clobber each other.
        std::vector<std::pair<std::uint32_t, VertexAttribute>> moving;
        std::vector<std::pair<std::uint32_t, std::uint8_t>> movingFormat;
        for (std::size_t k = 0; k < order.size(); ++k) {
            const std::uint32_t from = order[k] + TEXCOORD0;
            const auto to = static_cast<std::uint32_t>(k + TEXCOORD0);
            if (order[k] >= TEXCOORD_CHANNEL_COUNT) continue;
            movingFormat.emplace_back(to, format[from]);
            format[from] = 0;
            if (VertexAttribute* a = vertices.findAttribute(from)) {
                moving.emplace_back(to, std::move(*a));
                vertices.eraseAttribute(from);
            }
        }
        for (const auto& [to, components] : movingFormat) format[to] = components;
        for (auto& [to, attribute] : moving) vertices.setAttribute(to, attribute.components, std::move(attribute.data));

        for (std::size_t use = 0; use < kCheckedUses; ++use) {
            const std::uint32_t e = channels[use];
            if (e == TexCoordChannels::NONE) continue;
            if (e >= TexCoordChannels::size()) QZ_THROW("Broken texture channels");
            if (format[e + TEXCOORD0] == 0) QZ_THROW("Empty texture channel");
        }
        checkVertexSize(vertices, format);
    });
    return removed;
}

// A node compacted, with the material it held and the channel table and
// vertex format that material's copy must get.
struct Compacted {
    const PropertiesSet& source;
    TexCoordChannels channels;
    VertexFormat format;
    std::size_t removed;

    // Whether `set` is a copy this node can use as it stands.
    bool fits(const PropertiesSet& set) const {
        return set.getTexCoordChannels() == channels && set.getVertexFormat() == format;
    }

    Ptr<PropertiesSet> copy() const {
        Ptr<PropertiesSet> set = source.copySet();
        set->getTexCoordChannels() = channels;
        set->getVertexFormat() = format;
        return set;
    }
};

Compacted compact(BaseMeshRenderNode& node) {
    const PropertiesSet& source = materialOf(node);
    Compacted out{source, source.getTexCoordChannels(), source.getVertexFormat(), 0};
    out.removed = compactGeometry(node, out.channels, out.format);
    return out;
}

}  // namespace

std::size_t compactTextureChannels(BaseMeshRenderNode& node) {
    const Compacted done = compact(node);
    node.setMaterial(done.copy());
    return done.removed;
}

std::size_t compactTextureChannels(RootNode& root) {
    // Nodes that held one material and come out alike get one copy: a
    // thousand meshes of one material would otherwise make a thousand equal
    // copies for the material merge to fold back together. A source has
    // few outcomes, so its copies are searched in turn.
    struct Copies {
        // Held so that a source whose last node moved on keeps its address
        // from being reused by a new material mistaken for it.
        Ptr<BaseMaterial> source;
        std::vector<Ptr<PropertiesSet>> made;
    };
    std::unordered_map<const PropertiesSet*, Copies> copiesOf;
    std::size_t removed = 0;
    for (const auto& node : root.getRenderNodes()) {
        auto* mesh = dynamic_cast<BaseMeshRenderNode*>(node.get());
        if (!mesh) continue;
        const Compacted done = compact(*mesh);
        removed += done.removed;
        Copies& copies = copiesOf[&done.source];
        if (!copies.source) copies.source = mesh->getMaterial();
        auto found = std::find_if(copies.made.begin(), copies.made.end(),
                                  [&](const Ptr<PropertiesSet>& set) { return done.fits(*set); });
        if (found == copies.made.end()) found = copies.made.insert(found, done.copy());
        mesh->setMaterial(*found);
    }
    return removed;
}

}  // namespace model::utils
