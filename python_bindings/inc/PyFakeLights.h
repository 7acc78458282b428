#pragma once
// Wrappers of fake lights for Python: light sprites drawn by one render node.
//
//  Python class           native class                     model node class
//  FakeOmniLight          FakeOmniLights::FakeOmniLight    (a light value)
//  FakeOmniLights         FakeOmniLights                   "model::FakeOmniLightsNode"
//  AnimatedFakeOmniLight  AnimatedFakeOmniLights           "model::AnimatedFakeOmniLightsNode"
//  FakeSpotLight          FakeSpotLights::FakeSpotLight    (a light value)
//  FakeSpotLights         FakeSpotLights                   "model::FakeSpotLightsNode"
//  AnimatedFakeSpotLight  AnimatedFakeSpotLights           "model::AnimatedFakeSpotLightsNode"
//
// Light values: position (stored as doubles from 32-bit values), texture
// rectangle (each corner (u, v) stored as (u, 1 - v)), size; spot lights add
// a back-side rectangle (stored the same way) and a back-side flag.
//
// Light sets make their model node (named by the constructor) and a material
// (a PropertiesSet with the family's material name and an empty name) at
// construction, together with the uniforms below, and change them as the
// setters are called:
//   omni:  "shiftToCamera" 0, "sizeFactors" (20, 1000, 0), "luminance" 1
//   spot:  "shiftToCamera" 0, "minSizeInPixels" 20, "maxDistance" 1000,
//          "coneSetup" (1, 0.8, 0.05), "luminance" 1
//   animated forms add "arg" -1.
// setLuminance() renames the given property object "luminance" (the script's
// object itself) and puts it in place of the previous one.
//
// build() returns "Control node isn't set." until setControlNode() was
// called, else the empty text; getModelNode() returns the model node once a
// build succeeded.
//
// Animated sets:
//  - setAnimationArg(v): "arg" := v; the node's argument := v truncated
//    toward zero, none (0xFFFFFFFF) when that is negative. A NaN or a value of
//    2^32 - 1 or more raises std::invalid_argument (ValueError).
//  - setLightsAnimation(entries): appends brightness curves after those of
//    earlier calls. Entry k of a call is used while its light index is k (the
//    first other index ends the list);
//    its keys (argument value, brightness) are sorted, reduced within 0.001
//    and sampled at i/127 for i = 0..127 (clamped at both ends, linear in
//    between); a light without keys samples to 128 zeros. A NaN key time
//    raises std::invalid_argument and changes nothing.

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "PyProperties.h"
#include "PyRenderNode.h"
#include "PySceneNodes.h"
#include "PropertiesSet.h"
#include "StaticProperty.h"
#include "nodes/FakeOmniLightsNode.h"
#include "nodes/FakeSpotLightsNode.h"

namespace pytav {

using PyUV = std::tuple<float, float>;
// (light index, [(argument value, brightness)])
using PyLightsAnimation = std::vector<std::tuple<std::uint32_t, std::vector<std::tuple<double, float>>>>;

// The 128 brightness samples per used entry, light by light (see above).
std::vector<float> sampleLightsAnimation(const PyLightsAnimation& entries);

// The node argument for an "arg" value (see setAnimationArg above).
std::uint32_t toLightsArgument(float value);

class FakeOmniLights : public IRenderNode {
public:
    class FakeOmniLight {
    public:
        void setPos(const std::tuple<float, float, float>& position);
        void setUV(const PyUV& start, const PyUV& end);
        void setSize(float size);

        const model::FakeOmniLight& get() const noexcept { return light_; }

    private:
        model::FakeOmniLight light_;
    };

    explicit FakeOmniLights(const std::string& name);
    ~FakeOmniLights() override;

    void set(const std::vector<FakeOmniLight>& lights);
    void setTexture(const std::string& file);
    void setMinSizeInPixels(float value);
    void setMaxDistance(float value);
    void setLuminance(const PropertyFloat& luminance);
    void setShiftToCamera(float value);
    void setControlNode(const Node& node);

    std::string build() override;
    model::Ptr<model::BaseRenderNode> getModelNode() const override;
    std::string getNodeName() const override { return node_->getName(); }

protected:
    FakeOmniLights(const std::string& name, const char* nodeClass, const char* materialName);

    model::FakeOmniLightsNode& node() const noexcept { return *node_; }
    model::PropertiesSet& material() const noexcept { return *material_; }

private:
    model::Ptr<model::FakeOmniLightsNode> node_;
    model::Ptr<model::PropertiesSet> material_;
    model::Ptr<model::FloatProperty> shiftToCamera_;
    model::Ptr<model::Vec3fProperty> sizeFactors_;
    bool built_ = false;
};

class AnimatedFakeOmniLights : public FakeOmniLights {
public:
    explicit AnimatedFakeOmniLights(const std::string& name);
    ~AnimatedFakeOmniLights() override;

    void setAnimationArg(float value);
    void setLightsAnimation(const PyLightsAnimation& entries);

private:
    model::AnimatedFakeOmniLightsNode& animatedNode() const noexcept;

    model::Ptr<model::FloatProperty> arg_;
};

class FakeSpotLights : public IRenderNode {
public:
    class FakeSpotLight {
    public:
        void setPos(const std::tuple<float, float, float>& position);
        void setUV(const PyUV& start, const PyUV& end);
        void setSize(float size);
        void setBackUV(const PyUV& start, const PyUV& end);
        void setBackSide(bool backSide);

        const model::FakeSpotLight& get() const noexcept { return light_; }

    private:
        model::FakeSpotLight light_;
    };

    explicit FakeSpotLights(const std::string& name);
    ~FakeSpotLights() override;

    void set(const std::vector<FakeSpotLight>& lights);
    void setTexture(const std::string& file);
    void setMinSizeInPixels(float value);
    void setMaxDistance(float value);
    void setLuminance(const PropertyFloat& luminance);
    void setShiftToCamera(float value);
    void setConeSetup(const std::tuple<float, float, float>& cone);
    void setDirection(const std::tuple<float, float, float>& direction);
    void setControlNode(const Node& node);

    std::string build() override;
    model::Ptr<model::BaseRenderNode> getModelNode() const override;
    std::string getNodeName() const override { return node_->getName(); }

protected:
    FakeSpotLights(const std::string& name, const char* nodeClass, const char* materialName);

    model::FakeSpotLightsNode& node() const noexcept { return *node_; }
    model::PropertiesSet& material() const noexcept { return *material_; }

private:
    model::Ptr<model::FakeSpotLightsNode> node_;
    model::Ptr<model::PropertiesSet> material_;
    model::Ptr<model::FloatProperty> shiftToCamera_;
    model::Ptr<model::FloatProperty> minSizeInPixels_;
    model::Ptr<model::FloatProperty> maxDistance_;
    model::Ptr<model::Vec3fProperty> coneSetup_;
    bool built_ = false;
};

class AnimatedFakeSpotLights : public FakeSpotLights {
public:
    explicit AnimatedFakeSpotLights(const std::string& name);
    ~AnimatedFakeSpotLights() override;

    void setAnimationArg(float value);
    void setLightsAnimation(const PyLightsAnimation& entries);

private:
    model::AnimatedFakeSpotLightsNode& animatedNode() const noexcept;

    model::Ptr<model::FloatProperty> arg_;
};

}  // namespace pytav
