#pragma once
// What the C++ benchmarks share: making model objects through the registry.
// A benchmark can't go on without them, so a failure ends the process with
// exit status 2 (a missed goal exits with 1).

#include <cstdio>
#include <cstdlib>

#include "ClassRegistry.h"

namespace bench {

template <class T>
model::Ptr<T> make(const char* cls) {
    model::Ptr<T> p = model::ClassRegistry::instance().createAs<T>(cls);
    if (!p) {
        std::fprintf(stderr, "can't create %s\n", cls);
        std::exit(2);
    }
    return p;
}

}  // namespace bench
