#pragma once
// qz::SlabPool: storage for many small objects of a few sizes, carved from
// 64 KiB slabs, so that objects made one after another lie side by side
// whatever else the program allocates in between.
//
// Contract
// - allocate(size) returns storage of at least size bytes, aligned for any
//   fundamental type; sizes above kLargest go to ::operator new. Throws
//   std::bad_alloc like ::operator new.
// - release(p, size) takes back storage from allocate(size) (the same size);
//   a null p is ignored. The storage is kept for later objects of its size
//   class and never given back to the system: a program that frees a large
//   tree and builds another reuses the same slabs.
// - Thread-safe (one mutex, held across fork() so that a child process can
//   allocate even when another thread was allocating as it forked); any
//   thread may release what another allocated.
// - Under AddressSanitizer every call goes to ::operator new and delete, so
//   that use after free and leaks of pooled objects are still reported.

#include <cstddef>

namespace qz {

class SlabPool {
public:
    static constexpr std::size_t kLargest = 1024;

    static void* allocate(std::size_t size);
    static void release(void* p, std::size_t size) noexcept;
};

}  // namespace qz
