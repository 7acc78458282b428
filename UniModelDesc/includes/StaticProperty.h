#pragma once
// Static properties: one named value each.
//
//   FloatProperty   "model::Property<float>"         "FLT1"  float, 0
//   UIntProperty    "model::Property<unsigned int>"  "INT1"  uint32, 0
//   Vec2fProperty   "model::Property<osg::Vec2f>"    "FLT2"  (0, 0)
//   Vec3fProperty   "model::Property<osg::Vec3f>"    "FLT3"  (0, 0, 0)
//   Vec4fProperty   "model::Property<osg::Vec4f>"    "FLT4"  (0, 0, 0, 0)
//   StringProperty  "model::Property<const char*>"   "STRG"  byte string, empty
//
// Contract: as model::IProperty. Equality: floats and vector components
// within nearlyEqual, unsigned values identical, strings byte-equal.

#include <string>

#include "IPropertyVisitor.h"
#include "PropertyValueTraits.h"

namespace model {

template <class V>
class StaticProperty final : public IStaticProperty {
    using Traits = detail::StaticTraits<V>;

public:
    using value_type = V;

    StaticProperty() : IStaticProperty(Traits::valueType, Traits::kindTag), value_(Traits::initial()) {}
    StaticProperty(const StaticProperty&) = default;

    const V& getValue() const noexcept { return value_; }
    void setValue(const V& value) { value_ = value; }

    const char* getClassName() const override { return Traits::className; }

    std::string toString() const override {
        return getName() + " = " + Traits::format(value_) + ";";
    }

    void accept(IPropertyVisitor& visitor) const override { visitor.visit(*this); }

    bool isEqual(const IProperty& other) const override {
        if (!sameClassAndName(other)) return false;
        return Traits::equal(value_, static_cast<const StaticProperty&>(other).value_);
    }
    using IProperty::isEqual;

private:
    V value_;
};

}  // namespace model
