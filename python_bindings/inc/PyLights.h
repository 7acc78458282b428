#pragma once
// Wrappers of real light sources for Python: OmniLight and SpotLight.
//
// Both hold one counted reference to a model::LightNode made through the
// class registry and named by the constructor; an omni light has kind 0, a
// spot light kind 1. The light operations are those of their common base,
// Light. Each setter shares (never copies) the property object that the
// Python property holds at the time of the call: one object may serve
// several lights, and a later set()/setAnim() on the Python property leaves
// every light with what it took. Parameters never set keep the light node's
// own defaults.

#include <string>

#include "PyProperties.h"
#include "PySceneNodes.h"
#include "nodes/LightNode.h"

namespace pytav {

class Light {
public:
    virtual ~Light();

    Light(const Light&) = delete;
    Light& operator=(const Light&) = delete;

    void setColor(const PropertyFloat3& color);
    void setBrightness(const PropertyFloat& brightness);
    void setDistance(const PropertyFloat& distance);
    void setSpecularAmount(const PropertyFloat& amount);
    void setSoftness(const PropertyFloat& softness);
    void setPhi(const PropertyFloat& phi);
    void setTheta(const PropertyFloat& theta);
    // phi := a; theta := p - p * f, with p the value of a at argument
    // position 0 and f the value of b: static when b is static, else on b's
    // argument with one key per key of b (sorted, reduced within 0.001).
    // When p - p*f leaves the float range, raises std::invalid_argument
    // (ValueError) "Cone angle from setAngles holds a value that is not
    // finite." and keeps phi and theta as they were.
    void setAngles(const PropertyFloat& a, const PropertyFloat& b);
    // The light hangs below node's tree node.
    void setControlNode(const Node& node);

    const model::Ptr<model::LightNode>& getModelNode() const noexcept { return light_; }

protected:
    Light(const std::string& name, std::uint32_t kind);

private:
    model::Ptr<model::LightNode> light_;
};

class OmniLight : public Light {
public:
    explicit OmniLight(const std::string& name);
};

class SpotLight : public Light {
public:
    explicit SpotLight(const std::string& name);
};

}  // namespace pytav
