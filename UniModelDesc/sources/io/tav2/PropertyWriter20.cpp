#include "io/tav2/PropertyWriter20.h"

#include <fmt/format.h>

#include "AnimatedProperty.h"
#include "StaticProperty.h"
#include "io/tav2/ClassWriter20.h"
#include "io/tav2/DataPool20.h"
#include "qz/ExtException.h"

namespace model {

void PropertyWriter20::writeBlock(const PropertyList& list, const std::string& ownerName) {
    for (const PropertyPtr& property : list)
        if (!property) QZ_THROW(fmt::format("Null property in node '{}'.", ownerName));
    sink.writeU32(ClassWriter20::count32(list.size(), "properties"));
    for (const PropertyPtr& property : list) property->accept(*this);
}

void PropertyWriter20::writeHeader(const IProperty& property) {
    sink.writeU32(property.getKindTag());
    sink.writeU32(pool.addString(property.getName()));
}

template <class V>
void PropertyWriter20::writeStatic(const StaticProperty<V>& property) {
    writeHeader(property);
    using Components = detail::FloatComponents<V>;
    for (int i = 0; i < Components::count; ++i)
        sink.writeFloat(Components::of(property.getValue())[i]);
}

template <class V>
void PropertyWriter20::writeAnimated(const AnimatedProperty<V>& property) {
    writeHeader(property);
    using Components = detail::FloatComponents<V>;
    const auto& keys = property.getKeys();
    sink.writeU32(property.getArgument());
    sink.writeU32(ClassWriter20::count32(keys.size(), "keys"));
    sink.writeU32(pool.size());
    for (const auto& key : keys) pool.writeFloat(static_cast<float>(key.time));
    sink.writeU32(pool.size());
    for (const auto& key : keys)
        for (int i = 0; i < Components::count; ++i) pool.writeFloat(Components::of(key.value)[i]);
}

void PropertyWriter20::visit(const AnimatedVec4fProperty& property) { writeAnimated(property); }
void PropertyWriter20::visit(const AnimatedVec3fProperty& property) { writeAnimated(property); }
void PropertyWriter20::visit(const AnimatedVec2fProperty& property) { writeAnimated(property); }
void PropertyWriter20::visit(const AnimatedFloatProperty& property) { writeAnimated(property); }

void PropertyWriter20::visit(const ArgumentProperty& property) {
    writeHeader(property);
    sink.writeU32(property.getArgument());
}

void PropertyWriter20::visit(const StringProperty& property) {
    writeHeader(property);
    sink.writeU32(pool.addString(property.getValue()));
}

void PropertyWriter20::visit(const Vec4fProperty& property) { writeStatic(property); }
void PropertyWriter20::visit(const Vec3fProperty& property) { writeStatic(property); }
void PropertyWriter20::visit(const Vec2fProperty& property) { writeStatic(property); }

void PropertyWriter20::visit(const UIntProperty& property) {
    writeHeader(property);
    sink.writeU32(property.getValue());
}

void PropertyWriter20::visit(const FloatProperty& property) { writeStatic(property); }

}  // namespace model
