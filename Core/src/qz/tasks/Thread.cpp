#include "qz/tasks/Thread.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <semaphore>
#include <utility>

#include "qz/ExtException.h"
#include "qz/Log.h"

namespace qz {
namespace {

constexpr std::size_t kNameLimit = 127;
constexpr std::size_t kSystemNameLimit = 15;

// Everything the new thread needs; the thread itself frees it when it ends.
struct StartBlock {
    std::string name;
    Thread::Body body;
    pid_t systemId = 0;
    std::binary_semaphore started{0};
    std::binary_semaphore settingsApplied{0};
};

// Cuts to at most `limit` bytes without splitting a UTF-8 sequence.
std::string cutUtf8(const std::string& text, std::size_t limit) {
    if (text.size() <= limit) return text;
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

void* threadEntry(void* argument) {
    auto* block = static_cast<StartBlock*>(argument);
    block->systemId = static_cast<pid_t>(syscall(SYS_gettid));
    block->started.release();
    block->settingsApplied.acquire();

    pthread_setname_np(pthread_self(), cutUtf8(block->name, kSystemNameLimit).c_str());
    setCurrentThreadLogName(block->name);
    try {
        block->body();
    } catch (...) {
        // Nobody is left to hand the exception to; the thread just ends.
    }
    delete block;
    return nullptr;
}

int niceOffset(Priority priority) {
    switch (priority) {
        case Priority::BelowNormal: return 5;
        case Priority::AboveNormal: return -5;
        case Priority::TimeCritical: return -15;
        default: return 0;
    }
}

void applyPriority(pthread_t handle, pid_t systemId, Priority priority) {
    sched_param param{};
    if (priority == Priority::Idle) {
        pthread_setschedparam(handle, SCHED_IDLE, &param);
        return;
    }
    // A thread started from an idle thread inherits the idle class.
    int policy = SCHED_OTHER;
    if (pthread_getschedparam(handle, &policy, &param) == 0 && policy == SCHED_IDLE) {
        param = sched_param{};
        pthread_setschedparam(handle, SCHED_OTHER, &param);
    }
    errno = 0;
    int base = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
    if (base == -1 && errno != 0) base = 0;
    const int nice = std::clamp(base + niceOffset(priority), -20, 19);
    // Raising above the process needs privileges; without them it is refused
    // and the thread keeps the priority it inherited.
    setpriority(PRIO_PROCESS, static_cast<id_t>(systemId), nice);
}

void applyAffinity(pthread_t handle, std::uint64_t mask) {
    if (mask == 0) return;
    cpu_set_t set;
    CPU_ZERO(&set);
    for (int cpu = 0; cpu < 64; ++cpu)
        if (mask & (std::uint64_t{1} << cpu)) CPU_SET(cpu, &set);
    // A mask without any usable processor is refused; the thread stays unrestricted.
    pthread_setaffinity_np(handle, sizeof set, &set);
}

}  // namespace

Thread::Thread(std::string name, const ThreadInfo& info, Body body) {
    name_ = name.empty() ? std::string("unnamed") : cutUtf8(name, kNameLimit);
    auto* block = new StartBlock{name_, std::move(body)};

    const int rc = pthread_create(&handle_, nullptr, &threadEntry, block);
    if (rc != 0) {
        delete block;
        QZ_THROW(fmt::format("failed to create thread '{}' with code {}", name_, rc));
    }
    joinable_ = true;
    block->started.acquire();
    systemId_ = block->systemId;

    applyPriority(handle_, systemId_, info.priority);
    applyAffinity(handle_, info.affinity);
    try {
        logText("QZCORESTATIC", LOG_DEBUG,
                fmt::format("created thread '{}' (priority:{} mem:{} throttling:{} idealCore:{} "
                            "affinity:{:b})\n",
                            name_, static_cast<int>(info.priority), info.memoryPriority,
                            static_cast<int>(info.throttling), static_cast<int>(info.idealCore),
                            info.affinity));
    } catch (...) {
        // The thread is already running and waits for us: a lost log line
        // must not leave it blocked.
    }
    // From here on the block belongs to the thread.
    block->settingsApplied.release();
}

Thread::~Thread() { join(); }

Thread::Thread(Thread&& other) noexcept
    : handle_(other.handle_),
      joinable_(std::exchange(other.joinable_, false)),
      systemId_(std::exchange(other.systemId_, 0)),
      name_(std::move(other.name_)) {}

Thread& Thread::operator=(Thread&& other) noexcept {
    if (this != &other) {
        join();
        handle_ = other.handle_;
        joinable_ = std::exchange(other.joinable_, false);
        systemId_ = std::exchange(other.systemId_, 0);
        name_ = std::move(other.name_);
    }
    return *this;
}

void Thread::join() noexcept {
    if (!joinable_) return;
    joinable_ = false;
    const int rc = pthread_join(handle_, nullptr);
    if (rc == 0) return;
    if (rc == EINVAL)
        log("QZCORESTATIC", LOG_ERROR, "Error on check if thread is joinable with code %llu.",
            static_cast<unsigned long long>(rc));
    else
        log("QZCORESTATIC", LOG_ERROR, "Wait for working thread failed with code %llu.",
            static_cast<unsigned long long>(rc));
    // A thread cannot join itself (for instance a pool destroyed from one of
    // its own workers); detached, the system reclaims it when it ends.
    if (rc == EDEADLK) pthread_detach(handle_);
}

}  // namespace qz
