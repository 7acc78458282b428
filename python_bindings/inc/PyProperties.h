#pragma once
// Wrappers of argument-animatable values for Python: PropertyFloat,
// PropertyFloat2 and PropertyFloat3.
//
// A wrapper always holds exactly one model property object named
// "_DUMMY_NAME_": a static "model::Property<V>" or an argument-driven
// "model::AnimatedProperty<V>". set() and setAnim() make a new object and
// swap it in; the previous object is never changed, so a light or block that
// took it keeps what it took. Consumers take getProperty() at the time of
// their call and share that object.
//
// Keys from scripts are (time, value). PropertyFloat and PropertyFloat3 sort
// them by time and drop the ones the others reproduce within 0.001;
// PropertyFloat2 keeps them exactly as given. A NaN key time is refused
// (std::invalid_argument, "key time is not a number") for the classes that
// sort. An empty key list gives an animated object without keys.
//
// Values go into the file, so they must be finite: a NaN or an infinite
// value, or an infinite key time (for PropertyFloat2 a NaN time as well),
// raises std::invalid_argument (ValueError) "Property value holds a value
// that is not finite." or "Property key holds a value that is not finite."
// and the wrapper keeps the object it held.

#include <cstdint>
#include <tuple>
#include <vector>

#include <osg/Vec2f>
#include <osg/Vec3f>

#include "AnimatedProperty.h"
#include "StaticProperty.h"

namespace pytav {

// The name every property made for a script carries until a consumer
// renames it.
inline constexpr const char* kScriptPropertyName = "_DUMMY_NAME_";

// What the three wrappers share; V is the model value type, PyValue its
// Python form, SortsKeys whether setAnim sorts and reduces.
template <class V, class PyValue, bool SortsKeys>
class AnimatableProperty {
public:
    using Value = V;
    using Key = std::tuple<float, PyValue>;
    using KeyList = std::vector<Key>;
    using StaticType = model::StaticProperty<V>;
    using AnimatedType = model::AnimatedProperty<V>;

    AnimatableProperty();
    explicit AnimatableProperty(const PyValue& value);
    AnimatableProperty(std::uint32_t argument, const KeyList& keys);

    void set(const PyValue& value);
    void setAnim(std::uint32_t argument, const KeyList& keys);

    // The object held now; never null.
    const model::PropertyPtr& getProperty() const noexcept { return property_; }

private:
    model::PropertyPtr property_;
};

class PropertyFloat : public AnimatableProperty<float, float, true> {
public:
    using AnimatableProperty::AnimatableProperty;
};

class PropertyFloat2 : public AnimatableProperty<osg::Vec2f, std::tuple<float, float>, false> {
public:
    using AnimatableProperty::AnimatableProperty;
};

class PropertyFloat3 : public AnimatableProperty<osg::Vec3f, std::tuple<float, float, float>, true> {
public:
    using AnimatableProperty::AnimatableProperty;
};

// A static float property named "_DUMMY_NAME_" holding value.
model::PropertyPtr makeStaticFloat(float value);
// An animated float property named "_DUMMY_NAME_" on argument, with keys
// (time, value) sorted and reduced with the given tolerance.
model::PropertyPtr makeAnimatedFloat(std::uint32_t argument, std::vector<std::tuple<double, float>> keys,
                                     float tolerance);

// The value of a float property at argument position 0: a static value, or
// the animated keys evaluated there (0 when it has none).
float floatValueAtRest(const model::IProperty& property);

}  // namespace pytav
