#include "io/10/ClassWriter10.h"

#include <limits>
#include <string>

#include <fmt/format.h>

#include "io/10/NodeWriter10.h"
#include "io/MemBinaryFileW.h"
#include "nodes/BaseMeshRenderNode.h"
#include "nodes/BaseRenderNode.h"
#include "nodes/BaseShellNode.h"
#include "nodes/Connector.h"
#include "nodes/LightNode.h"
#include "nodes/RootNode.h"
#include "qz/ExtException.h"

namespace model {

namespace {

constexpr char kMagic[3] = {'T', 'A', 'V'};
constexpr uint16_t kFormatVersion = 10;
constexpr uint32_t kNoParent = 0xFFFFFFFFu;

uint32_t count32(size_t n, const char* what) {
    if (n > std::numeric_limits<uint32_t>::max())
        QZ_THROW(fmt::format("Too many {} to write: {}.", what, n));
    return static_cast<uint32_t>(n);
}

// The state of one write: the sink, the transform numbering and the material
// list live exactly as long as one file is being built.
class FileWriter10 {
public:
    // With `holdLists`, large index lists are pieces of the image that hold
    // on to the nodes' own lists; without, the sink copies every byte.
    FileWriter10(const RootNode& root, bool holdLists)
        : root(root), materials(root.collectMaterials()), nodes(sink, transforms, materials) {
        if (holdLists) sink.holdLargeBlocks();
    }

    // The string table goes in front of the records, but it is complete only
    // once they are written: the records are written first, into a part of
    // their own (the sink), so that the table need not be moved in front of
    // them. head() is the part in front, made after the records.
    void writeRecords() {
        checkSection("CONNECTORS", root.getConnectors());
        checkSection("SHELL_NODES", root.getShellNodes());
        checkSection("LIGHT_NODES", root.getLights());
        checkSection("RENDER_NODES", root.getRenderNodes());
        numberTransforms();
        sink.reserve(geometryBytes() + kSmallRecordsRoom);
        sink.writeU64(0);
        root.accept(nodes);
        writeTransforms();
        writeSections();
    }

    std::vector<uint8_t> takeRecords() noexcept { return sink.takeData(); }
    FileImage takeRecordPieces() { return sink.takePieces(); }

    // Magic, version and the string table of everything the sink pooled.
    std::vector<uint8_t> head() const {
        std::vector<uint8_t> table;
        sink.getStrings().serialize(table);
        MemBinaryFileW out;
        out.reserve(sizeof kMagic + sizeof kFormatVersion + sizeof(uint32_t) + table.size());
        out.writeBytes(kMagic, sizeof kMagic);
        out.writeU16(kFormatVersion);
        out.writeU32(count32(table.size(), "string table bytes"));
        out.writeBytes(table.data(), table.size());
        return out.takeData();
    }

private:
    // Room beyond the vertex and index data for everything else in a file of
    // ordinary size, so that big meshes are written without regrowing the
    // buffer.
    static constexpr size_t kSmallRecordsRoom = size_t(1) << 20;

    // The vertex and index bytes of the mesh render nodes (indices counted
    // at their widest). Room the sink does not fill, such as that of the
    // index lists it holds on to, is never touched and so costs no memory.
    size_t geometryBytes() const {
        size_t bytes = 0;
        for (const auto& node : root.getRenderNodes())
            if (const auto* mesh = dynamic_cast<const BaseMeshRenderNode*>(node.get())) {
                const Vertices& v = mesh->getVertices();
                bytes += v.vertexCount() * v.vertexSize() * sizeof(float) +
                         mesh->getIndices().indices.size() * sizeof(uint32_t);
            }
        return bytes;
    }

    // Walk order: depth-first pre-order from the top node.
    void numberTransforms() {
        Node::traverse(static_cast<const Node*>(root.getTopNode().get()), [this](const Node* node) {
            transforms.emplace(node, static_cast<int32_t>(walk.size()));
            walk.push_back(node);
            return true;
        });
        count32(walk.size(), "transform nodes");
    }

    void writeTransforms() {
        sink.writeU32(static_cast<uint32_t>(walk.size()));
        for (const Node* node : walk) node->accept(nodes);
        for (const Node* node : walk) {
            const Node* parent = node->parentNode();
            sink.writeU32(parent && transforms.count(parent) ? nodes.transformIndex(parent) : kNoParent);
        }
    }

    // Before anything walks the lists (the root record counts their
    // arguments), so that a hole is reported instead of followed.
    template <class T>
    static void checkSection(const char* name, const std::vector<Ptr<T>>& list) {
        for (const Ptr<T>& node : list)
            if (!node) QZ_THROW(fmt::format("Null node in the {} list of the root node.", name));
    }

    template <class T>
    void writeSection(const char* name, const std::vector<Ptr<T>>& list) {
        if (list.empty()) return;
        sink.writeString(name);
        sink.writeU32(count32(list.size(), name));
        for (const Ptr<T>& node : list) node->accept(nodes);
    }

    void writeSections() {
        const uint32_t count = uint32_t(!root.getConnectors().empty()) + uint32_t(!root.getShellNodes().empty()) +
                               uint32_t(!root.getLights().empty()) + uint32_t(!root.getRenderNodes().empty());
        sink.writeU32(count);
        writeSection("CONNECTORS", root.getConnectors());
        writeSection("SHELL_NODES", root.getShellNodes());
        writeSection("LIGHT_NODES", root.getLights());
        writeSection("RENDER_NODES", root.getRenderNodes());
    }

    const RootNode& root;
    MemBinaryFileW sink;
    TransformIndexMap transforms;
    std::vector<const Node*> walk;
    const MaterialList materials;
    NodeWriter10 nodes;
};

}  // namespace

void ClassWriter10::write(const RootNode& root, std::vector<uint8_t>& out) {
    FileWriter10 writer(root, false);
    writer.writeRecords();
    std::vector<uint8_t> bytes = writer.head(), records = writer.takeRecords();
    bytes.insert(bytes.end(), records.begin(), records.end());
    out.swap(bytes);
}

void ClassWriter10::writeParts(const RootNode& root, std::vector<std::vector<uint8_t>>& parts) {
    FileWriter10 writer(root, false);
    writer.writeRecords();
    std::vector<std::vector<uint8_t>> made;
    made.push_back(writer.head());
    made.push_back(writer.takeRecords());
    parts.swap(made);
}

void ClassWriter10::writeImage(const RootNode& root, FileImage& image) {
    FileWriter10 writer(root, true);
    writer.writeRecords();
    const auto head = std::make_shared<const std::vector<uint8_t>>(writer.head());
    FileImage made{{std::span<const uint8_t>(*head), head}};
    for (FilePiece& piece : writer.takeRecordPieces()) made.push_back(std::move(piece));
    image.swap(made);
}

}  // namespace model
