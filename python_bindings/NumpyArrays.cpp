// Flat copies of NumPy arguments.

#include "NumpyArrays.h"

namespace py = pybind11;

namespace pytav {

namespace {

template <class T, class Array>
std::vector<T> flatCopy(const Array& array) {
    // A scalar array has no elements to list; scripts passing one made a
    // mistake that a silent single value would hide.
    if (array.ndim() == 0) throw py::value_error("A zero-dimensional array can't be used as a list of values.");
    const T* data = array.data();
    return std::vector<T>(data, data + array.size());
}

}  // namespace

std::vector<float> toFloatList(const FloatArray& array) { return flatCopy<float>(array); }

std::vector<std::uint32_t> toIndexList(const IndexArray& array) { return flatCopy<std::uint32_t>(array); }

}  // namespace pytav
