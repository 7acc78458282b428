#pragma once
// model::LightNode: a real light source under one tree node. Version 2.
//
// Contract:
//  - One parent link (null for a new light): getNumParents() is 1;
//    getParent/setParent take index 0 only (std::out_of_range otherwise).
//  - getLightKind(): 0 omni, 1 spot (files store its low byte).
//  - Seven parameters, each a shared property, in this stored order: "color"
//    (a 3-float property, (0, 0, 0)), "brightness", "phi", "theta",
//    "distance", "specularAmount" (1) and "softness" (float properties, 0
//    unless noted). A new light makes its own through the class registry;
//    the setters share the property given (static or argument-driven) and
//    refuse null with qz::ExtException. Copies share them too.
//  - forEachArgument(): the node's properties, then the seven parameters, for
//    those that are argument-driven with an argument set.
//  - getTexture(): the light's texture record; the writers store it only
//    when its file name is set (empty for a new light).
//  - getDistance(): the light's reach, the "distance" value, or for an
//    animated distance its largest key value; 0 when it has none.
//  - transformGeometry() accepts nothing. getType() 8, visitor slot
//    LightNode.

#include <array>
#include <cstdint>

#include "BaseNode.h"
#include "Node.h"
#include "Texture.h"

namespace model {

class LightNode : public BaseNode {
public:
    enum Parameter : std::size_t {
        Color = 0,
        Brightness,
        Phi,
        Theta,
        Distance,
        SpecularAmount,
        Softness,
        ParameterCount,
    };
    using Parameters = std::array<PropertyPtr, ParameterCount>;

    LightNode();
    LightNode(const LightNode& other);
    ~LightNode() override;

    std::size_t getNumParents() const override { return 1; }
    Ptr<Node> getParent(std::size_t index) const override;
    void setParent(std::size_t index, const Ptr<Node>& node) override;

    std::uint32_t getLightKind() const noexcept { return kind_; }
    void setLightKind(std::uint32_t kind) noexcept { kind_ = kind; }

    // The seven parameters in stored order.
    const Parameters& getParameters() const noexcept { return parameters_; }
    const PropertyPtr& getParameter(Parameter which) const { return parameters_.at(which); }
    void setParameter(Parameter which, const PropertyPtr& property);

    const PropertyPtr& getColor() const noexcept { return parameters_[Color]; }
    void setColor(const PropertyPtr& p) { setParameter(Color, p); }
    const PropertyPtr& getBrightness() const noexcept { return parameters_[Brightness]; }
    void setBrightness(const PropertyPtr& p) { setParameter(Brightness, p); }
    const PropertyPtr& getPhi() const noexcept { return parameters_[Phi]; }
    void setPhi(const PropertyPtr& p) { setParameter(Phi, p); }
    const PropertyPtr& getTheta() const noexcept { return parameters_[Theta]; }
    void setTheta(const PropertyPtr& p) { setParameter(Theta, p); }
    const PropertyPtr& getDistanceProperty() const noexcept { return parameters_[Distance]; }
    void setDistance(const PropertyPtr& p) { setParameter(Distance, p); }
    const PropertyPtr& getSpecularAmount() const noexcept { return parameters_[SpecularAmount]; }
    void setSpecularAmount(const PropertyPtr& p) { setParameter(SpecularAmount, p); }
    const PropertyPtr& getSoftness() const noexcept { return parameters_[Softness]; }
    void setSoftness(const PropertyPtr& p) { setParameter(Softness, p); }

    const Texture& getTexture() const noexcept { return texture_; }
    void setTexture(const Texture& texture) { texture_ = texture; }

    float getDistance() const;

    void forEachArgument(const ArgumentCallback& callback) const override;

    NodeType getType() const override { return NodeType::LightNode; }
    void accept(INodeVisitor& visitor) override;
    void accept(INodeVisitor& visitor) const override;

private:
    Ptr<Node> parent_;
    std::uint32_t kind_ = 0;
    Parameters parameters_;
    Texture texture_;
};

}  // namespace model
