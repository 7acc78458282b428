// Python classes FakeOmniLight, FakeOmniLights, AnimatedFakeOmniLight,
// FakeSpotLight, FakeSpotLights and AnimatedFakeSpotLight.

#include "PyFakeLights.h"

#include <cmath>
#include <stdexcept>

#include "ScriptTypeNames.h"

#include "Bindings.h"
#include "KeyReduction.h"
#include "ClassRegistry.h"
#include "Texture.h"

namespace py = pybind11;

namespace pytav {

namespace {

// Brightness curves are stored as model::kFakeLightSamples samples over the
// argument range [0, 1]; the game reads exactly that many per light.
constexpr std::size_t kSamplesPerLight = model::kFakeLightSamples;
constexpr float kCurveKeyTolerance = 0.001f;

// Texture rows run top-down in the game, bottom-up in the exporter.
osg::Vec2f toStoredUV(const PyUV& uv) { return osg::Vec2f(std::get<0>(uv), 1.0f - std::get<1>(uv)); }

std::array<double, 3> toPosition(const std::tuple<float, float, float>& p) {
    return {std::get<0>(p), std::get<1>(p), std::get<2>(p)};
}

model::Ptr<model::FloatProperty> makeFloatUniform(model::PropertiesSet& material, const char* name, float value) {
    auto property = model::ClassRegistry::make<model::FloatProperty>("model::Property<float>");
    property->setName(name);
    property->setValue(value);
    material.addUniform(property);
    return property;
}

model::Ptr<model::Vec3fProperty> makeVec3Uniform(model::PropertiesSet& material, const char* name,
                                                 const osg::Vec3f& value) {
    auto property = model::ClassRegistry::make<model::Vec3fProperty>("model::Property<osg::Vec3f>");
    property->setName(name);
    property->setValue(value);
    material.addUniform(property);
    return property;
}

model::Ptr<model::PropertiesSet> makeMaterial(const char* materialName) {
    model::Ptr<model::PropertiesSet> material(new model::PropertiesSet());
    material->setMaterialName(materialName);
    return material;
}

void useLuminance(model::PropertiesSet& material, const PropertyFloat& luminance) {
    const model::PropertyPtr& property = luminance.getProperty();
    property->setName("luminance");
    material.addUniform(property);
}

std::vector<float> sampleCurve(const std::vector<std::tuple<double, float>>& keys) {
    if (keys.empty()) return std::vector<float>(kSamplesPerLight, 0.0f);
    std::vector<CurveKey<1>> curve;
    curve.reserve(keys.size());
    for (const auto& [time, value] : keys) curve.push_back({time, {value}});
    sortAndReduceLinear(curve, kCurveKeyTolerance);
    std::vector<float> samples;
    samples.reserve(kSamplesPerLight);
    for (std::size_t i = 0; i < kSamplesPerLight; ++i) {
        const double t = static_cast<double>(i) / static_cast<double>(kSamplesPerLight - 1);
        samples.push_back(static_cast<float>(evaluateLinear(curve, t)[0]));
    }
    return samples;
}

// Sampling comes first, so that a call refused on its keys leaves the
// curves of earlier calls as they were.
template <class Node>
void appendLightsAnimation(Node& node, const PyLightsAnimation& entries) {
    const std::vector<float> samples = sampleLightsAnimation(entries);
    std::vector<float> data = node.getAnimationData();
    data.insert(data.end(), samples.begin(), samples.end());
    node.setAnimationData(std::move(data));
}

}  // namespace

std::vector<float> sampleLightsAnimation(const PyLightsAnimation& entries) {
    std::vector<float> data;
    std::uint32_t expected = 0;
    for (const auto& [lightIndex, keys] : entries) {
        // Curves are stored light by light without indices, so the first
        // gap or reordering ends what can be stored.
        if (lightIndex != expected) break;
        const std::vector<float> samples = sampleCurve(keys);
        data.insert(data.end(), samples.begin(), samples.end());
        ++expected;
    }
    return data;
}

std::uint32_t toLightsArgument(float value) {
    if (std::isnan(value)) throw std::invalid_argument("Animation argument is not a number.");
    const float truncated = std::trunc(value);
    if (truncated < 0.0f) return model::kNoArgument;
    // 4294967295 itself means "no argument"; as a float it rounds up to 2^32.
    if (truncated >= 4294967295.0f) throw std::invalid_argument("Animation argument is out of range.");
    return static_cast<std::uint32_t>(truncated);
}

// --- omni lights -------------------------------------------------------

void FakeOmniLights::FakeOmniLight::setPos(const std::tuple<float, float, float>& position) {
    light_.position = toPosition(position);
}

void FakeOmniLights::FakeOmniLight::setUV(const PyUV& start, const PyUV& end) {
    light_.uvStart = toStoredUV(start);
    light_.uvEnd = toStoredUV(end);
}

void FakeOmniLights::FakeOmniLight::setSize(float size) { light_.size = size; }

FakeOmniLights::FakeOmniLights(const std::string& name)
    : FakeOmniLights(name, "model::FakeOmniLightsNode", "fake_omni_lights2") {}

FakeOmniLights::FakeOmniLights(const std::string& name, const char* nodeClass, const char* materialName)
    : node_(model::ClassRegistry::make<model::FakeOmniLightsNode>(nodeClass)), material_(makeMaterial(materialName)) {
    node_->setName(name);
    node_->setMaterial(material_);
    shiftToCamera_ = makeFloatUniform(*material_, "shiftToCamera", 0.0f);
    sizeFactors_ = makeVec3Uniform(*material_, "sizeFactors", osg::Vec3f(20.0f, 1000.0f, 0.0f));
    makeFloatUniform(*material_, "luminance", 1.0f);
}

FakeOmniLights::~FakeOmniLights() = default;

void FakeOmniLights::set(const std::vector<FakeOmniLight>& lights) {
    std::vector<model::FakeOmniLight> copies;
    copies.reserve(lights.size());
    for (const FakeOmniLight& light : lights) copies.push_back(light.get());
    node_->setLights(std::move(copies));
}

void FakeOmniLights::setTexture(const std::string& file) { material_->setTexture(0, model::makeTexture(file)); }

void FakeOmniLights::setMinSizeInPixels(float value) {
    sizeFactors_->setValue(osg::Vec3f(value, sizeFactors_->getValue().y(), 0.0f));
}

void FakeOmniLights::setMaxDistance(float value) {
    sizeFactors_->setValue(osg::Vec3f(sizeFactors_->getValue().x(), value, 0.0f));
}

void FakeOmniLights::setLuminance(const PropertyFloat& luminance) { useLuminance(*material_, luminance); }

void FakeOmniLights::setShiftToCamera(float value) { shiftToCamera_->setValue(value); }

void FakeOmniLights::setControlNode(const Node& node) { node_->setParent(0, node.getModelNode()); }

std::string FakeOmniLights::build() {
    if (!node_->getParent(0)) return kControlNodeNotSet;
    built_ = true;
    return {};
}

model::Ptr<model::BaseRenderNode> FakeOmniLights::getModelNode() const {
    return built_ ? model::Ptr<model::BaseRenderNode>(node_) : nullptr;
}

AnimatedFakeOmniLights::AnimatedFakeOmniLights(const std::string& name)
    : FakeOmniLights(name, "model::AnimatedFakeOmniLightsNode", "animated_fake_omni_lights2"),
      arg_(makeFloatUniform(material(), "arg", -1.0f)) {}

AnimatedFakeOmniLights::~AnimatedFakeOmniLights() = default;

model::AnimatedFakeOmniLightsNode& AnimatedFakeOmniLights::animatedNode() const noexcept {
    return static_cast<model::AnimatedFakeOmniLightsNode&>(node());
}

void AnimatedFakeOmniLights::setAnimationArg(float value) {
    const std::uint32_t argument = toLightsArgument(value);
    arg_->setValue(value);
    animatedNode().setArgument(argument);
}

void AnimatedFakeOmniLights::setLightsAnimation(const PyLightsAnimation& entries) {
    appendLightsAnimation(animatedNode(), entries);
}

// --- spot lights -------------------------------------------------------

void FakeSpotLights::FakeSpotLight::setPos(const std::tuple<float, float, float>& position) {
    light_.position = toPosition(position);
}

void FakeSpotLights::FakeSpotLight::setUV(const PyUV& start, const PyUV& end) {
    light_.uvStart = toStoredUV(start);
    light_.uvEnd = toStoredUV(end);
}

void FakeSpotLights::FakeSpotLight::setSize(float size) { light_.size = size; }

void FakeSpotLights::FakeSpotLight::setBackUV(const PyUV& start, const PyUV& end) {
    light_.backUvStart = toStoredUV(start);
    light_.backUvEnd = toStoredUV(end);
}

void FakeSpotLights::FakeSpotLight::setBackSide(bool backSide) { light_.backSide = backSide ? 1 : 0; }

FakeSpotLights::FakeSpotLights(const std::string& name)
    : FakeSpotLights(name, "model::FakeSpotLightsNode", "fake_spot_lights2") {}

FakeSpotLights::FakeSpotLights(const std::string& name, const char* nodeClass, const char* materialName)
    : node_(model::ClassRegistry::make<model::FakeSpotLightsNode>(nodeClass)), material_(makeMaterial(materialName)) {
    node_->setName(name);
    node_->setMaterial(material_);
    shiftToCamera_ = makeFloatUniform(*material_, "shiftToCamera", 0.0f);
    minSizeInPixels_ = makeFloatUniform(*material_, "minSizeInPixels", 20.0f);
    maxDistance_ = makeFloatUniform(*material_, "maxDistance", 1000.0f);
    coneSetup_ = makeVec3Uniform(*material_, "coneSetup", osg::Vec3f(1.0f, 0.8f, 0.05f));
    makeFloatUniform(*material_, "luminance", 1.0f);
}

FakeSpotLights::~FakeSpotLights() = default;

void FakeSpotLights::set(const std::vector<FakeSpotLight>& lights) {
    std::vector<model::FakeSpotLight> copies;
    copies.reserve(lights.size());
    for (const FakeSpotLight& light : lights) copies.push_back(light.get());
    node_->setLights(std::move(copies));
}

void FakeSpotLights::setTexture(const std::string& file) { material_->setTexture(0, model::makeTexture(file)); }
void FakeSpotLights::setMinSizeInPixels(float value) { minSizeInPixels_->setValue(value); }
void FakeSpotLights::setMaxDistance(float value) { maxDistance_->setValue(value); }
void FakeSpotLights::setLuminance(const PropertyFloat& luminance) { useLuminance(*material_, luminance); }
void FakeSpotLights::setShiftToCamera(float value) { shiftToCamera_->setValue(value); }

void FakeSpotLights::setConeSetup(const std::tuple<float, float, float>& cone) {
    coneSetup_->setValue(osg::Vec3f(std::get<0>(cone), std::get<1>(cone), std::get<2>(cone)));
}

void FakeSpotLights::setDirection(const std::tuple<float, float, float>& direction) {
    node_->setDirection(0, osg::Vec3f(std::get<0>(direction), std::get<1>(direction), std::get<2>(direction)));
}

void FakeSpotLights::setControlNode(const Node& node) { node_->setParent(0, node.getModelNode()); }

std::string FakeSpotLights::build() {
    if (!node_->getParent(0)) return kControlNodeNotSet;
    built_ = true;
    return {};
}

model::Ptr<model::BaseRenderNode> FakeSpotLights::getModelNode() const {
    return built_ ? model::Ptr<model::BaseRenderNode>(node_) : nullptr;
}

AnimatedFakeSpotLights::AnimatedFakeSpotLights(const std::string& name)
    : FakeSpotLights(name, "model::AnimatedFakeSpotLightsNode", "animated_fake_spot_lights2"),
      arg_(makeFloatUniform(material(), "arg", -1.0f)) {}

AnimatedFakeSpotLights::~AnimatedFakeSpotLights() = default;

model::AnimatedFakeSpotLightsNode& AnimatedFakeSpotLights::animatedNode() const noexcept {
    return static_cast<model::AnimatedFakeSpotLightsNode&>(node());
}

void AnimatedFakeSpotLights::setAnimationArg(float value) {
    const std::uint32_t argument = toLightsArgument(value);
    arg_->setValue(value);
    animatedNode().setArgument(argument);
}

void AnimatedFakeSpotLights::setLightsAnimation(const PyLightsAnimation& entries) {
    appendLightsAnimation(animatedNode(), entries);
}

// --- Python classes ----------------------------------------------------

void declareFakeLights(py::module_& m) {
    py::class_<FakeOmniLights::FakeOmniLight>(m, "FakeOmniLight");
    py::class_<FakeOmniLights, IRenderNode>(m, "FakeOmniLights");
    py::class_<AnimatedFakeOmniLights, FakeOmniLights>(m, "AnimatedFakeOmniLight");
    py::class_<FakeSpotLights::FakeSpotLight>(m, "FakeSpotLight");
    py::class_<FakeSpotLights, IRenderNode>(m, "FakeSpotLights");
    py::class_<AnimatedFakeSpotLights, FakeSpotLights>(m, "AnimatedFakeSpotLight");
}

void bindFakeLights(py::module_& m) {
    using OmniLight = FakeOmniLights::FakeOmniLight;
    using SpotLight = FakeSpotLights::FakeSpotLight;

    py::class_<OmniLight>(m.attr("FakeOmniLight"))
        .def(py::init<>())
        .def("setPos", &OmniLight::setPos)
        .def("setUV", &OmniLight::setUV)
        .def("setSize", &OmniLight::setSize);

    py::class_<FakeOmniLights, IRenderNode>(m.attr("FakeOmniLights"))
        .def(py::init<const std::string&>())
        .def("set", &FakeOmniLights::set)
        .def("setTexture", &FakeOmniLights::setTexture)
        .def("setMinSizeInPixels", &FakeOmniLights::setMinSizeInPixels)
        .def("setMaxDistance", &FakeOmniLights::setMaxDistance)
        .def("setLuminance", &FakeOmniLights::setLuminance)
        .def("setShiftToCamera", &FakeOmniLights::setShiftToCamera)
        .def("setControlNode", &FakeOmniLights::setControlNode);

    py::class_<AnimatedFakeOmniLights, FakeOmniLights>(m.attr("AnimatedFakeOmniLight"))
        .def(py::init<const std::string&>())
        .def("setAnimationArg", &AnimatedFakeOmniLights::setAnimationArg)
        .def("setLightsAnimation", &AnimatedFakeOmniLights::setLightsAnimation)
        .def("setControlNode",
             [](AnimatedFakeOmniLights& self, const Node& node) { self.setControlNode(node); });

    py::class_<SpotLight>(m.attr("FakeSpotLight"))
        .def(py::init<>())
        .def("setPos", &SpotLight::setPos)
        .def("setUV", &SpotLight::setUV)
        .def("setSize", &SpotLight::setSize)
        .def("setBackUV", &SpotLight::setBackUV)
        .def("setBackSide", &SpotLight::setBackSide);

    py::class_<FakeSpotLights, IRenderNode>(m.attr("FakeSpotLights"))
        .def(py::init<const std::string&>())
        .def("set", &FakeSpotLights::set)
        .def("setTexture", &FakeSpotLights::setTexture)
        .def("setMinSizeInPixels", &FakeSpotLights::setMinSizeInPixels)
        .def("setMaxDistance", &FakeSpotLights::setMaxDistance)
        .def("setLuminance", &FakeSpotLights::setLuminance)
        .def("setShiftToCamera", &FakeSpotLights::setShiftToCamera)
        .def("setConeSetup", &FakeSpotLights::setConeSetup)
        .def("setDirection", &FakeSpotLights::setDirection)
        .def("setControlNode", &FakeSpotLights::setControlNode);

    py::class_<AnimatedFakeSpotLights, FakeSpotLights>(m.attr("AnimatedFakeSpotLight"))
        .def(py::init<const std::string&>())
        .def("setAnimationArg", &AnimatedFakeSpotLights::setAnimationArg)
        .def("setLightsAnimation", &AnimatedFakeSpotLights::setLightsAnimation)
        .def("setControlNode",
             [](AnimatedFakeSpotLights& self, const Node& node) { self.setControlNode(node); });
}

}  // namespace pytav
