#include "io/FileImage.h"

#include <algorithm>

namespace model {

std::vector<uint8_t> joinImage(const FileImage& image) {
    std::size_t size = 0;
    for (const FilePiece& piece : image) size += piece.size();
    std::vector<uint8_t> bytes(size);
    std::size_t at = 0;
    for (const FilePiece& piece : image) {
        const std::span<uint8_t> out(bytes.data() + at, piece.size());
        if (piece.fill) {
            std::vector<uint8_t> made(piece.size());  // aligned, where `out` need not be
            piece.fill(0, made);
            std::copy(made.begin(), made.end(), out.begin());
        } else
            std::copy(piece.bytes.begin(), piece.bytes.end(), out.begin());
        at += piece.size();
    }
    return bytes;
}

}  // namespace model
