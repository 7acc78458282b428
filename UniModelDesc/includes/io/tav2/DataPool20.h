#pragma once
// model::DataPool20: the data pool "BUFF" of a format 2.0 file. Node and
// property records refer to names, strings, animation keys and visibility
// ranges by their byte offset in it.
//
// Contract
// - write(data, size) appends the bytes as they are, without looking for an
//   earlier copy, and returns size; the primitive writers of
//   qzvfs::FileHelpersW (writeU32, writeFloat, ...) append through it, so key
//   and range data keep the file's byte order. Storage grows like
//   qzvfs::MemBuffer (which holds it) and reports allocation failures the
//   same way. The file stores the pool's length and every offset into it in
//   32 bits, so a write that would take the pool past 0xFFFFFFFF bytes
//   raises qz::ExtException and appends nothing.
// - addString(s) stores s up to its first NUL (the pool holds C strings; a
//   reader stops at the NUL too) followed by a NUL. It returns the first
//   offset, over the whole pool and at any byte position, at which those
//   bytes and the NUL already stand; only when there is none are they
//   appended, and the offset of their first byte is returned. The empty
//   string is thus the offset of the pool's first NUL.
// - The search is answered from an index of every NUL-terminated suffix in
//   the pool, brought up to date before each search, so a search costs the
//   length of s plus the bytes appended since the last one. The index takes
//   8 to 32 bytes per distinct NUL-terminated suffix of the pool.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "qzvfs/FileHelpersW.h"
#include "qzvfs/MemBuffer.h"

namespace model {

class DataPool20 : public qzvfs::FileHelpersW<DataPool20> {
public:
    DataPool20() = default;
    DataPool20(const DataPool20&) = delete;
    DataPool20& operator=(const DataPool20&) = delete;

    size_t write(const void* data, size_t size);

    std::uint32_t addString(std::string_view s);

    std::uint32_t size() const noexcept { return static_cast<std::uint32_t>(bytes_.size()); }
    const std::vector<std::uint8_t>& bytes() const noexcept { return bytes_.bytes(); }

private:
    // Raises the too-large error when size more bytes would not fit.
    void checkRoom(size_t size) const;
    // Indexes the suffixes of every NUL-terminated run completed since the
    // last call.
    void indexNewRuns();
    void indexRun(std::size_t start, std::size_t nul);
    // A table twice as large, refilled from the runs indexed so far.
    void grow();
    void remember(std::uint64_t key, std::uint32_t offset);
    // The offset kept for key, or kEmpty.
    std::uint32_t find(std::uint64_t key) const;
    bool standsAt(std::uint32_t offset, std::string_view s) const;
    // The search without the index, for the rare key two strings share.
    std::uint32_t scan(std::string_view s) const;

    qzvfs::MemBuffer bytes_;
    // Bytes before this position belong to runs already indexed; it is
    // always just after a NUL (or 0).
    std::size_t indexedEnd_ = 0;

    // Suffix key -> lowest offset at which a suffix with that key stands.
    // The pool has about one entry per byte, so the table is kept small and
    // flat: open addressing with linear probing, at most half full, each
    // slot one u64 holding 32 bits of the key (the others chose the home
    // slot) and the offset. Growing re-indexes the pool rather than storing
    // whole keys.
    static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;  // no offset reaches it
    static constexpr std::uint64_t kEmptySlot = ~std::uint64_t(0);
    std::vector<std::uint64_t> slots_;
    std::size_t used_ = 0;
    int shift_ = 64;
};

}  // namespace model
