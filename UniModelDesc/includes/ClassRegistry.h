#pragma once
// The process-wide class registry: makes model objects by class name and
// counts the objects it made that are still alive.
//
// Contract:
//  - ClassRegistry::instance() is created on first use (thread-safe) with
//    every model class registered (ClassRegistration.cpp holds the list, in
//    registration order). It is never destroyed, so objects released during
//    process exit still find it.
//  - create(name) returns a new default-constructed object of the class
//    registered under name; clone(source, name) a new object copy-constructed
//    from source. Both set the object's owner to the registry and count it
//    as alive. An unregistered name (or, for clone, a source
//    that is not of the named class) returns null and leaves everything
//    unchanged.
//  - make<T>(name) is the one way the library, the module, the tests and
//    the benchmarks make a model object by class name: a new object of the
//    class registered under name, already held by the returned pointer. It
//    throws qz::ExtException "Can't create an object of class <name>" when
//    the name is not registered or the object made is not a T; nothing is
//    left alive then.
//  - aliveCount() is the number of registry-made objects not yet destroyed.
//  - Every operation takes the registry's lock for its own bookkeeping only;
//    constructors and destructors of model objects run outside it, so they
//    may use the registry themselves.

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "IObject.h"
#include "qz/ExtException.h"

namespace model {

// Factory of one class.
class IregClass {
public:
    virtual ~IregClass() = default;
    // A new default-constructed object.
    virtual IObject* create() const = 0;
    // A new object copy-constructed from source; null when source is not of
    // the factory's class.
    virtual IObject* clone(const IObject& source) const = 0;
};

template <class T>
class regClass final : public IregClass {
public:
    IObject* create() const override { return new T(); }
    IObject* clone(const IObject& source) const override {
        const T* typed = dynamic_cast<const T*>(&source);
        return typed ? new T(*typed) : nullptr;
    }
};

class ClassRegistry {
public:
    static ClassRegistry& instance();

    ClassRegistry(const ClassRegistry&) = delete;
    ClassRegistry& operator=(const ClassRegistry&) = delete;

    Ptr<IObject> create(std::string_view name);
    Ptr<IObject> clone(const IObject& source, std::string_view name);

    // Typed forms: null also when the object is not a T (the object made is
    // then released again at once).
    template <class T>
    Ptr<T> createAs(std::string_view name) {
        return qz::dynamicPtrCast<T>(create(name));
    }
    template <class T>
    Ptr<T> cloneAs(const IObject& source, std::string_view name) {
        return qz::dynamicPtrCast<T>(clone(source, name));
    }

    template <class T>
    static Ptr<T> make(std::string_view name) {
        Ptr<T> object = instance().createAs<T>(name);
        if (!object) QZ_THROW("Can't create an object of class " + std::string(name));
        return object;
    }

    std::size_t aliveCount() const;

    // Registers factory under name. A name can be registered once; a second
    // registration raises qz::ExtException.
    void registerClass(std::string name, std::unique_ptr<IregClass> factory);
    template <class T>
    void registerClass(std::string name) {
        registerClass(std::move(name), std::make_unique<regClass<T>>());
    }

    bool isRegistered(std::string_view name) const;
    // Registered names in registration order.
    std::vector<std::string> registeredNames() const;

private:
    friend struct IObjectDeleter;

    ClassRegistry();

    const IregClass* find(std::string_view name) const;
    Ptr<IObject> adopt(IObject* object);
    void unlist(const IObject* object) noexcept;

    struct NameHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const noexcept {
            return std::hash<std::string_view>()(s);
        }
    };

    mutable std::mutex mutex_;
    std::unordered_map<std::string, std::unique_ptr<IregClass>, NameHash, std::equal_to<>> classes_;
    std::vector<std::string> order_;
    // Registry-made objects not yet destroyed. Only the number is ever asked
    // for: a list of them would cost every creation and every release a
    // write to a place of its own, a cache miss each when a big tree is made
    // or freed.
    std::size_t aliveCount_ = 0;
};

// Registers every model class, in registration order (ClassRegistration.cpp).
void registerModelClasses(ClassRegistry& registry);

}  // namespace model
