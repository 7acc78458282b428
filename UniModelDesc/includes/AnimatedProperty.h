#pragma once
// Argument-driven properties.
//
//   ArgumentProperty       "model::ArgumentProperty"               "AARG"  argument only
//   AnimatedFloatProperty  "model::AnimatedProperty<float>"        "AFL1"  keys (time, float)
//   AnimatedVec2fProperty  "model::AnimatedProperty<osg::Vec2f>"   "AFL2"  keys (time, 2 floats)
//   AnimatedVec3fProperty  "model::AnimatedProperty<osg::Vec3f>"   "AFL3"  keys (time, 3 floats)
//   AnimatedVec4fProperty  "model::AnimatedProperty<osg::Vec4f>"   "AFL4"  keys (time, 4 floats)
//
// Contract: as model::IAnimatedProperty. Keys are kept in the order given;
// nothing sorts or merges them. Equality: same argument, same key count, and
// key by key times and value components within nearlyEqual.

#include <cstdint>
#include <string>
#include <vector>

#include "IPropertyVisitor.h"
#include "PropertyValueTraits.h"

namespace model {

class ArgumentProperty final : public IAnimatedProperty {
public:
    ArgumentProperty() : IAnimatedProperty(0, makeKindTag("AARG")) {}
    ArgumentProperty(const ArgumentProperty&) = default;

    const char* getClassName() const override { return "model::ArgumentProperty"; }
    // name + " = argument(" + argument + ");"
    std::string toString() const override;
    void accept(IPropertyVisitor& visitor) const override { visitor.visit(*this); }
};

template <class V>
class AnimatedProperty final : public IAnimatedProperty {
    using Traits = detail::AnimatedTraits<V>;
    using Components = detail::FloatComponents<V>;

public:
    using value_type = V;
    struct Key {
        double time = 0.0;
        V value{};
    };

    AnimatedProperty() : IAnimatedProperty(Traits::valueType, Traits::kindTag) {}
    AnimatedProperty(const AnimatedProperty&) = default;

    const std::vector<Key>& getKeys() const noexcept { return keys_; }
    void setKeys(std::vector<Key> keys) { keys_ = std::move(keys); }
    void addKey(double time, const V& value) { keys_.push_back(Key{time, value}); }

    const char* getClassName() const override { return Traits::className; }

    // name + " = animation(" + argument + ", " + "{time, value}" per key + ");"
    std::string toString() const override {
        std::string s = getName() + " = animation(" + detail::formatUInt(getArgument());
        for (const Key& k : keys_)
            s += ", {" + detail::formatDouble(k.time) + ", " + detail::formatComponents(k.value) + "}";
        return s + ");";
    }

    void accept(IPropertyVisitor& visitor) const override { visitor.visit(*this); }

    bool isEqual(const IProperty& other) const override {
        if (!IAnimatedProperty::isEqual(other)) return false;
        const auto& o = static_cast<const AnimatedProperty&>(other);
        if (keys_.size() != o.keys_.size()) return false;
        for (std::size_t i = 0; i < keys_.size(); ++i) {
            if (!nearlyEqual(keys_[i].time, o.keys_[i].time)) return false;
            if (!detail::componentsEqual(keys_[i].value, o.keys_[i].value)) return false;
        }
        return true;
    }
    using IProperty::isEqual;

private:
    std::vector<Key> keys_;
};

}  // namespace model
