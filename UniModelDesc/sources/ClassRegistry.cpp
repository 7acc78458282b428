#include "ClassRegistry.h"

#include <pthread.h>

#include <utility>

#include "qz/ExtException.h"

namespace model {
namespace {

// The registry whose lock fork() holds (the one instance).
ClassRegistry* g_heldAcrossFork = nullptr;

}  // namespace

ClassRegistry& ClassRegistry::instance() {
    // Deliberately never destroyed: model objects may still be released
    // while static objects are torn down at exit, and their deleter needs the
    // registry's lock and count.
    static ClassRegistry* const registry = [] {
        auto* r = new ClassRegistry();
        registerModelClasses(*r);
        // fork() copies only the calling thread: holding the lock across it
        // keeps a child from inheriting it taken, or the count or the class
        // table half changed, by a thread that does not exist there.
        g_heldAcrossFork = r;
        pthread_atfork([] { g_heldAcrossFork->mutex_.lock(); },
                       [] { g_heldAcrossFork->mutex_.unlock(); },
                       [] { g_heldAcrossFork->mutex_.unlock(); });
        return r;
    }();
    return *registry;
}

namespace {

// Made while the program or module loads, before any thread of ours runs: a
// fork() while another thread was making the registry on its first use would
// leave the child waiting for good on a guard that no thread there releases.
[[maybe_unused]] ClassRegistry& g_madeAtLoad = ClassRegistry::instance();

}  // namespace

ClassRegistry::ClassRegistry() {
    classes_.max_load_factor(1.0f);
    classes_.rehash(8);
}

void ClassRegistry::registerClass(std::string name, std::unique_ptr<IregClass> factory) {
    if (!factory) QZ_THROW("Can't register class '" + name + "' without a factory.");
    std::lock_guard lock(mutex_);
    if (classes_.count(name)) QZ_THROW("Class '" + name + "' is already registered.");
    order_.push_back(name);
    classes_.emplace(std::move(name), std::move(factory));
}

bool ClassRegistry::isRegistered(std::string_view name) const { return find(name) != nullptr; }

std::vector<std::string> ClassRegistry::registeredNames() const {
    std::lock_guard lock(mutex_);
    return order_;
}

const IregClass* ClassRegistry::find(std::string_view name) const {
    std::lock_guard lock(mutex_);
    const auto it = classes_.find(name);
    // Factories are never removed, so the pointer stays valid after unlocking.
    return it == classes_.end() ? nullptr : it->second.get();
}

Ptr<IObject> ClassRegistry::create(std::string_view name) {
    const IregClass* factory = find(name);
    return factory ? adopt(factory->create()) : Ptr<IObject>();
}

Ptr<IObject> ClassRegistry::clone(const IObject& source, std::string_view name) {
    const IregClass* factory = find(name);
    return factory ? adopt(factory->clone(source)) : Ptr<IObject>();
}

Ptr<IObject> ClassRegistry::adopt(IObject* object) {
    if (!object) return Ptr<IObject>();
    {
        std::lock_guard lock(mutex_);
        object->owner_ = this;
        ++aliveCount_;
    }
    return Ptr<IObject>(object);
}

std::size_t ClassRegistry::aliveCount() const {
    std::lock_guard lock(mutex_);
    return aliveCount_;
}

void ClassRegistry::unlist(const IObject*) noexcept {
    std::lock_guard lock(mutex_);
    --aliveCount_;
}

void IObjectDeleter::destroy(const IObject* object) noexcept {
    if (!object) return;
    if (ClassRegistry* owner = object->getOwner()) owner->unlist(object);
    delete object;
}

}  // namespace model
