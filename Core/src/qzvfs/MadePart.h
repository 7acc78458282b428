#pragma once
// qzvfs::MadePart: the stages of a part that is made as it is written (see
// FilePart::fill), each made on a thread of its own while the one before
// it is being written, so that making the bytes costs the save little more
// than writing them.
//
// Contract
// - next() gives the part's next stage (at most `stageBytes`, rounded down
//   to whole units, and at least one unit) in order; an empty span once the
//   part is done. A stage stays valid until the following call to next().
// - A part of one stage, or one whose thread cannot be started, is made on
//   the calling thread. The destructor stops the maker and waits for it,
//   so a writer that gives up half-way (a short write throws) leaves no
//   thread behind.
// - One thread calls next(); `part` must outlive the MadePart.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "qzvfs/WholeFile.h"

namespace qzvfs {

class MadePart {
public:
    MadePart(const FilePart& part, size_t stageBytes);
    ~MadePart();
    MadePart(const MadePart&) = delete;
    MadePart& operator=(const MadePart&) = delete;

    std::span<const uint8_t> next();

private:
    size_t stageSize(size_t stage) const noexcept;
    uint8_t* buffer(size_t stage) noexcept { return buffers_[stage % 2].data(); }
    void make();

    const FilePart& part_;
    size_t step_;
    size_t stages_;
    size_t given_ = 0;  // stages handed out by next()
    std::vector<uint8_t> buffers_[2];

    std::mutex lock_;
    std::condition_variable changed_;
    size_t made_ = 0;      // stages the maker has finished
    size_t released_ = 0;  // stages the writer is done with
    bool stop_ = false;
    std::thread maker_;
};

}  // namespace qzvfs
