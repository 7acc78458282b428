#pragma once
// Making model objects in the tests: the class registry's make (which throws
// qz::ExtException for a name it can't make), and the given name set on
// every object that has a name, the empty one by default.

#include <string>
#include <string_view>

#include "ClassRegistry.h"

namespace testobjects {

template <class T>
model::Ptr<T> make(std::string_view cls, const std::string& name = {}) {
    model::Ptr<T> object = model::ClassRegistry::make<T>(cls);
    if constexpr (requires { object->setName(name); }) object->setName(name);
    return object;
}

}  // namespace testobjects
