#include "qz/tasks/Semaphore.h"

#include <cerrno>

#include "qz/ExtException.h"

namespace qz {

Semaphore::Semaphore(unsigned initial) {
    if (sem_init(&semaphore_, 0, initial) != 0) QZ_THROW("failed to create semaphore");
}

Semaphore::~Semaphore() { sem_destroy(&semaphore_); }

void Semaphore::release(unsigned count) {
    for (unsigned i = 0; i < count; ++i) sem_post(&semaphore_);
}

void Semaphore::acquire() {
    // A signal handler may interrupt the wait; that is not a wake-up.
    while (sem_wait(&semaphore_) != 0 && errno == EINTR) {
    }
}

}  // namespace qz
