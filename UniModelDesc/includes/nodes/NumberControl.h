#pragma once
// model::NumberControl: one digit control record of a number display.
//
// Contract: 16 bytes, stored and written as laid out here. An argument of -1
// (0xFFFFFFFF) means none; any other value is an animation argument number.

#include <cstdint>
#include <vector>

namespace model {

struct NumberControl {
    static constexpr std::int32_t kNone = -1;

    std::int32_t argument = kNone;
    float value = 0.0f;
    std::int32_t argument2 = kNone;
    float value2 = 0.0f;

    friend bool operator==(const NumberControl&, const NumberControl&) = default;
};

static_assert(sizeof(NumberControl) == 16, "a control record is 16 bytes");

using NumberControlList = std::vector<NumberControl>;

}  // namespace model
