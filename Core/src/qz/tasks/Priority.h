#pragma once
// Scheduling priority of a thread the core library starts.
//
// On this platform a priority maps to a per-thread nice value relative to the
// process's own (below normal +5, above normal -5, time critical -15, clamped
// to the system range); Idle puts the thread into the idle scheduling class,
// where it only runs when nothing else wants the processor. Raising a
// priority needs privileges the process may not have; a refused raise leaves
// the thread at the process's priority.

#include <cstdint>

namespace qz {

enum class Priority : std::uint8_t {
    Idle = 0,
    BelowNormal = 1,
    Normal = 2,
    AboveNormal = 3,
    TimeCritical = 4,
};

}  // namespace qz
