#pragma once
// model::TexCoordChannels: the texture-coordinate channel table of a material.
//
// Contract: 13 entries, one per texture use (which use each index stands for
// is fixed by the material); each entry is the TEXCOORD channel (0..15) that
// use reads, or NONE (0xFFFFFFFF, the default). Indexing with 13 or more
// throws std::out_of_range ("qz::array: index out of range"). Entries are
// stored as given; the vertex-data code that follows an entry checks it.

#include <cstddef>
#include <cstdint>
#include <map>

#include "qz/Array.h"

namespace model {

class TexCoordChannels {
public:
    static constexpr uint32_t NONE = 0xFFFFFFFFu;
    static constexpr size_t COUNT = 13;

    TexCoordChannels() { entries.fill(NONE); }

    uint32_t& operator[](size_t use) { return entries[use]; }
    uint32_t operator[](size_t use) const { return entries[use]; }
    static constexpr size_t size() noexcept { return COUNT; }
    const uint32_t* begin() const noexcept { return entries.begin(); }
    const uint32_t* end() const noexcept { return entries.end(); }

    // The lowest texture use whose entry is `channel`, or -1 when none is.
    int findChannel(uint32_t channel) const noexcept;

    // Renumbers channels through a semantic-to-semantic map: every entry e
    // other than NONE for which `map` holds semantic e + 4 becomes
    // (mapped semantic - 4). A mapped semantic that is not a TEXCOORD
    // semantic (4..19) throws std::out_of_range and leaves the table as it
    // was.
    void remapChannels(const std::map<uint32_t, uint32_t>& map);

    friend bool operator==(const TexCoordChannels&, const TexCoordChannels&) = default;

private:
    qz::array<uint32_t, COUNT> entries;
};

}  // namespace model
