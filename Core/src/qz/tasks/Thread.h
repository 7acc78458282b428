#pragma once
// A named system thread started with explicit scheduling settings.
//
// Starting: the constructor starts the thread, applies the settings of
// ThreadInfo from the starting side before the body runs (see Priority.h and
// ThreadInfo.h for what each setting does here), logs
// "created thread '<name>' (priority:.. mem:.. throttling:.. idealCore:.. affinity:<binary>)"
// at DEBUG under "QZCORESTATIC", and only then lets the body run. The body
// sees its full name in log lines; the system's thread name is the name cut
// to 15 bytes. Names are kept to 127 bytes; an empty name becomes "unnamed".
// Throws qz::ExtException when the system cannot start a thread.
//
// Running: an exception escaping the body is caught and dropped; the thread
// simply ends.
//
// Joining: join() waits for the body to end. A refused wait is logged at
// ERROR ("Wait for working thread failed with code %llu." or, for a thread
// that cannot be joined, "Error on check if thread is joinable with code %llu.")
// and the thread is detached. The destructor joins a thread not yet joined.
// One owner at a time: the object is movable, not copyable.

#include <sys/types.h>

#include <pthread.h>

#include <functional>
#include <string>

#include "qz/tasks/ThreadInfo.h"

namespace qz {

class Thread {
public:
    using Body = std::function<void()>;

    Thread() noexcept = default;
    Thread(std::string name, const ThreadInfo& info, Body body);
    ~Thread();

    Thread(Thread&& other) noexcept;
    Thread& operator=(Thread&& other) noexcept;  // joins the thread it replaces
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    bool joinable() const noexcept { return joinable_; }
    void join() noexcept;

    const std::string& name() const noexcept { return name_; }
    // The system's id of the thread (as shown by ps -L); 0 when not started.
    pid_t systemId() const noexcept { return systemId_; }

private:
    pthread_t handle_{};
    bool joinable_ = false;
    pid_t systemId_ = 0;
    std::string name_;
};

}  // namespace qz
