#include "io/tav2/ClassWriter20.h"

#include <limits>
#include <memory>

#include <fmt/format.h>

#include "io/tav2/DataPool20.h"
#include "io/tav2/NodeWriter20.h"
#include "io/tav2/PropertyWriter20.h"
#include "io/tav2/WriterUtils20.h"
#include "nodes/Connector.h"
#include "nodes/RootNode.h"
#include "qz/ExtException.h"
#include "qzvfs/MemWriter.h"

namespace model {

namespace {

constexpr std::uint32_t kMagic = makeKindTag("TAV2");
constexpr std::uint32_t kPoolTag = makeKindTag("BUFF");
constexpr std::uint32_t kTreesTag = makeKindTag("TRTR");
// Magic, reserved word, handle count and the three boxes.
constexpr std::size_t kHeaderSize = 4 + 4 + 4 + 3 * 24;

void writeBox(qzvfs::MemWriter& sink, const BoundingBox& box) {
    for (int i = 0; i < 3; ++i) sink.writeFloat(box.minimum[i]);
    for (int i = 0; i < 3; ++i) sink.writeFloat(box.maximum[i]);
}

// The state of one write: the record sink, the pool, the writers that fill
// them and the arguments of the tree nodes live exactly as long as one file
// is being built.
class FileWriter20 {
public:
    void write(const RootNode& root, std::vector<uint8_t>& out);

private:
    void writeTree(const PreparedTrees20& trees, const std::vector<std::uint32_t>& list, const NodeIndex20& index);

    // Node and property records, copied behind the pool once it is complete.
    qzvfs::MemWriter records{std::make_shared<qzvfs::MemBuffer>(4096)};
    DataPool20 pool;
    PropertyWriter20 propertyWriter{records, pool};
    NodeWriter20 nodeWriter{records, pool, propertyWriter};
    // Arguments of the tree nodes written so far.
    ArgumentSet treeArguments;
};

void FileWriter20::write(const RootNode& root, std::vector<uint8_t>& out) {
    const PreparedTrees20 trees = prepareTrees20(root);
    std::vector<bool> carriers(trees.nodes.size(), false);
    for (const ConnectorEntry20& entry : trees.connectors) carriers[entry.transformSide] = true;
    const std::vector<std::uint32_t> transforms = flattenTree20(trees, trees.transformTop, carriers);
    const std::vector<std::uint32_t> visibilities = flattenTree20(trees, trees.visibilityRoot, {});
    const NodeIndex20 transformIndex(transforms, trees.nodes.size());
    const NodeIndex20 visibilityIndex(visibilities, trees.nodes.size());

    // Records first: they add to the pool, which must be complete when it
    // is written in front of them. The file itself is then put together in
    // one buffer of its final size.
    records.writeU32(kTreesTag);
    records.writeU32(0);
    records.writeU32(0);
    writeTree(trees, transforms, transformIndex);
    writeTree(trees, visibilities, visibilityIndex);
    for (const ConnectorEntry20& entry : trees.connectors) {
        entry.connector->accept(nodeWriter);
        records.writeU32(transformIndex.indexOf(entry.transformSide));
        records.writeU32(visibilityIndex.indexOf(entry.visibilitySide));
    }

    const std::vector<std::uint8_t>& poolBytes = pool.bytes();
    const qzvfs::MemBufferPtr recordBytes = records.getBuffer();
    qzvfs::MemWriter sink(std::make_shared<qzvfs::MemBuffer>(kHeaderSize + 8 + poolBytes.size() + recordBytes->size()));
    sink.writeU32(kMagic);
    sink.writeU32(0);
    sink.writeU32(ClassWriter20::count32(root.collectArguments(std::move(treeArguments)).size(), "arguments"));
    writeBox(sink, root.getBoundingBox());
    writeBox(sink, root.getUserBox());
    writeBox(sink, root.getLightBox());
    sink.writeU32(kPoolTag);
    sink.writeU32(pool.size());
    sink.writeBytes(poolBytes.data(), poolBytes.size());
    sink.writeBytes(recordBytes->data(), recordBytes->size());

    out = sink.getBuffer()->take();
}

void FileWriter20::writeTree(const PreparedTrees20& trees, const std::vector<std::uint32_t>& list,
                             const NodeIndex20& index) {
    records.writeU32(ClassWriter20::count32(list.size(), "nodes"));
    const ArgumentCallback collect = [this](std::uint32_t a) { treeArguments.insert(a); };
    for (const std::uint32_t entry : list) {
        const Node* source = trees.nodes[entry].source;
        source->accept(nodeWriter);
        // While the node is at hand: the header's handle count needs the
        // arguments of every tree node, and each is written exactly once.
        source->forEachArgument(collect);
    }
    for (std::size_t number = 0; number < list.size(); ++number) {
        const TreeNode20& node = trees.nodes[list[number]];
        records.writeU32(static_cast<std::uint32_t>(number));
        records.writeU32(node.childCount);
        for (std::uint32_t child = node.firstChild; child != kNoNode20; child = trees.nodes[child].nextSibling)
            records.writeU32(index.indexOf(child));
    }
}

}  // namespace

std::uint32_t ClassWriter20::count32(std::size_t n, const char* what) {
    if (n > std::numeric_limits<std::uint32_t>::max()) QZ_THROW(fmt::format("Too many {} to write: {}.", what, n));
    return static_cast<std::uint32_t>(n);
}

void ClassWriter20::write(const RootNode& root, std::vector<uint8_t>& out) { FileWriter20().write(root, out); }

}  // namespace model
