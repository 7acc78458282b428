#include "ClassRegistry.h"

#include <utility>

#include "qz/ExtException.h"

namespace model {

ClassRegistry& ClassRegistry::instance() {
    // Deliberately never destroyed: model objects may still be released
    // while static objects are torn down at exit, and their deleter needs the
    // registry's lock and count.
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
