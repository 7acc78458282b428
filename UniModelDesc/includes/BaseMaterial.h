#pragma once
// model::BaseMaterial: the shared part of a render node's material.
//
// Materials are made directly (not through the class registry, and not
// counted in its live list) and shared by model::Ptr between render nodes.
// Contract:
//  - addUniform(p): p replaces, in its position, the uniform of the same
//    name (byte comparison) if there is one, else it is appended; null is
//    ignored. The property object itself is kept (not copied): later changes
//    to it are seen by the material.
//  - forEachArgument(callback): callback(argument) for every argument-driven
//    uniform whose argument is set, in list order.
//  - isEqual: the content comparison used to merge equal materials (see the
//    derived class for the full order). Uniforms compare as sets.
//  - copy(): a new material with every field copied; its uniform list holds
//    new references to the same property objects.

#include <cstdint>
#include <string>

#include "IProperty.h"
#include "qz/Shared.h"

namespace model {

class BaseMaterial : public qz::Shared {
public:
    ~BaseMaterial() override = default;

    const std::string& getName() const noexcept { return name_; }
    void setName(std::string name) { name_ = std::move(name); }

    std::uint32_t getBlending() const noexcept { return blending_; }
    void setBlending(std::uint32_t blending) noexcept { blending_ = blending; }

    const PropertyList& getUniforms() const noexcept { return uniforms_; }
    void addUniform(const PropertyPtr& property) { addOrReplaceProperty(uniforms_, property); }

    void forEachArgument(const ArgumentCallback& callback) const {
        forEachPropertyArgument(uniforms_, callback);
    }

    // Name, blending and uniforms (as sets).
    virtual bool isEqual(const BaseMaterial& other) const;
    virtual Ptr<BaseMaterial> copy() const = 0;

protected:
    BaseMaterial() = default;
    BaseMaterial(const BaseMaterial&) = default;

    // Same length, and every uniform of this one has an equal partner there.
    bool uniformsEqual(const BaseMaterial& other) const;

private:
    std::string name_;
    std::uint32_t blending_ = 0;
    PropertyList uniforms_;
};

}  // namespace model
