// Finite-value checks of vertex data and fake light sets.

#include "utils/FiniteVertexData.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cmath>
#include <span>

#include <fmt/format.h>

#include "VertexFormat.h"
#include "nodes/BaseMeshRenderNode.h"

namespace model::utils {

namespace {

// Values a block at a time, each block without a branch per value and
// tested on its exponent bits (all ones for NaN and the infinities), so the
// compiler can check several values an instruction: vertex data runs to
// hundreds of megabytes.
constexpr std::size_t kBlock = 1024;

inline std::uint32_t notFinite(float v) noexcept {
    return (std::bit_cast<std::uint32_t>(v) & 0x7f800000u) == 0x7f800000u;
}
inline std::uint32_t notFinite(double v) noexcept {
    return (std::bit_cast<std::uint64_t>(v) & 0x7ff0000000000000u) == 0x7ff0000000000000u;
}

template <class T>
bool allFinite(std::span<const T> values) noexcept {
    for (std::size_t at = 0; at < values.size(); at += kBlock) {
        const std::size_t end = std::min(values.size(), at + kBlock);
        std::uint32_t bad = 0;
        for (std::size_t i = at; i < end; ++i) bad += notFinite(values[i]);
        if (bad != 0) return false;
    }
    return true;
}

// Rows of four floats whose fourth (a parent index, or bone indices packed
// as bits) may hold any bits.
bool firstThreeFinite(std::span<const float> rows) noexcept {
    for (std::size_t at = 0; at + 4 <= rows.size(); at += kBlock) {
        std::uint32_t bad = 0;
        const std::size_t end = std::min(rows.size(), at + kBlock) & ~std::size_t(3);
        for (std::size_t i = at; i < end; i += 4) bad += notFinite(rows[i]) + notFinite(rows[i + 1]) + notFinite(rows[i + 2]);
        if (bad != 0) return false;
    }
    return true;
}

bool finite(const osg::Vec2f& v) noexcept { return std::isfinite(v.x()) && std::isfinite(v.y()); }

bool finite(const osg::Vec3f& v) noexcept {
    return std::isfinite(v.x()) && std::isfinite(v.y()) && std::isfinite(v.z());
}

template <class Light>
bool lightIsFinite(const Light& light) noexcept {
    return allFinite<double>(light.position) && finite(light.uvStart) && finite(light.uvEnd) &&
           std::isfinite(light.size);
}

}  // namespace

bool hasFiniteLights(const FakeOmniLightsNode& node) noexcept {
    for (const auto& light : node.getLights())
        if (!lightIsFinite(light)) return false;
    if (const auto* animated = dynamic_cast<const AnimatedFakeOmniLightsNode*>(&node))
        return allFinite<float>(animated->getAnimationData());
    return true;
}

bool hasFiniteLights(const FakeSpotLightsNode& node) noexcept {
    for (const auto& light : node.getLights())
        if (!lightIsFinite(light) || !finite(light.backUvStart) || !finite(light.backUvEnd)) return false;
    for (const auto& entry : node.getParentEntries())
        if (!finite(entry.direction)) return false;
    if (const auto* animated = dynamic_cast<const AnimatedFakeSpotLightsNode*>(&node))
        return allFinite<float>(animated->getAnimationData());
    return true;
}

bool hasFiniteValues(const Vertices& vertices) noexcept {
    for (const auto& [semantic, attribute] : vertices.getAttributes()) {
        const std::vector<float>& data = attribute.data;
        if (semantic == POSITION0 && attribute.components == 4) {
            // A last row cut short is checked as far as it goes.
            const std::size_t whole = data.size() & ~std::size_t(3);
            if (!firstThreeFinite(std::span(data).first(whole))) return false;
            for (std::size_t i = whole; i < data.size() && i < whole + 3; ++i)
                if (!std::isfinite(data[i])) return false;
        } else if (!allFinite<float>(data)) {
            return false;
        }
    }
    return true;
}

std::vector<std::uint8_t> haveFiniteValues(const std::vector<const Vertices*>& all, const Workers& workers) {
    // Whole rows of four floats, so that a chunk of four-component positions
    // starts on a row.
    constexpr std::size_t kChunk = std::size_t(1) << 18;
    struct Chunk {
        std::size_t owner;
        std::span<const float> values;
        bool rowsOfFour;
    };
    std::vector<std::uint8_t> finite(all.size(), 1);
    std::vector<Chunk> chunks;
    for (std::size_t k = 0; k < all.size(); ++k)
        for (const auto& [semantic, attribute] : all[k]->getAttributes()) {
            std::span<const float> data(attribute.data);
            const bool rowsOfFour = semantic == POSITION0 && attribute.components == 4;
            if (rowsOfFour) {
                const std::size_t whole = data.size() & ~std::size_t(3);
                for (std::size_t i = whole; i < data.size() && i < whole + 3; ++i)
                    if (!std::isfinite(data[i])) finite[k] = 0;
                data = data.first(whole);
            }
            for (std::size_t at = 0; at < data.size(); at += kChunk)
                chunks.push_back({k, data.subspan(at, std::min(kChunk, data.size() - at)), rowsOfFour});
        }
    std::vector<std::uint8_t> chunkFinite(chunks.size(), 1);
    workers.forEachItem(chunks.size(), [&](std::size_t c) {
        chunkFinite[c] = chunks[c].rowsOfFour ? firstThreeFinite(chunks[c].values) : allFinite(chunks[c].values);
    });
    for (std::size_t c = 0; c < chunks.size(); ++c)
        if (!chunkFinite[c]) finite[chunks[c].owner] = 0;
    return finite;
}

bool hasFiniteVertexData(const BaseRenderNode& node) noexcept {
    if (const auto* mesh = dynamic_cast<const BaseMeshRenderNode*>(&node))
        return hasFiniteValues(mesh->getVertices());
    if (const auto* omni = dynamic_cast<const FakeOmniLightsNode*>(&node)) return hasFiniteLights(*omni);
    if (const auto* spot = dynamic_cast<const FakeSpotLightsNode*>(&node)) return hasFiniteLights(*spot);
    return true;
}

std::string nonFiniteVertexDataMessage(const std::string& nodeName) {
    return fmt::format("Vertex data of {} holds a value that is not finite.", nodeName);
}

}  // namespace model::utils
