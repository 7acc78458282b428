#include "nodes/RootNode.h"

#include <algorithm>
#include <unordered_set>

#include <fmt/format.h>

#include "INodeVisitor.h"
#include "PropertiesSet.h"
#include "io/ClassWriterFactory.h"
#include "nodes/ArgVisibilityNode.h"
#include "nodes/BaseMeshRenderNode.h"
#include "nodes/BaseShellNode.h"
#include "nodes/Connector.h"
#include "nodes/GeometryTransform.h"
#include "nodes/LightNode.h"
#include "qz/ExtException.h"
#include "qzvfs/FileError.h"
#include "qzvfs/WholeFile.h"

namespace model {

RootNode::RootNode() { setVersion(3); }
RootNode::RootNode(const RootNode& other) = default;
RootNode::~RootNode() = default;

Ptr<Node> RootNode::getParent(std::size_t) const { return Ptr<Node>(); }

void RootNode::setParent(std::size_t, const Ptr<Node>&) {}

void RootNode::setTopNode(const Ptr<Node>& node) { topNode_ = node; }

void RootNode::addConnector(const Ptr<Connector>& node) {
    if (node) connectors_.push_back(node);
}

void RootNode::addRenderNode(const Ptr<BaseRenderNode>& node) {
    if (node) renderNodes_.push_back(node);
}

void RootNode::addShellNode(const Ptr<BaseShellNode>& node) {
    if (node) shellNodes_.push_back(node);
}

void RootNode::addLight(const Ptr<LightNode>& node) {
    if (node) lights_.push_back(node);
}

std::vector<Ptr<BaseMaterial>> RootNode::collectMaterials() const {
    std::vector<Ptr<BaseMaterial>> out;
    std::unordered_set<const BaseMaterial*> seen;
    for (const auto& node : renderNodes_) {
        if (!node) continue;
        const Ptr<BaseMaterial>& m = node->getMaterial();
        if (m && seen.insert(m.get()).second) out.push_back(m);
    }
    return out;
}


std::vector<Ptr<BaseNode>> RootNode::getAllBaseNodes() const {
    const std::vector<BaseNode*> raw = getAllBaseNodePointers();
    return std::vector<Ptr<BaseNode>>(raw.begin(), raw.end());
}

std::vector<BaseNode*> RootNode::getAllBaseNodePointers() const {
    std::vector<BaseNode*> out;
    out.reserve(connectors_.size() + lights_.size() + shellNodes_.size() + renderNodes_.size());
    auto append = [&out](const auto& list) {
        for (const auto& node : list)
            if (node) out.push_back(node.get());
    };
    append(connectors_);
    append(lights_);
    append(shellNodes_);
    append(renderNodes_);
    return out;
}

AttachedList RootNode::getAttached(const Node* node) const {
    AttachedList out;
    for (const Ptr<BaseNode>& b : getAllBaseNodes()) {
        const std::size_t count = b->getNumParents();
        for (std::size_t i = 0; i < count; ++i)
            if (b->getParent(i).get() == node) out.emplace_back(b, i);
    }
    return out;
}

bool RootNode::hasAttached(const Node* node) const {
    for (const Ptr<BaseNode>& b : getAllBaseNodes()) {
        const std::size_t count = b->getNumParents();
        for (std::size_t i = 0; i < count; ++i)
            if (b->getParent(i).get() == node) return true;
    }
    return false;
}

bool RootNode::replaceParent(const Node* oldNode, const Ptr<Node>& newNode) {
    bool changed = false;
    for (const Ptr<BaseNode>& b : getAllBaseNodes()) {
        const std::size_t count = b->getNumParents();
        for (std::size_t i = 0; i < count; ++i)
            if (b->getParent(i).get() == oldNode) {
                b->setParent(i, newNode);
                changed = true;
            }
    }
    return changed;
}

ArgumentSet RootNode::getArgumentsList(const Node* node) {
    ArgumentSet out;
    if (!node) return out;
    Node::traverse(node, [&out](const Node* n) {
        n->forEachArgument([&out](std::uint32_t a) { out.insert(a); });
        return true;
    });
    return out;
}

ArgumentSet RootNode::collectArguments() const { return collectArguments(getArgumentsList(topNode_.get())); }

ArgumentSet RootNode::collectArguments(ArgumentSet tree) const {
    ArgumentSet out = std::move(tree);
    const ArgumentCallback collect = [&out](std::uint32_t a) { out.insert(a); };
    for (const Ptr<BaseNode>& n : getAllBaseNodes()) n->forEachArgument(collect);
    return out;
}

std::uint32_t RootNode::calcNumHandles() const { return static_cast<std::uint32_t>(collectArguments().size()); }

bool RootNode::checkParentNodes(const Node* from, const Node* stop) {
    for (const Node* n = from; n && n != stop; n = n->parentNode())
        if (n->getType() == NodeType::ArgVisibilityNode) return true;
    return false;
}

void RootNode::calcBoundingBox() {
    const DummyArguments rest;
    BoundingBox result;
    for (const auto& node : renderNodes_) {
        if (!node) continue;
        const std::size_t count = node->getNumParents();
        for (std::size_t i = 0; i < count; ++i) {
            const BoundingBox box = node->getParentBox(i);
            if (!box.isValid()) continue;
            Matrix44d toTop;
            // A node without its parent yet is taken where it stands.
            if (const Ptr<Node> parent = node->getParent(i)) parent->accumulateMatrix(rest, toTop);
            result.expand(geometry::transformBox(box, toTop));
        }
    }
    boundingBox_ = result;
}

void RootNode::calcLightBox() {
    float reach = 0.0f;
    for (const auto& light : lights_)
        if (light) reach = std::max(reach, light->getDistance());
    BoundingBox box = boundingBox_;
    const osg::Vec3f grow(reach, reach, reach);
    box.minimum -= grow;
    box.maximum += grow;
    lightBox_ = box;
}

void RootNode::prepareMeshes() {
    for (const auto& node : renderNodes_) {
        auto* mesh = dynamic_cast<BaseMeshRenderNode*>(node.get());
        if (!mesh) continue;
        const auto* material = dynamic_cast<const PropertiesSet*>(mesh->getMaterial().get());
        if (!material || material->getCulling() != 0 || mesh->getIndices().primitiveKind != primitive_kind::kTriangleList) continue;
        // A model saved before already has them.
        if (mesh->hasBackFaces()) continue;
        const std::size_t count = mesh->getVertices().vertexCount();
        // Attributes of different lengths can't be doubled row by row; such
        // data is refused by the writers anyway.
        const auto& attributes = mesh->getVertices().getAttributes();
        if (!std::all_of(attributes.begin(), attributes.end(),
                         [count](const auto& a) { return a.second.data.size() == count * a.second.components; }))
            continue;
        mesh->editGeometry([count](Vertices& vertices, Indices& indices) {
            Vertices back = vertices;
            for (std::uint32_t code : {NORMAL0, NORMAL1})
                if (VertexAttribute* normals = back.findAttribute(code))
                    for (float& v : normals->data) v = -v;
            for (const auto& [code, attribute] : back.getAttributes()) {
                std::vector<float>& target = vertices.getAttribute(code).data;
                target.insert(target.end(), attribute.data.begin(), attribute.data.end());
            }
            const auto offset = static_cast<std::uint32_t>(count);
            std::vector<std::uint32_t>& list = indices.indices;
            const std::size_t triangles = list.size() / 3;
            list.reserve(list.size() + triangles * 3);
            for (std::size_t t = 0; t < triangles; ++t) {
                const std::uint32_t a = list[3 * t], b = list[3 * t + 1], c = list[3 * t + 2];
                list.push_back(a + offset);
                list.push_back(c + offset);
                list.push_back(b + offset);
            }
        });
        mesh->setHasBackFaces(true);
    }
}

void RootNode::save(const std::string& path, std::uint16_t version) const { writeImage(path, image(version)); }

void RootNode::save(const std::string& path, IClassWriter& writer) const {
    FileImage image;
    writer.writeImage(*this, image);
    writeImage(path, image);
}

RootNode::FileImage RootNode::image(std::uint16_t version) const {
    std::unique_ptr<IClassWriter> writer = makeClassWriter(version);
    if (!writer) QZ_THROW(fmt::format("Unsupported version {}", version));
    FileImage image;
    writer->writeImage(*this, image);
    return image;
}

void RootNode::writeImage(const std::string& path, const FileImage& image) {
    std::vector<qzvfs::FilePart> spans;
    for (const FilePiece& piece : image) {
        if (!piece.fill) {
            spans.push_back({piece.bytes.data(), piece.bytes.size()});
            continue;
        }
        spans.push_back({nullptr, piece.madeSize,
                         [&fill = piece.fill](size_t offset, void* out, size_t n) {
                             fill(offset, {static_cast<uint8_t*>(out), n});
                         },
                         piece.unit});
    }
    try {
        qzvfs::writeWholeFile(path, spans);
    } catch (const qzvfs::FileError& e) {
        // The file layer has logged the detail (short write, full disk,
        // refused rename); the caller gets the one message about the target.
        if (e.kind() == qzvfs::FileErrorKind::Open) QZ_THROW("Can't open " + path);
        QZ_THROW("Can't write " + path);
    }
}

void RootNode::accept(INodeVisitor& visitor) { visitor.visit(*this); }
void RootNode::accept(INodeVisitor& visitor) const { visitor.visit(*this); }

}  // namespace model
