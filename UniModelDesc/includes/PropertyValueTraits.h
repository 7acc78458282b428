#pragma once
// Per-value-type facts of the property classes: registered names, kind tags,
// value type codes, diagnostic text and tolerant comparison.
// Used by StaticProperty.h and AnimatedProperty.h only.

#include <cstdint>
#include <string>

#include <osg/Vec2f>
#include <osg/Vec3f>
#include <osg/Vec4f>

#include "IProperty.h"

namespace model::detail {

std::string formatFloat(float v);         // "%f"
std::string formatDouble(double v);       // "%f"
std::string formatUInt(std::uint32_t v);  // "%u"
std::string formatVector(const float* v, int n);  // "vecN(" components "," ")"

// Float values and float vectors: components as a plain float array.
template <class V>
struct FloatComponents;
template <>
struct FloatComponents<float> {
    static constexpr int count = 1;
    static float* of(float& v) { return &v; }
    static const float* of(const float& v) { return &v; }
};
template <class V>
struct OsgVecComponents {
    static constexpr int count = V::num_components;
    static float* of(V& v) { return v.ptr(); }
    static const float* of(const V& v) { return v.ptr(); }
};
template <>
struct FloatComponents<osg::Vec2f> : OsgVecComponents<osg::Vec2f> {};
template <>
struct FloatComponents<osg::Vec3f> : OsgVecComponents<osg::Vec3f> {};
template <>
struct FloatComponents<osg::Vec4f> : OsgVecComponents<osg::Vec4f> {};

template <class V>
bool componentsEqual(const V& a, const V& b) {
    using C = FloatComponents<V>;
    for (int i = 0; i < C::count; ++i)
        if (!nearlyEqual(C::of(a)[i], C::of(b)[i])) return false;
    return true;
}

template <class V>
std::string formatComponents(const V& v) {
    using C = FloatComponents<V>;
    if constexpr (C::count == 1) return formatFloat(v);
    else return formatVector(C::of(v), C::count);
}

// Static property values.
template <class V>
struct StaticTraits;

template <class V>
struct FloatStaticTraits {
    static std::string format(const V& v) { return formatComponents(v); }
    static bool equal(const V& a, const V& b) { return componentsEqual(a, b); }
    static V initial() {
        V v;
        using C = FloatComponents<V>;
        for (int i = 0; i < C::count; ++i) C::of(v)[i] = 0.0f;
        return v;
    }
};

template <>
struct StaticTraits<float> : FloatStaticTraits<float> {
    static constexpr const char* className = "model::Property<float>";
    static constexpr std::uint32_t kindTag = makeKindTag("FLT1");
    static constexpr std::uint32_t valueType = 0;
};
template <>
struct StaticTraits<osg::Vec2f> : FloatStaticTraits<osg::Vec2f> {
    static constexpr const char* className = "model::Property<osg::Vec2f>";
    static constexpr std::uint32_t kindTag = makeKindTag("FLT2");
    static constexpr std::uint32_t valueType = 2;
};
template <>
struct StaticTraits<osg::Vec3f> : FloatStaticTraits<osg::Vec3f> {
    static constexpr const char* className = "model::Property<osg::Vec3f>";
    static constexpr std::uint32_t kindTag = makeKindTag("FLT3");
    static constexpr std::uint32_t valueType = 3;
};
template <>
struct StaticTraits<osg::Vec4f> : FloatStaticTraits<osg::Vec4f> {
    static constexpr const char* className = "model::Property<osg::Vec4f>";
    static constexpr std::uint32_t kindTag = makeKindTag("FLT4");
    static constexpr std::uint32_t valueType = 4;
};
template <>
struct StaticTraits<std::uint32_t> {
    static constexpr const char* className = "model::Property<unsigned int>";
    static constexpr std::uint32_t kindTag = makeKindTag("INT1");
    static constexpr std::uint32_t valueType = 1;
    static std::string format(std::uint32_t v) { return formatUInt(v); }
    static bool equal(std::uint32_t a, std::uint32_t b) { return a == b; }
    static std::uint32_t initial() { return 0; }
};
template <>
struct StaticTraits<std::string> {
    static constexpr const char* className = "model::Property<const char*>";
    static constexpr std::uint32_t kindTag = makeKindTag("STRG");
    static constexpr std::uint32_t valueType = 6;
    static std::string format(const std::string& v) { return v; }
    static bool equal(const std::string& a, const std::string& b) { return a == b; }
    static std::string initial() { return std::string(); }
};

// Animated property values (float and float vectors only).
template <class V>
struct AnimatedTraits;
template <>
struct AnimatedTraits<float> {
    static constexpr const char* className = "model::AnimatedProperty<float>";
    static constexpr std::uint32_t kindTag = makeKindTag("AFL1");
    static constexpr std::uint32_t valueType = 0;
};
template <>
struct AnimatedTraits<osg::Vec2f> {
    static constexpr const char* className = "model::AnimatedProperty<osg::Vec2f>";
    static constexpr std::uint32_t kindTag = makeKindTag("AFL2");
    static constexpr std::uint32_t valueType = 2;
};
template <>
struct AnimatedTraits<osg::Vec3f> {
    static constexpr const char* className = "model::AnimatedProperty<osg::Vec3f>";
    static constexpr std::uint32_t kindTag = makeKindTag("AFL3");
    static constexpr std::uint32_t valueType = 3;
};
template <>
struct AnimatedTraits<osg::Vec4f> {
    static constexpr const char* className = "model::AnimatedProperty<osg::Vec4f>";
    static constexpr std::uint32_t kindTag = makeKindTag("AFL4");
    static constexpr std::uint32_t valueType = 4;
};

}  // namespace model::detail
