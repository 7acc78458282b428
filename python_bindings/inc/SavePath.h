#pragma once
// pytav::SavePath: the path argument of Model.save, taken whole from Python.
//
// Contract: converts from a Python str (UTF-8) or bytes, keeping every
// character, an embedded NUL included, so that the save can refuse a path no
// file can have instead of saving under a shorter name; None (an absent
// path) becomes the empty text. Renders as "str" in signatures, like the
// plain string argument it replaces. Other types do not convert.

#include <string>
#include <utility>

#include <pybind11/pybind11.h>

namespace pytav {

struct SavePath {
    std::string text;
};

}  // namespace pytav

namespace pybind11::detail {

template <>
struct type_caster<pytav::SavePath> {
    PYBIND11_TYPE_CASTER(pytav::SavePath, const_name("str"));

    bool load(handle source, bool convert) {
        if (source.is_none()) {
            // As for a C string argument: None only where conversion is allowed.
            if (!convert) return false;
            value.text.clear();
            return true;
        }
        make_caster<std::string> text;
        if (!text.load(source, convert)) return false;
        value.text = cast_op<std::string&&>(std::move(text));
        return true;
    }

    static handle cast(const pytav::SavePath& path, return_value_policy policy, handle parent) {
        return make_caster<std::string>::cast(path.text, policy, parent);
    }
};

}  // namespace pybind11::detail
