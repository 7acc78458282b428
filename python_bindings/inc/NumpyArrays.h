#pragma once
// NumPy arguments of the Python wrappers and their flat copies.
//
// Contract:
//  - FloatArray / IndexArray are C-ordered NumPy arrays of float32 / uint32.
//    As arguments they take a NumPy array (or anything numpy.asarray takes)
//    whose kind is numeric: booleans, integers or floats, converted to the
//    element type. Any other kind (complex, object, dates, times, strings,
//    records) raises pybind11::type_error (TypeError in Python) naming the
//    kind, rather than being cast. An IndexArray also raises
//    pybind11::value_error (ValueError) when a value is not a whole number
//    from 0 to 4294967295 (a negative index, an int64 of 2^40, 1.5, NaN),
//    naming the first such value; such values would otherwise wrap around
//    or be cut to some other index.
//  - toFloatList / toIndexList return every element of the array, flattened
//    in C order (an (N, 3) array gives 3N values). A zero-dimensional array
//    raises pybind11::value_error; an empty array gives an empty list.
//  - floats(&C::set) / indexList(&C::set): a method of C taking a FloatArray
//    / IndexArray that hands its flat list to the list setter C::set.
//
// Signatures show these arguments as numpy.ndarray[numpy.float32] and
// numpy.ndarray[numpy.uint32]; include this header before binding them.

#include <cstdint>
#include <vector>

#include <pybind11/numpy.h>

namespace pytav {

class FloatArray : public pybind11::array_t<float, pybind11::array::c_style | pybind11::array::forcecast> {
public:
    using array_t::array_t;
    // Null until a caster fills it: no array is made for nothing.
    FloatArray() : array_t(pybind11::handle(), stolen_t{}) {}
    explicit FloatArray(array_t&& array) : array_t(std::move(array)) {}
};

class IndexArray : public pybind11::array_t<std::uint32_t, pybind11::array::c_style | pybind11::array::forcecast> {
public:
    using array_t::array_t;
    IndexArray() : array_t(pybind11::handle(), stolen_t{}) {}
    explicit IndexArray(array_t&& array) : array_t(std::move(array)) {}
};

// The checked conversions the argument casters use. They return an empty
// (null) array when src can't be made into a NumPy array at all, and raise
// as the contract above says.
FloatArray toFloatArray(pybind11::handle src);
IndexArray toIndexArray(pybind11::handle src);

std::vector<float> toFloatList(const FloatArray& array);
std::vector<std::uint32_t> toIndexList(const IndexArray& array);

// A setter of a float or index list bound as a method taking a NumPy array.
template <class Self>
auto floats(void (Self::*setter)(std::vector<float>)) {
    return [setter](Self& self, const FloatArray& array) { (self.*setter)(toFloatList(array)); };
}

template <class Self>
auto indexList(void (Self::*setter)(std::vector<std::uint32_t>)) {
    return [setter](Self& self, const IndexArray& array) { (self.*setter)(toIndexList(array)); };
}

}  // namespace pytav

namespace pybind11::detail {

template <>
struct type_caster<pytav::FloatArray> {
    PYBIND11_TYPE_CASTER(pytav::FloatArray, const_name("numpy.ndarray[numpy.float32]"));

    // Without conversion only arrays that already have the element type and
    // layout match, as for pybind11's own array_t.
    bool load(handle src, bool convert) {
        if (!convert && !pytav::FloatArray::check_(src)) return false;
        value = pytav::toFloatArray(src);
        return static_cast<bool>(value);
    }

    static handle cast(const pytav::FloatArray& src, return_value_policy, handle) { return src.inc_ref(); }
};

template <>
struct type_caster<pytav::IndexArray> {
    PYBIND11_TYPE_CASTER(pytav::IndexArray, const_name("numpy.ndarray[numpy.uint32]"));

    bool load(handle src, bool convert) {
        if (!convert && !pytav::IndexArray::check_(src)) return false;
        value = pytav::toIndexArray(src);
        return static_cast<bool>(value);
    }

    static handle cast(const pytav::IndexArray& src, return_value_policy, handle) { return src.inc_ref(); }
};

}  // namespace pybind11::detail
