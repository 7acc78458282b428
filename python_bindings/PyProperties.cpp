// Python classes PropertyFloat, PropertyFloat2 and PropertyFloat3.

#include "PyProperties.h"

#include <cmath>

#include "ScriptTypeNames.h"

#include "Bindings.h"
#include "FiniteArguments.h"
#include "utils/KeyReduction.h"
#include "ClassRegistry.h"

namespace py = pybind11;

namespace pytav {

namespace {

// Property curves are sampled by exporters; differences below this are lost
// in the game's own precision.
constexpr float kPropertyKeyTolerance = 0.001f;

template <class V>
struct ValueForm;

template <>
struct ValueForm<float> {
    static constexpr std::size_t N = 1;
    static constexpr const char* staticClass = "model::Property<float>";
    static constexpr const char* animatedClass = "model::AnimatedProperty<float>";
    static float fromPython(float v) { return v; }
    static std::array<double, N> widen(float v) { return {v}; }
    static float narrow(const std::array<double, N>& a) { return static_cast<float>(a[0]); }
};

template <>
struct ValueForm<osg::Vec2f> {
    static constexpr std::size_t N = 2;
    static constexpr const char* staticClass = "model::Property<osg::Vec2f>";
    static constexpr const char* animatedClass = "model::AnimatedProperty<osg::Vec2f>";
    static osg::Vec2f fromPython(const std::tuple<float, float>& v) {
        return osg::Vec2f(std::get<0>(v), std::get<1>(v));
    }
};

template <>
struct ValueForm<osg::Vec3f> {
    static constexpr std::size_t N = 3;
    static constexpr const char* staticClass = "model::Property<osg::Vec3f>";
    static constexpr const char* animatedClass = "model::AnimatedProperty<osg::Vec3f>";
    static osg::Vec3f fromPython(const std::tuple<float, float, float>& v) {
        return osg::Vec3f(std::get<0>(v), std::get<1>(v), std::get<2>(v));
    }
    static std::array<double, N> widen(const osg::Vec3f& v) { return {v.x(), v.y(), v.z()}; }
    static osg::Vec3f narrow(const std::array<double, N>& a) {
        return osg::Vec3f(static_cast<float>(a[0]), static_cast<float>(a[1]), static_cast<float>(a[2]));
    }
};

bool finite(float v) noexcept { return allFinite(v); }
bool finite(const osg::Vec2f& v) noexcept { return allFinite(v.x(), v.y()); }
bool finite(const osg::Vec3f& v) noexcept { return allFinite(v.x(), v.y(), v.z()); }

// Key times go into the file too. Where keys are sorted, a NaN time is left
// to the sort, which refuses it with its own message.
bool finiteTime(double time, bool sorted) noexcept { return sorted ? !std::isinf(time) : allFinite(time); }

template <class V, class PyValue>
V finiteValue(const PyValue& value) {
    const V modelValue = ValueForm<V>::fromPython(value);
    requireFinite(finite(modelValue), "Property value");
    return modelValue;
}

template <class V>
model::PropertyPtr makeStatic(const V& value) {
    auto property = model::ClassRegistry::make<model::StaticProperty<V>>(ValueForm<V>::staticClass);
    property->setName(kScriptPropertyName);
    property->setValue(value);
    return property;
}

// Keys of model values, sorted and reduced when Reduce says so. The values
// round-trip exactly through the doubles the reduction works on.
template <class V, bool Reduce>
std::vector<typename model::AnimatedProperty<V>::Key> processKeys(
    std::vector<typename model::AnimatedProperty<V>::Key> keys, [[maybe_unused]] float tolerance) {
    if constexpr (Reduce) {
        using Form = ValueForm<V>;
        std::vector<model::utils::CurveKey<Form::N>> curve;
        curve.reserve(keys.size());
        for (const auto& k : keys) curve.push_back({k.time, Form::widen(k.value)});
        model::utils::sortAndReduceLinear(curve, tolerance);
        keys.clear();
        for (const auto& k : curve) keys.push_back({k.time, Form::narrow(k.value)});
    }
    return keys;
}

template <class V>
model::PropertyPtr makeAnimated(std::uint32_t argument, std::vector<typename model::AnimatedProperty<V>::Key> keys) {
    auto property = model::ClassRegistry::make<model::AnimatedProperty<V>>(ValueForm<V>::animatedClass);
    property->setName(kScriptPropertyName);
    property->setArgument(argument);
    property->setKeys(std::move(keys));
    return property;
}

}  // namespace

template <class V, class PyValue, bool SortsKeys>
AnimatableProperty<V, PyValue, SortsKeys>::AnimatableProperty()
    : property_(makeStatic<V>(model::detail::StaticTraits<V>::initial())) {}

template <class V, class PyValue, bool SortsKeys>
AnimatableProperty<V, PyValue, SortsKeys>::AnimatableProperty(const PyValue& value)
    : property_(makeStatic<V>(finiteValue<V>(value))) {}

template <class V, class PyValue, bool SortsKeys>
AnimatableProperty<V, PyValue, SortsKeys>::AnimatableProperty(std::uint32_t argument, const KeyList& keys)
    : AnimatableProperty() {
    setAnim(argument, keys);
}

template <class V, class PyValue, bool SortsKeys>
void AnimatableProperty<V, PyValue, SortsKeys>::set(const PyValue& value) {
    property_ = makeStatic<V>(finiteValue<V>(value));
}

template <class V, class PyValue, bool SortsKeys>
void AnimatableProperty<V, PyValue, SortsKeys>::setAnim(std::uint32_t argument, const KeyList& keys) {
    std::vector<typename AnimatedType::Key> modelKeys;
    modelKeys.reserve(keys.size());
    for (const auto& [time, value] : keys) {
        modelKeys.push_back({time, ValueForm<V>::fromPython(value)});
        requireFinite(finiteTime(time, SortsKeys) && finite(modelKeys.back().value), "Property key");
    }
    property_ = makeAnimated<V>(argument, processKeys<V, SortsKeys>(std::move(modelKeys), kPropertyKeyTolerance));
}

template class AnimatableProperty<float, float, true>;
template class AnimatableProperty<osg::Vec2f, std::tuple<float, float>, false>;
template class AnimatableProperty<osg::Vec3f, std::tuple<float, float, float>, true>;

model::PropertyPtr makeStaticFloat(float value) { return makeStatic<float>(value); }

model::PropertyPtr makeAnimatedFloat(std::uint32_t argument, std::vector<std::tuple<double, float>> keys,
                                     float tolerance) {
    std::vector<model::AnimatedFloatProperty::Key> modelKeys;
    modelKeys.reserve(keys.size());
    for (const auto& [time, value] : keys) modelKeys.push_back({time, value});
    return makeAnimated<float>(argument, processKeys<float, true>(std::move(modelKeys), tolerance));
}

float floatValueAtRest(const model::IProperty& property) {
    if (const auto* fixed = dynamic_cast<const model::FloatProperty*>(&property)) return fixed->getValue();
    if (const auto* animated = dynamic_cast<const model::AnimatedFloatProperty*>(&property)) {
        const auto& keys = animated->getKeys();
        if (keys.empty()) return 0.0f;
        std::vector<model::utils::CurveKey<1>> curve;
        curve.reserve(keys.size());
        for (const auto& k : keys) curve.push_back({k.time, {k.value}});
        // Script keys are stored sorted; evaluation needs that order.
        model::utils::sortKeysByTime(curve);
        return static_cast<float>(model::utils::evaluateLinear(curve, 0.0)[0]);
    }
    return 0.0f;
}

// --- Python classes ----------------------------------------------------

void declareProperties(py::module_& m) {
    py::class_<PropertyFloat>(m, "PropertyFloat");
    py::class_<PropertyFloat2>(m, "PropertyFloat2");
    py::class_<PropertyFloat3>(m, "PropertyFloat3");
}

namespace {

template <class Wrapper>
void bindProperty(py::module_& m, const char* name) {
    using PyValue = std::tuple_element_t<1, typename Wrapper::Key>;
    py::class_<Wrapper>(m.attr(name))
        .def(py::init<>(), "A constant zero.")
        .def(py::init<const PyValue&>(), py::arg("value"), "A constant value.")
        .def(py::init<std::uint32_t, const typename Wrapper::KeyList&>(), py::arg("argument"), py::arg("keys"),
             "A value animated over (time, value) keys by an argument.")
        .def("set", &Wrapper::set, py::arg("value"), "Makes the property a constant value.")
        .def("setAnim", &Wrapper::setAnim, py::arg("argument"), py::arg("keys"),
             "Animates the property over (time, value) keys by an argument.");
}

}  // namespace

void bindProperties(py::module_& m) {
    bindProperty<PropertyFloat>(m, "PropertyFloat");
    bindProperty<PropertyFloat2>(m, "PropertyFloat2");
    bindProperty<PropertyFloat3>(m, "PropertyFloat3");
}

}  // namespace pytav
