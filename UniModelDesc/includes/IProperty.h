#pragma once
// model::IProperty and its two abstract branches: the named, typed values of
// the model library (node properties and material uniforms).
//
// Contract:
//  - Properties are made only through the class registry, which names them
//    "UnNamed"; static ones hold one value, argument-driven ones
//    (IAnimatedProperty) an argument number (kNoArgument when made) and, for
//    most kinds, a list of keys over it.
//  - valueType and kindTag are class constants (the kind tag's four letters
//    are the bytes of the u32 in memory order, as files store it).
//  - Their bytes in a file are the writers' business (for format 10,
//    io/10/PrimitiveWriter10.h); a writer reaches each class through accept.
//  - isEqual never fails: properties of different classes or names differ;
//    values compare with the tolerance of propertyValuesEqual below.
//
// Also here: the property list that nodes and materials hold, and the helpers
// that keep its names unique and report its argument numbers.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "IModelArguments.h"
#include "IObject.h"

namespace model {

class IPropertyVisitor;

// The kind tag "ABCD" as stored: 'A' in the lowest byte.
constexpr std::uint32_t makeKindTag(const char (&tag)[5]) noexcept {
    return std::uint32_t(std::uint8_t(tag[0])) | std::uint32_t(std::uint8_t(tag[1])) << 8 |
           std::uint32_t(std::uint8_t(tag[2])) << 16 | std::uint32_t(std::uint8_t(tag[3])) << 24;
}

// Value comparison of properties and texture matrices: equal when they differ
// by at most 1e-5. Decimal inputs such as 1.00001 are not exact in binary, so
// the bound is widened by one rounding step of the larger magnitude: values
// written 1e-5 apart compare equal, values 1e-4 apart do not.
bool nearlyEqual(float a, float b) noexcept;
bool nearlyEqual(double a, double b) noexcept;

class IProperty : public IObject {
public:
    ~IProperty() override = default;

    // The registered class name, e.g. "model::Property<float>".
    virtual const char* getClassName() const = 0;
    virtual bool isAnimated() const = 0;
    // One line for diagnostics: name, " = ", the value, ";".
    virtual std::string toString() const = 0;
    virtual void accept(IPropertyVisitor& visitor) const = 0;
    virtual bool isEqual(const IProperty& other) const = 0;

    // False for a null other.
    bool isEqual(const Ptr<IProperty>& other) const { return other && isEqual(*other); }

    const std::string& getName() const noexcept { return name_; }
    void setName(std::string name) { name_ = std::move(name); }
    std::uint32_t getValueType() const noexcept { return valueType_; }
    std::uint32_t getKindTag() const noexcept { return kindTag_; }

protected:
    IProperty(std::uint32_t valueType, std::uint32_t kindTag) noexcept
        : valueType_(valueType), kindTag_(kindTag) {}
    IProperty(const IProperty&) = default;

    // Same class name and byte-equal names.
    bool sameClassAndName(const IProperty& other) const;

private:
    std::uint32_t valueType_;
    std::uint32_t kindTag_;
    std::string name_ = "UnNamed";
};

class IStaticProperty : public IProperty {
public:
    bool isAnimated() const override { return false; }

protected:
    using IProperty::IProperty;
};

class IAnimatedProperty : public IProperty {
public:
    bool isAnimated() const override { return true; }
    // Same class, name and argument.
    bool isEqual(const IProperty& other) const override;
    using IProperty::isEqual;

    std::uint32_t getArgument() const noexcept { return argument_; }
    void setArgument(std::uint32_t argument) noexcept { argument_ = argument; }

protected:
    using IProperty::IProperty;

private:
    std::uint32_t argument_ = kNoArgument;
};

using PropertyPtr = Ptr<IProperty>;
using PropertyList = std::vector<PropertyPtr>;
using ArgumentCallback = std::function<void(std::uint32_t argument)>;

// The first property named name, or null.
PropertyPtr findProperty(const PropertyList& list, std::string_view name);

// Puts property into list: it replaces, in its position, the property of the
// same name if there is one, else it is appended. Null is ignored.
void addOrReplaceProperty(PropertyList& list, const PropertyPtr& property);

// Calls callback with the argument of every argument-driven property whose
// argument is set (not kNoArgument), in list order.
void forEachPropertyArgument(const PropertyList& list, const ArgumentCallback& callback);

}  // namespace model
