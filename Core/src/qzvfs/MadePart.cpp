#include "qzvfs/MadePart.h"

#include <algorithm>
#include <system_error>

namespace qzvfs {

namespace {

// Whole units of at least one byte, as many as fit the stage, at least one.
size_t stepOf(size_t unit, size_t stageBytes) {
    unit = std::max<size_t>(1, unit);
    return std::max<size_t>(1, stageBytes / unit) * unit;
}

}  // namespace

MadePart::MadePart(const FilePart& part, size_t stageBytes)
    : part_(part), step_(stepOf(part.unit, stageBytes)), stages_((part.size + step_ - 1) / step_) {
    buffers_[0].resize(std::min(step_, part.size));
    if (stages_ < 2) return;
    buffers_[1].resize(step_);
    try {
        maker_ = std::thread([this] { make(); });
    } catch (const std::system_error&) {
        // Made on the calling thread instead, by next().
    }
}

MadePart::~MadePart() {
    if (!maker_.joinable()) return;
    {
        std::lock_guard<std::mutex> guard(lock_);
        stop_ = true;
    }
    changed_.notify_all();
    maker_.join();
}

size_t MadePart::stageSize(size_t stage) const noexcept { return std::min(step_, part_.size - stage * step_); }

void MadePart::make() {
    for (size_t stage = 0; stage < stages_; ++stage) {
        {
            // Two buffers: stage k may be made once the writer is done with
            // stage k - 2, whose buffer it takes.
            std::unique_lock<std::mutex> guard(lock_);
            changed_.wait(guard, [&] { return stop_ || stage < released_ + 2; });
            if (stop_) return;
        }
        part_.fill(stage * step_, buffer(stage), stageSize(stage));
        {
            std::lock_guard<std::mutex> guard(lock_);
            made_ = stage + 1;
        }
        changed_.notify_all();
    }
}

std::span<const uint8_t> MadePart::next() {
    const size_t stage = given_;
    if (!maker_.joinable()) {
        if (stage == stages_) return {};
        ++given_;
        part_.fill(stage * step_, buffer(0), stageSize(stage));
        return {buffer(0), stageSize(stage)};
    }
    {
        std::unique_lock<std::mutex> guard(lock_);
        released_ = stage;
        changed_.notify_all();
        if (stage == stages_) return {};
        changed_.wait(guard, [&] { return made_ > stage; });
    }
    ++given_;
    return {buffer(stage), stageSize(stage)};
}

}  // namespace qzvfs
