#pragma once
// pytav::SavePath: the path argument of Model.save, taken whole from Python.
//
// Contract: converts whatever os.fsencode takes (str, bytes, any
// os.PathLike) to the bytes the system gets, keeping every byte, an embedded
// NUL included, so that the save can refuse a path no file can have instead
// of saving under a shorter name. A str holding escaped undecodable bytes
// (os.fsdecode of them) names the same file as those bytes. None (an absent
// path) becomes the empty text. Renders as "str" in signatures, like the
// plain string argument it replaces. Other types do not convert.
// pathText() turns a text that may hold such a path back into a str the way
// os.fsdecode does, so a message naming the path shows what was given.

#include <string>
#include <utility>

#include <pybind11/pybind11.h>

namespace pytav {

struct SavePath {
    std::string text;
};

inline pybind11::str pathText(const std::string& text) {
    PyObject* decoded = PyUnicode_DecodeFSDefaultAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    if (!decoded) throw pybind11::error_already_set();
    return pybind11::reinterpret_steal<pybind11::str>(decoded);
}

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
        PyObject* path = PyOS_FSPath(source.ptr());  // str or bytes, else TypeError
        if (!path) {
            PyErr_Clear();
            return false;
        }
        object text = reinterpret_steal<object>(path);
        if (PyUnicode_Check(path)) {
            text = reinterpret_steal<object>(PyUnicode_EncodeFSDefault(path));
            if (!text) {
                PyErr_Clear();  // a str no file name can be made of
                return false;
            }
        }
        char* data = nullptr;
        Py_ssize_t size = 0;
        if (PyBytes_AsStringAndSize(text.ptr(), &data, &size) != 0) {
            PyErr_Clear();
            return false;
        }
        value.text.assign(data, static_cast<size_t>(size));
        return true;
    }

    static handle cast(const pytav::SavePath& path, return_value_policy, handle) {
        return pytav::pathText(path.text).release();
    }
};

}  // namespace pybind11::detail
