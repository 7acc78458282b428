#pragma once
// Making model objects by registered class name for the Python wrappers.
//
// Contract: createModelObject<T>(name) returns a new object made by the
// process-wide class registry under `name`, already held by the returned
// counted pointer. It raises qz::ExtException when the name is not
// registered or the object made is not a T; nothing is left alive then.

#include <string>

#include "ClassRegistry.h"
#include "qz/ExtException.h"

namespace pytav {

template <class T>
model::Ptr<T> createModelObject(const char* className) {
    model::Ptr<T> object = model::ClassRegistry::instance().createAs<T>(className);
    if (!object) QZ_THROW(std::string("Can't create an object of class ") + className);
    return object;
}

}  // namespace pytav
