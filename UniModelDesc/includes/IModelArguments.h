#pragma once
// Argument sources: the value of each numbered animation/visibility argument
// under which a model is evaluated (matrices, visibility).
//
// Contract: getArgument never fails; a source decides the value of numbers it
// does not know. DummyArguments gives 0.0 for every number (the rest pose used
// by bounding boxes and the optimisers).

#include <cstdint>

namespace model {

// The argument number that means "no argument".
inline constexpr std::uint32_t kNoArgument = 0xFFFFFFFFu;

class IModelArguments {
public:
    virtual ~IModelArguments() = default;
    virtual float getArgument(std::uint32_t argument) const = 0;
};

class DummyArguments final : public IModelArguments {
public:
    float getArgument(std::uint32_t) const override { return 0.0f; }
};

}  // namespace model
