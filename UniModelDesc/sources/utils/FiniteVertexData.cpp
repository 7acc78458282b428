// Finite-value checks of vertex data and fake light sets.

#include "utils/FiniteVertexData.h"

#include <cmath>
#include <span>

#include <fmt/format.h>

#include "VertexFormat.h"
#include "nodes/BaseMeshRenderNode.h"

namespace model::utils {

namespace {

template <class T>
bool allFinite(std::span<const T> values) noexcept {
    for (const T v : values)
        if (!std::isfinite(v)) return false;
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
            for (std::size_t i = 0; i < data.size(); ++i)
                if (i % 4 != 3 && !std::isfinite(data[i])) return false;
        } else if (!allFinite<float>(data)) {
            return false;
        }
    }
    return true;
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
