#pragma once
// Counting semaphore on the system's unnamed semaphore.
//
// Contract: the constructor throws qz::ExtException "failed to create
// semaphore" when the system refuses one. release(n) adds n to the count;
// acquire() blocks until the count is positive and takes one. Safe to use
// from any number of threads; destroying it while a thread waits is an error.

#include <semaphore.h>

namespace qz {

class Semaphore {
public:
    explicit Semaphore(unsigned initial = 0);
    ~Semaphore();
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    void release(unsigned count = 1);
    void acquire();

private:
    sem_t semaphore_;
};

}  // namespace qz
