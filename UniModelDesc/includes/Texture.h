#pragma once
// model::Texture: one texture slot of a material (also a light's texture).
//
// Contract: a slot is used exactly when `file` is non-empty. Defaults (also
// what makeTexture gives besides the file): identity matrix, parameters
// (2, 2, 10, 6), channel 0xFFFFFFFF. Equality: same file, parameters and
// channel, matrix elements within nearlyEqual.

#include <array>
#include <cstdint>
#include <string>

namespace model {

struct Texture {
    std::string file;
    std::array<float, 16> matrix{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    std::array<std::uint32_t, 4> parameters{2, 2, 10, 6};
    std::uint32_t channel = 0xFFFFFFFFu;

    bool isUsed() const noexcept { return !file.empty(); }
    bool isEqual(const Texture& other) const noexcept;
};

// A texture with every default and the given file name.
Texture makeTexture(std::string file);

}  // namespace model
