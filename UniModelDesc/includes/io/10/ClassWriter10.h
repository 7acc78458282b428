#pragma once
// model::ClassWriter10: writes a whole model in the format 10 layout (magic
// "TAV", version 10): the transform tree, every base node, the materials,
// vertex and index data.
//
// Contract
// - write(root, out) builds the complete file in memory and replaces `out`
//   with it. File order: magic, version, string table (size and bytes), a
//   reserved u64 0, the root record, the transform node count and records
//   (depth-first pre-order from the root's top node; none without a top
//   node), one parent index per transform node (0xFFFFFFFF for the top),
//   then the section count and the non-empty sections among "CONNECTORS",
//   "SHELL_NODES", "LIGHT_NODES" and "RENDER_NODES", each holding the root's
//   list in its order.
// - The material list is that of root.collectMaterials() (order of first
//   use); the root itself is not changed.
// - writeParts(root, parts) gives the same file as two parts: magic,
//   version and string table, then the rest. The string table is complete
//   only once everything after it was written, so write() joins the two.
//   writeImage(root, image) gives the same file as pieces: the first part,
//   then the rest, in which each index list of four-byte width and 1 MiB or
//   more is a piece of its own that holds on to the node's list.
// - Node record failures (see NodeWriter10.h) propagate; `out` (`parts`) is
//   then left as it was.
// - Each write starts from a fresh sink, so one writer may serve several
//   saves; version() is 10.

#include <cstdint>
#include <vector>

#include "io/IClassWriter.h"

namespace model {

class ClassWriter10 final : public IClassWriter {
public:
    ClassWriter10() = default;

    void write(const RootNode& root, std::vector<uint8_t>& out) override;
    void writeParts(const RootNode& root, std::vector<std::vector<uint8_t>>& parts) override;
    void writeImage(const RootNode& root, FileImage& image) override;
    uint32_t version() const override { return 10; }
};

}  // namespace model
