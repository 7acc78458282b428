// The common part of ColorNode, MirrorNode and DeckNode.

#include "FixedMaterialRenderNode.h"

#include <algorithm>
#include <stdexcept>

#include <fmt/format.h>

#include "ClassRegistry.h"

namespace pytav {

namespace {

constexpr std::size_t kScriptPositionComponents = 3;
constexpr std::uint32_t kStoredPositionComponents = 4;

}  // namespace

FixedMaterialRenderNode::FixedMaterialRenderNode(const std::string& nodeName, const std::string& materialTitle,
                                                 const char* materialName, AttributeTable attributes)
    : node_(model::ClassRegistry::make<model::RenderNode>("model::RenderNode")),
      material_(new model::PropertiesSet()),
      attributes_(std::move(attributes)) {
    node_->setName(nodeName);
    material_->setName(materialTitle);
    material_->setMaterialName(materialName);
    model::VertexFormat format{};
    for (const auto& [semantic, components] : attributes_) format[semantic] = static_cast<std::uint8_t>(components);
    material_->setVertexFormat(format);
    vertices_.setFormat(format);
    node_->setMaterial(material_);
}

FixedMaterialRenderNode::~FixedMaterialRenderNode() = default;

model::Ptr<model::BaseRenderNode> FixedMaterialRenderNode::getModelNode() const {
    return built_ ? model::Ptr<model::BaseRenderNode>(node_) : nullptr;
}

void FixedMaterialRenderNode::setPositions(std::vector<float> xyz) {
    // A partial vertex has no place in a four-component row.
    if (xyz.size() % kScriptPositionComponents != 0)
        throw std::invalid_argument(
            fmt::format("Positions must hold 3 values per vertex; {} values given.", xyz.size()));
    std::vector<float>& data = vertices_.getAttribute(model::POSITION0).data;
    data.reserve(data.size() + xyz.size() / kScriptPositionComponents * kStoredPositionComponents);
    for (std::size_t i = 0; i < xyz.size(); i += kScriptPositionComponents) {
        data.insert(data.end(), {xyz[i], xyz[i + 1], xyz[i + 2], 0.0f});
    }
}

void FixedMaterialRenderNode::replaceAttribute(std::uint32_t semantic, std::vector<float> data) {
    vertices_.getAttribute(semantic).data = std::move(data);
}

std::string FixedMaterialRenderNode::checkAttributesSet(std::initializer_list<std::uint32_t> skip) const {
    for (const auto& [semantic, components] : attributes_) {
        if (std::find(skip.begin(), skip.end(), semantic) != skip.end()) continue;
        if (vertices_.getAttribute(semantic).data.empty())
            return fmt::format("Vetex attribute {} isn't set.", model::semanticName(semantic));
    }
    return {};
}

std::string FixedMaterialRenderNode::checkGeometry(const model::Vertices& vertices) const {
    const std::size_t vertexCount = vertices.getAttribute(model::POSITION0).rowCount();
    for (const auto& [semantic, attribute] : vertices.getAttributes()) {
        const std::size_t expected = vertexCount * attribute.components;
        if (attribute.data.size() != expected)
            return fmt::format("Vertex attribute {} has {} values, expected {} for {} vertices.",
                               model::semanticName(semantic), attribute.data.size(), expected, vertexCount);
    }
    return checkIndexRange(indices_, vertexCount);
}

std::string FixedMaterialRenderNode::takeGeometry(model::Vertices vertices) {
    model::Indices indices;
    indices.indices = indices_;
    if (!node_->setGeometry(std::move(vertices), std::move(indices)))
        return "Vertex data doesn't match the material's vertex format.";
    return {};
}

}  // namespace pytav
