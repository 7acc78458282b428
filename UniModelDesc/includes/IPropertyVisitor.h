#pragma once
// model::IPropertyVisitor: double dispatch over the property classes.
//
// Contract: a property's accept(visitor) calls exactly one visit, the one of
// the property's own class, passing the property. The order of the
// operations is fixed.

#include <cstdint>
#include <string>

namespace osg {
class Vec2f;
class Vec3f;
class Vec4f;
}  // namespace osg

namespace model {

template <class V>
class StaticProperty;
template <class V>
class AnimatedProperty;
class ArgumentProperty;

using FloatProperty = StaticProperty<float>;
using UIntProperty = StaticProperty<std::uint32_t>;
using Vec2fProperty = StaticProperty<osg::Vec2f>;
using Vec3fProperty = StaticProperty<osg::Vec3f>;
using Vec4fProperty = StaticProperty<osg::Vec4f>;
using StringProperty = StaticProperty<std::string>;
using AnimatedFloatProperty = AnimatedProperty<float>;
using AnimatedVec2fProperty = AnimatedProperty<osg::Vec2f>;
using AnimatedVec3fProperty = AnimatedProperty<osg::Vec3f>;
using AnimatedVec4fProperty = AnimatedProperty<osg::Vec4f>;

class IPropertyVisitor {
public:
    virtual ~IPropertyVisitor() = default;
    virtual void visit(const AnimatedVec4fProperty& property) = 0;
    virtual void visit(const AnimatedVec3fProperty& property) = 0;
    virtual void visit(const AnimatedVec2fProperty& property) = 0;
    virtual void visit(const AnimatedFloatProperty& property) = 0;
    virtual void visit(const ArgumentProperty& property) = 0;
    virtual void visit(const StringProperty& property) = 0;
    virtual void visit(const Vec4fProperty& property) = 0;
    virtual void visit(const Vec3fProperty& property) = 0;
    virtual void visit(const Vec2fProperty& property) = 0;
    virtual void visit(const UIntProperty& property) = 0;
    virtual void visit(const FloatProperty& property) = 0;
};

}  // namespace model
