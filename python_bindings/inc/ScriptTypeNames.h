#pragma once
// How lists and tuples are named in the signatures the module shows
// (docstrings, "incompatible function arguments" errors, the type stub):
// "List[...]" and "Tuple[...]", the spelling of the module's documented
// class table, whatever spelling the pybind11 release in use prefers.
//
// The casters below only rename pybind11's own list and tuple casters; they
// convert exactly as those do. They are partial specializations more
// specialized than pybind11's, so every translation unit that converts a
// std::vector or std::tuple must see them: include this header instead of
// <pybind11/stl.h> (Bindings.h includes it).

#include <tuple>
#include <vector>

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

namespace pybind11::detail {

template <typename T>
struct type_caster<std::vector<T>> : list_caster<std::vector<T>, T> {
    static constexpr auto name = const_name("List[") + make_caster<T>::name + const_name("]");
};

template <typename... Ts>
class table_tuple_caster : public tuple_caster<std::tuple, Ts...> {
public:
    static constexpr auto name = const_name("Tuple[") + concat(make_caster<Ts>::name...) + const_name("]");
};

// One specialization per arity in use: a fixed arity is more specialized
// than pybind11's std::tuple<Ts...>, a pack of our own would not be.
template <typename A>
class type_caster<std::tuple<A>> : public table_tuple_caster<A> {};
template <typename A, typename B>
class type_caster<std::tuple<A, B>> : public table_tuple_caster<A, B> {};
template <typename A, typename B, typename C>
class type_caster<std::tuple<A, B, C>> : public table_tuple_caster<A, B, C> {};
template <typename A, typename B, typename C, typename D>
class type_caster<std::tuple<A, B, C, D>> : public table_tuple_caster<A, B, C, D> {};
template <typename A, typename B, typename C, typename D, typename E>
class type_caster<std::tuple<A, B, C, D, E>> : public table_tuple_caster<A, B, C, D, E> {};
template <typename A, typename B, typename C, typename D, typename E, typename F>
class type_caster<std::tuple<A, B, C, D, E, F>> : public table_tuple_caster<A, B, C, D, E, F> {};

}  // namespace pybind11::detail
