#pragma once
// Wrappers of fake lights for Python: light sprites drawn by one render node.
//
//  Python class           native class                     model node class
//  FakeOmniLight          FakeOmniLights::Light            (a light value)
//  FakeOmniLights         FakeOmniLights                   "model::FakeOmniLightsNode"
//  AnimatedFakeOmniLight  AnimatedFakeOmniLights           "model::AnimatedFakeOmniLightsNode"
//  FakeSpotLight          FakeSpotLight                    (a light value)
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

// A light value of either kind (FakeOmniLight, and FakeSpotLight with its
// back side).
template <class ModelLight>
class FakeLight {
public:
    void setPos(const std::tuple<float, float, float>& position);
    void setUV(const PyUV& start, const PyUV& end);
    void setSize(float size);

    const ModelLight& get() const noexcept { return light_; }

protected:
    ModelLight light_;
};

class FakeSpotLight : public FakeLight<model::FakeSpotLight> {
public:
    void setBackUV(const PyUV& start, const PyUV& end);
    void setBackSide(bool backSide);
};

// The size uniforms of each kind, made in material order at construction.
struct FakeOmniUniforms {
    explicit FakeOmniUniforms(model::PropertiesSet& material);
    void setMinSizeInPixels(float value);
    void setMaxDistance(float value);

    model::Ptr<model::Vec3fProperty> sizeFactors;
};

struct FakeSpotUniforms {
    explicit FakeSpotUniforms(model::PropertiesSet& material);
    void setMinSizeInPixels(float value) { minSizeInPixels->setValue(value); }
    void setMaxDistance(float value) { maxDistance->setValue(value); }

    model::Ptr<model::FloatProperty> minSizeInPixels;
    model::Ptr<model::FloatProperty> maxDistance;
    model::Ptr<model::Vec3fProperty> coneSetup;
};

// What a light kind fixes: its light value, model nodes and size uniforms,
// and the names of its node classes and materials.
struct FakeLightNames {
    const char* nodeClass;
    const char* material;
    const char* animatedNodeClass;
    const char* animatedMaterial;
};

template <class LightT, class Node, class AnimatedNode, class UniformsT>
struct FakeLightKind {
    using Light = LightT;
    using ModelNode = Node;
    using AnimatedModelNode = AnimatedNode;
    using Uniforms = UniformsT;
};

struct FakeOmniKind : FakeLightKind<FakeLight<model::FakeOmniLight>, model::FakeOmniLightsNode,
                                    model::AnimatedFakeOmniLightsNode, FakeOmniUniforms> {
    static constexpr FakeLightNames names{"model::FakeOmniLightsNode", "fake_omni_lights2",
                                          "model::AnimatedFakeOmniLightsNode", "animated_fake_omni_lights2"};
};

struct FakeSpotKind : FakeLightKind<FakeSpotLight, model::FakeSpotLightsNode, model::AnimatedFakeSpotLightsNode,
                                    FakeSpotUniforms> {
    static constexpr FakeLightNames names{"model::FakeSpotLightsNode", "fake_spot_lights2",
                                          "model::AnimatedFakeSpotLightsNode", "animated_fake_spot_lights2"};
};

// A light set of one kind (FakeOmniLights, FakeSpotLights).
template <class Kind>
class FakeLights : public IRenderNode {
public:
    using Light = typename Kind::Light;

    explicit FakeLights(const std::string& name) : FakeLights(name, Kind::names.nodeClass, Kind::names.material) {}
    ~FakeLights() override;

    void set(const std::vector<Light>& lights);
    void setTexture(const std::string& file);
    void setMinSizeInPixels(float value) { uniforms_.setMinSizeInPixels(value); }
    void setMaxDistance(float value) { uniforms_.setMaxDistance(value); }
    void setLuminance(const PropertyFloat& luminance);
    void setShiftToCamera(float value) { shiftToCamera_->setValue(value); }
    void setControlNode(const Node& node);

    std::string build() override;
    model::Ptr<model::BaseRenderNode> getModelNode() const override;
    std::string getNodeName() const override { return node_->getName(); }

protected:
    FakeLights(const std::string& name, const char* nodeClass, const char* materialName);

    typename Kind::ModelNode& node() const noexcept { return *node_; }
    model::PropertiesSet& material() const noexcept { return *material_; }
    typename Kind::Uniforms& uniforms() noexcept { return uniforms_; }

private:
    model::Ptr<typename Kind::ModelNode> node_;
    model::Ptr<model::PropertiesSet> material_;
    model::Ptr<model::FloatProperty> shiftToCamera_;
    typename Kind::Uniforms uniforms_;
    bool built_ = false;
};

using FakeOmniLights = FakeLights<FakeOmniKind>;

class FakeSpotLights : public FakeLights<FakeSpotKind> {
public:
    using FakeLights::FakeLights;

    void setConeSetup(const std::tuple<float, float, float>& cone);
    void setDirection(const std::tuple<float, float, float>& direction);
};

// The animated set of a kind, over the plain set Set of that kind.
template <class Kind, class Set>
class AnimatedFakeLights : public Set {
public:
    explicit AnimatedFakeLights(const std::string& name);
    ~AnimatedFakeLights() override;

    void setAnimationArg(float value);
    void setLightsAnimation(const PyLightsAnimation& entries);

private:
    typename Kind::AnimatedModelNode& animatedNode() const noexcept;

    model::Ptr<model::FloatProperty> arg_;
};

using AnimatedFakeOmniLights = AnimatedFakeLights<FakeOmniKind, FakeOmniLights>;
using AnimatedFakeSpotLights = AnimatedFakeLights<FakeSpotKind, FakeSpotLights>;

}  // namespace pytav
