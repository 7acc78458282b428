#include "io/tav2/ClassWriter20.h"

#include <limits>

#include <fmt/format.h>

#include "io/tav2/NodeWriter20.h"
#include "io/tav2/PropertyWriter20.h"
#include "io/tav2/WriterUtils20.h"
#include "nodes/Connector.h"
#include "nodes/RootNode.h"
#include "qz/ExtException.h"

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

std::unique_ptr<qzvfs::MemWriter> newSink(std::size_t reserve) {
    return std::make_unique<qzvfs::MemWriter>(std::make_shared<qzvfs::MemBuffer>(reserve));
}

}  // namespace

ClassWriter20::ClassWriter20() : nodeWriter(std::make_unique<NodeWriter20>(*this)) {}

ClassWriter20::~ClassWriter20() = default;

std::uint32_t ClassWriter20::count32(std::size_t n, const char* what) {
    if (n > std::numeric_limits<std::uint32_t>::max()) QZ_THROW(fmt::format("Too many {} to write: {}.", what, n));
    return static_cast<std::uint32_t>(n);
}

void ClassWriter20::write(const RootNode& root, std::vector<uint8_t>& out) {
    // Whatever happens, nothing of this save (buffers, pool) is kept
    // beyond it.
    struct Release {
        ClassWriter20& w;
        ~Release() {
            w.treeArguments.clear();
            w.sink.reset();
            w.records.reset();
            w.buff.reset();
            w.propertyWriter.reset();
        }
    } release{*this};
    records = newSink(4096);
    buff = std::make_unique<DataPool20>();
    propertyWriter = std::make_unique<PropertyWriter20>(*this);

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
    records->writeU32(kTreesTag);
    records->writeU32(0);
    records->writeU32(0);
    writeTree(trees, transforms, transformIndex);
    writeTree(trees, visibilities, visibilityIndex);
    for (const ConnectorEntry20& entry : trees.connectors) {
        entry.connector->accept(*nodeWriter);
        records->writeU32(transformIndex.indexOf(entry.transformSide));
        records->writeU32(visibilityIndex.indexOf(entry.visibilitySide));
    }

    const std::vector<std::uint8_t>& pool = buff->bytes();
    const qzvfs::MemBufferPtr recordBytes = records->getBuffer();
    sink = newSink(kHeaderSize + 8 + pool.size() + recordBytes->size());
    sink->writeU32(kMagic);
    sink->writeU32(0);
    sink->writeU32(count32(root.collectArguments(std::move(treeArguments)).size(), "arguments"));
    writeBox(*sink, root.getBoundingBox());
    writeBox(*sink, root.getUserBox());
    writeBox(*sink, root.getLightBox());
    sink->writeU32(kPoolTag);
    sink->writeU32(buff->size());
    sink->writeBytes(pool.data(), pool.size());
    sink->writeBytes(recordBytes->data(), recordBytes->size());

    out = sink->getBuffer()->take();
}

void ClassWriter20::writeTree(const PreparedTrees20& trees, const std::vector<std::uint32_t>& list,
                              const NodeIndex20& index) {
    records->writeU32(count32(list.size(), "nodes"));
    const ArgumentCallback collect = [this](std::uint32_t a) { treeArguments.insert(a); };
    for (const std::uint32_t entry : list) {
        const Node* source = trees.nodes[entry].source;
        source->accept(*nodeWriter);
        // While the node is at hand: the header's handle count needs the
        // arguments of every tree node, and each is written exactly once.
        source->forEachArgument(collect);
    }
    for (std::size_t number = 0; number < list.size(); ++number) {
        const TreeNode20& node = trees.nodes[list[number]];
        records->writeU32(static_cast<std::uint32_t>(number));
        records->writeU32(node.childCount);
        for (std::uint32_t child = node.firstChild; child != kNoNode20; child = trees.nodes[child].nextSibling)
            records->writeU32(index.indexOf(child));
    }
}

}  // namespace model
