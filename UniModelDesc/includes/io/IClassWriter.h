#pragma once
// model::IClassWriter: serialises a whole model in one file format version.
//
// Contract: write() builds the complete file in memory and replaces `out`
// with its bytes (resized to the file's length); it throws qz::ExtException
// when the model can't be written, and `out` is then unspecified.
// writeParts() builds the same file as parts to be stored one after the
// other (their concatenation is what write() gives), so that a writer that
// finishes the front of its file last need not join the parts in memory; by
// default it is the one part write() gives. writeImage() gives the same
// file as pieces that may hold on to the model's own lists (an index list or
// vertex data is shared, see SharedWithImages.h) so that a big list the file
// holds as it is needs no copy, and big vertex blocks are made only as they
// are written (see FileImage.h); by default the parts of writeParts().
// version() names the format: 10 or 20. Each write starts afresh, so one
// writer may serve several saves; the root node's save makes one per save.

#include <cstdint>
#include <memory>
#include <vector>

#include "io/FileImage.h"

namespace model {

class RootNode;

class IClassWriter {
public:
    virtual ~IClassWriter() = default;
    virtual void write(const RootNode& root, std::vector<uint8_t>& out) = 0;
    virtual void writeParts(const RootNode& root, std::vector<std::vector<uint8_t>>& parts) {
        parts.assign(1, {});
        write(root, parts.front());
    }
    virtual void writeImage(const RootNode& root, FileImage& image) {
        std::vector<std::vector<uint8_t>> parts;
        writeParts(root, parts);
        FileImage made;
        for (std::vector<uint8_t>& part : parts) {
            auto owned = std::make_shared<const std::vector<uint8_t>>(std::move(part));
            made.push_back({std::span<const uint8_t>(*owned), owned});
        }
        image.swap(made);
    }
    virtual uint32_t version() const = 0;
};

}  // namespace model
