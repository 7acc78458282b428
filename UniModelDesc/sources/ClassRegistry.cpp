#include "ClassRegistry.h"

#include <utility>

#include "qz/ExtException.h"

namespace model {

ClassRegistry& ClassRegistry::instance() {
    // Deliberately never destroyed: model objects may still be released
    // while static objects are torn down at exit, and their deleter needs the
    // registry's lock and list.
    static ClassRegistry* const registry = [] {
        auto* r = new ClassRegistry();
        registerModelClasses(*r);
        return r;
    }();
    return *registry;
}

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
        try {
            if (freeSlots_.empty()) {
                alive_.push_back(object);
                // Room for every slot to be freed, so unlist never allocates.
                if (freeSlots_.capacity() < alive_.capacity()) freeSlots_.reserve(alive_.capacity());
                object->liveSlot_ = alive_.size() - 1;
            } else {
                object->liveSlot_ = freeSlots_.back();
                freeSlots_.pop_back();
                alive_[object->liveSlot_] = object;
            }
        } catch (...) {
            if (!alive_.empty() && alive_.back() == object) alive_.pop_back();
            delete object;
            throw;
        }
        ++aliveCount_;
    }
    return Ptr<IObject>(object);
}

std::size_t ClassRegistry::aliveCount() const {
    std::lock_guard lock(mutex_);
    return aliveCount_;
}

void ClassRegistry::unlist(const IObject* object) noexcept {
    std::lock_guard lock(mutex_);
    const std::size_t slot = object->liveSlot_;
    if (slot >= alive_.size() || alive_[slot] != object) return;
    // The slot is left empty for the next object: filling it with the last
    // entry instead would touch that other object too, a cache miss per
    // release when a large tree is freed.
    alive_[slot] = nullptr;
    freeSlots_.push_back(slot);
    --aliveCount_;
}

void IObjectDeleter::destroy(const IObject* object) noexcept {
    if (!object) return;
    if (ClassRegistry* owner = object->getOwner()) owner->unlist(object);
    delete object;
}

}  // namespace model
