#pragma once
// Refusal of script numbers that are not finite, for setters whose floats
// go into the model file.
//
// A NaN or an infinity in a file has no meaning the game can act on (a
// transform of NaN hides its subtree, an infinite box culls nothing), so
// such a value is refused where the script hands it over, while the call is
// still on the script's line. The largest finite float (3.4028235e38, the
// empty box's bound) is finite and passes.
//
// Contract:
//  - allFinite(values...): true when every value is neither NaN nor an
//    infinity. Never throws.
//  - requireFinite(ok, what): nothing when ok; otherwise raises
//    std::invalid_argument (ValueError in Python) with the text
//    "{what} holds a value that is not finite.". Callers check before they
//    change anything, so a refused call leaves its object as it was.

#include <cmath>
#include <stdexcept>
#include <string>
#include <string_view>

namespace pytav {

template <class... T>
bool allFinite(T... values) noexcept {
    return (std::isfinite(static_cast<double>(values)) && ...);
}

inline void requireFinite(bool ok, std::string_view what) {
    if (!ok) throw std::invalid_argument(std::string(what) + " holds a value that is not finite.");
}

}  // namespace pytav
