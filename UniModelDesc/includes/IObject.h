#pragma once
// model::IObject: the counted base of every object of the model library, and
// model::IObjectDeleter, the deleter of the counted pointers between them.
//
// Contract:
//  - Objects are shared through model::Ptr<T> (qz::Ptr with IObjectDeleter).
//    A new object has count 0 until the first Ptr adopts it.
//  - `owner` is the class registry that made the object, or null for objects
//    made any other way. A copy never inherits it: the registry sets it on the
//    objects it returns from create and clone.
//  - When the last Ptr goes, the deleter first takes a registry-made object
//    off its registry's live-object count (under the registry's lock), then
//    destroys the object through its virtual destructor, outside the lock.
//    Objects that are not IObjects (materials) are simply destroyed.

#include <cstddef>
#include <type_traits>

#include "qz/Ptr.h"
#include "qz/Shared.h"

namespace model {

class ClassRegistry;
class IObject;

struct IObjectDeleter {
    template <class T>
    void operator()(T* p) const noexcept {
        if constexpr (std::is_base_of_v<IObject, std::remove_cv_t<T>>)
            destroy(static_cast<const IObject*>(p));
        else
            delete p;
    }

    // Unlists a registry-made object, then deletes it.
    static void destroy(const IObject* object) noexcept;
};

template <class T>
using Ptr = qz::Ptr<T, IObjectDeleter>;

class IObject : public qz::Shared {
public:
    IObject() noexcept = default;
    IObject(const IObject&) noexcept : qz::Shared() {}
    IObject& operator=(const IObject&) noexcept { return *this; }
    ~IObject() override = default;

    // The registry that made this object; null when it was made otherwise.
    ClassRegistry* getOwner() const noexcept { return owner_; }

private:
    friend class ClassRegistry;

    ClassRegistry* owner_ = nullptr;
};

}  // namespace model
