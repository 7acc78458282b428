#pragma once
// qz::Ptr: counted pointer to an object derived from qz::SharedLite.
//
// The count lives in the object, so a Ptr can be made again from a plain
// pointer at any time (every Ptr to one object shares the same count).
// Contract:
//  - Ptr(p) and reset(p) take a reference on p (p may be null); copying takes
//    another; destruction, reset() and assignment release one.
//  - When a release takes the count from 1 to 0, Deleter{}(p) runs once and
//    must destroy the object. The default deleter deletes through T's
//    destructor (virtual for qz::Shared).
//  - Deleter is an empty type; a Ptr is the size of a plain pointer.
//  - A Ptr<U, D> converts to Ptr<T, D> when U* converts to T*.
// Counts change atomically; one Ptr object itself is not safe to change from
// two threads at once (as for std::shared_ptr).

#include <cstddef>
#include <functional>
#include <type_traits>
#include <utility>

namespace qz {

struct DefaultDeleter {
    template <class T>
    void operator()(T* p) const noexcept {
        delete p;
    }
};

template <class T, class Deleter = DefaultDeleter>
class Ptr {
public:
    using element_type = T;
    using deleter_type = Deleter;

    constexpr Ptr() noexcept = default;
    constexpr Ptr(std::nullptr_t) noexcept {}
    explicit Ptr(T* p) noexcept : p_(p) { acquire(); }

    Ptr(const Ptr& o) noexcept : p_(o.p_) { acquire(); }
    Ptr(Ptr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}

    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    Ptr(const Ptr<U, Deleter>& o) noexcept : p_(o.get()) {
        acquire();
    }
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    Ptr(Ptr<U, Deleter>&& o) noexcept : p_(o.get()) {
        // The moved-from pointer keeps its reference until it is reset, so
        // take our own first: the count never touches zero on the way.
        acquire();
        o.reset();
    }

    ~Ptr() { releaseCurrent(); }

    Ptr& operator=(const Ptr& o) noexcept {
        Ptr(o).swap(*this);
        return *this;
    }
    Ptr& operator=(Ptr&& o) noexcept {
        Ptr(std::move(o)).swap(*this);
        return *this;
    }
    Ptr& operator=(std::nullptr_t) noexcept {
        reset();
        return *this;
    }

    void reset() noexcept { Ptr().swap(*this); }
    void reset(T* p) noexcept { Ptr(p).swap(*this); }
    void swap(Ptr& o) noexcept { std::swap(p_, o.p_); }

    T* get() const noexcept { return p_; }
    T& operator*() const noexcept { return *p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    template <class U, class D>
    bool operator==(const Ptr<U, D>& o) const noexcept {
        return p_ == o.get();
    }
    bool operator==(std::nullptr_t) const noexcept { return p_ == nullptr; }
    template <class U, class D>
    bool operator<(const Ptr<U, D>& o) const noexcept {
        return std::less<const void*>()(p_, o.get());
    }

private:
    void acquire() const noexcept {
        if (p_) p_->addRef();
    }
    void releaseCurrent() noexcept {
        // Clear the member before the deleter runs: a destructor that walks
        // back to this Ptr must not see a dying object.
        if (T* p = std::exchange(p_, nullptr); p && p->releaseRef()) Deleter{}(p);
    }

    T* p_ = nullptr;
};

template <class U, class T, class D>
Ptr<U, D> staticPtrCast(const Ptr<T, D>& p) noexcept {
    return Ptr<U, D>(static_cast<U*>(p.get()));
}

// Null when the object is not a U.
template <class U, class T, class D>
Ptr<U, D> dynamicPtrCast(const Ptr<T, D>& p) noexcept {
    return Ptr<U, D>(dynamic_cast<U*>(p.get()));
}

template <class U, class T, class D>
Ptr<U, D> constPtrCast(const Ptr<T, D>& p) noexcept {
    return Ptr<U, D>(const_cast<U*>(p.get()));
}

}  // namespace qz

template <class T, class D>
struct std::hash<qz::Ptr<T, D>> {
    std::size_t operator()(const qz::Ptr<T, D>& p) const noexcept {
        return std::hash<const void*>()(p.get());
    }
};
