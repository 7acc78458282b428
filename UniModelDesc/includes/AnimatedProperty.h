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
// key by key times and value components within nearlyEqual. Value part
// written after class name and name: ArgumentProperty its argument twice (and
// reads it twice); animated ones u32 argument, u32 key count, then per key
// f64 time and the f32 components.

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
    void readFrom(io::IBinaryFileR& reader) override;
    void writeTo(io::IBinaryFileW& writer) const override;
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

    void readFrom(io::IBinaryFileR& reader) override {
        IAnimatedProperty::readFrom(reader);
        const std::uint32_t count = reader.readU32();
        std::vector<Key> keys;
        // The count comes from outside: grow as keys actually arrive instead
        // of trusting it for one allocation.
        for (std::uint32_t i = 0; i < count; ++i) {
            Key k;
            k.time = reader.readDouble();
            detail::readComponents(reader, k.value);
            keys.push_back(k);
        }
        keys_ = std::move(keys);
    }

    void writeTo(io::IBinaryFileW& writer) const override {
        IAnimatedProperty::writeTo(writer);
        writer.writeU32(static_cast<std::uint32_t>(keys_.size()));
        for (const Key& k : keys_) {
            writer.writeDouble(k.time);
            detail::writeComponents(writer, k.value);
        }
    }

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
