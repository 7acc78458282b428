#pragma once
// model::SharedWithImages<T>: a node's value that a file image may hold on to
// while the file is written.
//
// Contract
// - get() reads the value; edit() gives it for change, first copying it
//   when an image still holds the current one, so that an image never sees
//   a change (it may be written by another thread without the interpreter
//   lock while a script edits the model).
// - share() gives the image its hold on the current value.
// - Copies of a node copy the value itself: only images ever share it, so a
//   save's passes, which run before any image exists, never pay for a copy.
// - edit() reads the hold count without ordering; a thread that edits while
//   another writes an image must be ordered with that writer by something
//   else (the interpreter lock the save takes back before it lets go of its
//   image).

#include <memory>
#include <utility>

namespace model {

template <class T>
class SharedWithImages {
public:
    SharedWithImages() : value(std::make_shared<T>()) {}
    SharedWithImages(const SharedWithImages& other) : value(std::make_shared<T>(*other.value)) {}
    SharedWithImages& operator=(const SharedWithImages& other) {
        if (this != &other) value = std::make_shared<T>(*other.value);
        return *this;
    }
    SharedWithImages& operator=(T replacement) {
        value = std::make_shared<T>(std::move(replacement));
        return *this;
    }

    const T& get() const noexcept { return *value; }
    T& edit() {
        if (value.use_count() > 1) value = std::make_shared<T>(*value);
        return *value;
    }
    std::shared_ptr<const T> share() const noexcept { return value; }

private:
    std::shared_ptr<T> value;
};

}  // namespace model
