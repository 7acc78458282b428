#pragma once
// Copies of NumPy arguments for the Python wrappers.
//
// Contract: toFloatList / toIndexList return every element of the array,
// flattened in C order (an (N, 3) array gives 3N values), after pybind11 has
// converted it to the element type (py::array::forcecast). A zero-dimensional
// array raises pybind11::value_error (ValueError in Python); an empty array
// gives an empty list.
//
// Signatures show these arguments as numpy.ndarray[numpy.float32] and
// numpy.ndarray[numpy.uint32]; include this header before binding them.

#include <cstdint>
#include <vector>

#include <pybind11/numpy.h>

namespace pytav {

using FloatArray = pybind11::array_t<float, pybind11::array::c_style | pybind11::array::forcecast>;
using IndexArray = pybind11::array_t<std::uint32_t, pybind11::array::c_style | pybind11::array::forcecast>;

std::vector<float> toFloatList(const FloatArray& array);
std::vector<std::uint32_t> toIndexList(const IndexArray& array);

}  // namespace pytav

namespace pybind11::detail {

template <>
struct handle_type_name<pytav::FloatArray> {
    static constexpr auto name = const_name("numpy.ndarray[numpy.float32]");
};

template <>
struct handle_type_name<pytav::IndexArray> {
    static constexpr auto name = const_name("numpy.ndarray[numpy.uint32]");
};

}  // namespace pybind11::detail
