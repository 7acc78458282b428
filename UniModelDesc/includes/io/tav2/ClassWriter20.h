#pragma once
// model::ClassWriter20: writes a model in the format 2.0 layout (magic
// "TAV2"): the model's transform and visibility trees as two flat, indexed
// lists, and its connectors. Render, shell, light, segment and fake-light
// nodes have no place in this layout and are left out.
//
// Contract
// - write(root, out) builds the whole file in memory and replaces `out` with
//   it. File order: "TAV2", u32 0, the root's handle count, its bounding,
//   user and light boxes (six floats each), "BUFF" with the pool's byte
//   length and bytes, "TRTR", two u32 0, the transform tree block, the
//   visibility tree block, then one entry per connector up to the end of the
//   file. A tree block is the node count, the node records in list order,
//   then per node its index, its child count and its children's indices.
//   A connector entry is its record, then the indices of its attachment
//   nodes in the transform and in the visibility tree.
// - The pool holds, when it is written, every name, string, key and range
//   that the records refer to: the records are built first, in a second
//   buffer, and copied behind the pool.
// - The trees are prepared on a copy of their shape (WriterUtils20.h); the
//   model is not changed. List order: connector attachments first, then the other nodes,
//   each group depth-first pre-order.
// - Failures are qz::ExtException from the tree preparation, the node and
//   property writers, or a pool too large for 32-bit offsets (DataPool20.h);
//   `out` is then left as it was.
// - Everything one save needs (record sink, pool, node and property
//   writers, the arguments met) lives in a context made for that write
//   alone, so one writer may serve several saves. version() is 20.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "io/IClassWriter.h"
#include "nodes/RootNode.h"

namespace model {

class ClassWriter20 final : public IClassWriter {
public:
    void write(const RootNode& root, std::vector<uint8_t>& out) override;
    uint32_t version() const override { return 20; }

    // A count as the 32-bit field the records store; raises
    // qz::ExtException "Too many <what> to write: <n>." beyond 32 bits.
    static std::uint32_t count32(std::size_t n, const char* what);
};

}  // namespace model
