#pragma once
// Scheduling settings for one thread to start (see qz::Thread).
//
// memoryPriority, throttling and idealCore are kept and logged, but this
// platform has no per-thread equivalent, so they change nothing. affinity is a
// processor mask (bit i = processor i, processors 0..63); 0 means "no
// restriction", and a mask naming no usable processor is refused by the
// system and leaves the thread unrestricted.

#include <cstdint>

#include "qz/tasks/Priority.h"

namespace qz {

struct ThreadInfo {
    Priority priority = Priority::Normal;
    unsigned memoryPriority = 5;  // 0..5
    std::uint8_t throttling = 2;  // 0 off, 1 on, 2 system default
    std::int8_t idealCore = -1;   // negative: none
    std::uint64_t affinity = 0;   // 0: any processor
};

}  // namespace qz
