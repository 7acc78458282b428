#include "IProperty.h"

#include <algorithm>
#include <cfloat>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "AnimatedProperty.h"
#include "PropertyValueTraits.h"

namespace model {

bool nearlyEqual(float a, float b) noexcept {
    const float slack = FLT_EPSILON * std::max(std::fabs(a), std::fabs(b));
    return std::fabs(a - b) <= 1e-5f + slack;
}

bool nearlyEqual(double a, double b) noexcept {
    const double slack = DBL_EPSILON * std::max(std::fabs(a), std::fabs(b));
    return std::fabs(a - b) <= 1e-5 + slack;
}

bool IProperty::sameClassAndName(const IProperty& other) const {
    return name_ == other.name_ && std::strcmp(getClassName(), other.getClassName()) == 0;
}

bool IAnimatedProperty::isEqual(const IProperty& other) const {
    return sameClassAndName(other) &&
           static_cast<const IAnimatedProperty&>(other).argument_ == argument_;
}

std::string ArgumentProperty::toString() const {
    return getName() + " = argument(" + detail::formatUInt(getArgument()) + ");";
}

PropertyPtr findProperty(const PropertyList& list, std::string_view name) {
    for (const PropertyPtr& p : list)
        if (p && p->getName() == name) return p;
    return PropertyPtr();
}

void addOrReplaceProperty(PropertyList& list, const PropertyPtr& property) {
    if (!property) return;
    for (PropertyPtr& p : list)
        if (p && p->getName() == property->getName()) {
            p = property;
            return;
        }
    list.push_back(property);
}

void forEachPropertyArgument(const PropertyList& list, const ArgumentCallback& callback) {
    for (const PropertyPtr& p : list) {
        // Only IAnimatedProperty answers true, so the cheaper virtual call
        // stands in for a dynamic_cast on every property of every node.
        if (!p || !p->isAnimated()) continue;
        const auto& animated = static_cast<const IAnimatedProperty&>(*p);
        if (animated.getArgument() != kNoArgument) callback(animated.getArgument());
    }
}

namespace detail {

std::string formatFloat(float v) { return formatDouble(v); }

std::string formatDouble(double v) {
    char buf[512];
    std::snprintf(buf, sizeof buf, "%f", v);
    return buf;
}

std::string formatUInt(std::uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%" PRIu32, v);
    return buf;
}

std::string formatVector(const float* v, int n) {
    std::string s = "vec" + std::to_string(n) + "(";
    for (int i = 0; i < n; ++i) {
        if (i) s += ",";
        s += formatFloat(v[i]);
    }
    return s + ")";
}

}  // namespace detail

}  // namespace model
