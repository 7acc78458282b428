#pragma once
// model::FileImage: a file's bytes as pieces in file order, as a writer
// hands them to the save.
//
// Contract
// - A piece either has its bytes (`bytes`, kept alive by `keeper`) or is
//   made as it is written: `fill` puts its `madeSize` bytes from what
//   `keeper` holds, asked only for whole multiples of `unit` bytes into
//   storage aligned for any scalar, and never throws. A big vertex block is
//   made so, a block at a time on its way to the disk, instead of being laid
//   out whole in memory first.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace model {

using FillPiece = std::function<void(std::size_t offset, std::span<uint8_t> out)>;

struct FilePiece {
    std::span<const uint8_t> bytes;
    std::shared_ptr<const void> keeper;
    FillPiece fill = {};
    std::size_t madeSize = 0;
    std::size_t unit = 1;

    std::size_t size() const noexcept { return fill ? madeSize : bytes.size(); }
};

using FileImage = std::vector<FilePiece>;

}  // namespace model
