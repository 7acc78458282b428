#pragma once
// The process-wide set of thread pools (high, normal and low slots).
//
// createGlobalThreadPools() makes the set if it does not exist (a second call
// while it exists does nothing); destroyGlobalThreadPools() stops and joins
// every worker and destroys the set if it exists. Both are safe to call any
// number of times, from one thread at a time.
//
// fork(): a child inherits whether the set exists, not its workers (they stay
// in the parent). In a child of a process that had the set, the set exists
// and globalThreadPool() makes a fresh pool on its first use there (logging
// "Created boot pool" again); the inherited one is never used or joined.
// The set's lock is held across fork(), so a child never finds it taken.

#include <cstddef>

namespace qz {

class ThreadPool;

enum class PoolSlot { High = 0, Normal = 1, Low = 2 };

void createGlobalThreadPools();
void destroyGlobalThreadPools();
bool globalThreadPoolsExist();

// The pool in a slot, made in this process if the set came from the parent
// of a fork. Throws qz::ExtException when the set does not exist, or when a
// pool cannot be made.
ThreadPool& globalThreadPool(PoolSlot slot);

}  // namespace qz
