// Python classes FakeOmniLight, FakeOmniLights, AnimatedFakeOmniLight,
// FakeSpotLight, FakeSpotLights and AnimatedFakeSpotLight.

#include "PyFakeLights.h"

#include <cmath>
#include <stdexcept>

#include "ScriptTypeNames.h"

#include "Bindings.h"
#include "utils/KeyReduction.h"
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
    std::vector<model::utils::CurveKey<1>> curve;
    curve.reserve(keys.size());
    for (const auto& [time, value] : keys) curve.push_back({time, {value}});
    model::utils::sortAndReduceLinear(curve, kCurveKeyTolerance);
    std::vector<float> samples;
    samples.reserve(kSamplesPerLight);
    for (std::size_t i = 0; i < kSamplesPerLight; ++i) {
        const double t = static_cast<double>(i) / static_cast<double>(kSamplesPerLight - 1);
        samples.push_back(static_cast<float>(model::utils::evaluateLinear(curve, t)[0]));
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

// --- light values and size uniforms --------------------------------------

template <class ModelLight>
void FakeLight<ModelLight>::setPos(const std::tuple<float, float, float>& position) {
    light_.position = toPosition(position);
}

template <class ModelLight>
void FakeLight<ModelLight>::setUV(const PyUV& start, const PyUV& end) {
    light_.uvStart = toStoredUV(start);
    light_.uvEnd = toStoredUV(end);
}

template <class ModelLight>
void FakeLight<ModelLight>::setSize(float size) {
    light_.size = size;
}

template class FakeLight<model::FakeOmniLight>;
template class FakeLight<model::FakeSpotLight>;

void FakeSpotLight::setBackUV(const PyUV& start, const PyUV& end) {
    light_.backUvStart = toStoredUV(start);
    light_.backUvEnd = toStoredUV(end);
}

void FakeSpotLight::setBackSide(bool backSide) { light_.backSide = backSide ? 1 : 0; }

FakeOmniUniforms::FakeOmniUniforms(model::PropertiesSet& material)
    : sizeFactors(makeVec3Uniform(material, "sizeFactors", osg::Vec3f(20.0f, 1000.0f, 0.0f))) {}

void FakeOmniUniforms::setMinSizeInPixels(float value) {
    sizeFactors->setValue(osg::Vec3f(value, sizeFactors->getValue().y(), 0.0f));
}

void FakeOmniUniforms::setMaxDistance(float value) {
    sizeFactors->setValue(osg::Vec3f(sizeFactors->getValue().x(), value, 0.0f));
}

FakeSpotUniforms::FakeSpotUniforms(model::PropertiesSet& material)
    : minSizeInPixels(makeFloatUniform(material, "minSizeInPixels", 20.0f)),
      maxDistance(makeFloatUniform(material, "maxDistance", 1000.0f)),
      coneSetup(makeVec3Uniform(material, "coneSetup", osg::Vec3f(1.0f, 0.8f, 0.05f))) {}

// --- light sets ----------------------------------------------------------

// Uniforms in material order: shiftToCamera, the kind's size uniforms,
// luminance (and "arg" for animated sets, after these).
template <class Kind>
FakeLights<Kind>::FakeLights(const std::string& name, const char* nodeClass, const char* materialName)
    : node_(model::ClassRegistry::make<typename Kind::ModelNode>(nodeClass)),
      material_(makeMaterial(materialName)),
      shiftToCamera_(makeFloatUniform(*material_, "shiftToCamera", 0.0f)),
      uniforms_(*material_) {
    node_->setName(name);
    node_->setMaterial(material_);
    makeFloatUniform(*material_, "luminance", 1.0f);
}

template <class Kind>
FakeLights<Kind>::~FakeLights() = default;

template <class Kind>
void FakeLights<Kind>::set(const std::vector<Light>& lights) {
    std::vector<typename Kind::ModelNode::LightType> copies;
    copies.reserve(lights.size());
    for (const Light& light : lights) copies.push_back(light.get());
    node_->setLights(std::move(copies));
}

template <class Kind>
void FakeLights<Kind>::setTexture(const std::string& file) {
    material_->setTexture(0, model::makeTexture(file));
}

template <class Kind>
void FakeLights<Kind>::setLuminance(const PropertyFloat& luminance) {
    useLuminance(*material_, luminance);
}

template <class Kind>
void FakeLights<Kind>::setControlNode(const Node& node) {
    node_->setParent(0, node.getModelNode());
}

template <class Kind>
std::string FakeLights<Kind>::build() {
    if (!node_->getParent(0)) return kControlNodeNotSet;
    built_ = true;
    return {};
}

template <class Kind>
model::Ptr<model::BaseRenderNode> FakeLights<Kind>::getModelNode() const {
    return built_ ? model::Ptr<model::BaseRenderNode>(node_) : nullptr;
}

template class FakeLights<FakeOmniKind>;
template class FakeLights<FakeSpotKind>;

void FakeSpotLights::setConeSetup(const std::tuple<float, float, float>& cone) {
    uniforms().coneSetup->setValue(osg::Vec3f(std::get<0>(cone), std::get<1>(cone), std::get<2>(cone)));
}

void FakeSpotLights::setDirection(const std::tuple<float, float, float>& direction) {
    node().setDirection(0, osg::Vec3f(std::get<0>(direction), std::get<1>(direction), std::get<2>(direction)));
}

template <class Kind, class Set>
AnimatedFakeLights<Kind, Set>::AnimatedFakeLights(const std::string& name)
    : Set(name, Kind::names.animatedNodeClass, Kind::names.animatedMaterial),
      arg_(makeFloatUniform(this->material(), "arg", -1.0f)) {}

template <class Kind, class Set>
AnimatedFakeLights<Kind, Set>::~AnimatedFakeLights() = default;

template <class Kind, class Set>
typename Kind::AnimatedModelNode& AnimatedFakeLights<Kind, Set>::animatedNode() const noexcept {
    return static_cast<typename Kind::AnimatedModelNode&>(this->node());
}

template <class Kind, class Set>
void AnimatedFakeLights<Kind, Set>::setAnimationArg(float value) {
    const std::uint32_t argument = toLightsArgument(value);
    arg_->setValue(value);
    animatedNode().setArgument(argument);
}

template <class Kind, class Set>
void AnimatedFakeLights<Kind, Set>::setLightsAnimation(const PyLightsAnimation& entries) {
    appendLightsAnimation(animatedNode(), entries);
}

template class AnimatedFakeLights<FakeOmniKind, FakeOmniLights>;
template class AnimatedFakeLights<FakeSpotKind, FakeSpotLights>;

// --- Python classes ----------------------------------------------------

void declareFakeLights(py::module_& m) {
    py::class_<FakeOmniLights::Light>(m, "FakeOmniLight");
    py::class_<FakeOmniLights, IRenderNode>(m, "FakeOmniLights");
    py::class_<AnimatedFakeOmniLights, FakeOmniLights>(m, "AnimatedFakeOmniLight");
    py::class_<FakeSpotLight>(m, "FakeSpotLight");
    py::class_<FakeSpotLights, IRenderNode>(m, "FakeSpotLights");
    py::class_<AnimatedFakeSpotLights, FakeSpotLights>(m, "AnimatedFakeSpotLight");
}

namespace {

template <class Light>
py::class_<Light> bindLight(py::module_& m, const char* name) {
    return py::class_<Light>(m.attr(name))
        .def(py::init<>(), "One fake light, at the origin.")
        .def("setPos", &Light::setPos, py::arg("position"), "Sets the light's position.")
        .def("setUV", &Light::setUV, py::arg("start"), py::arg("end"),
             "Sets the light's texture rectangle by two corners.")
        .def("setSize", &Light::setSize, py::arg("size"), "Sets the light's size.");
}

template <class Set>
py::class_<Set, IRenderNode> bindSet(py::module_& m, const char* name) {
    return py::class_<Set, IRenderNode>(m.attr(name))
        .def(py::init<const std::string&>(), py::arg("name"), "A render node of fake lights.")
        .def("set", &Set::set, py::arg("lights"), "Replaces the lights by copies of these.")
        .def("setTexture", &Set::setTexture, py::arg("file"), "Sets the lights' texture file name.")
        .def("setMinSizeInPixels", &Set::setMinSizeInPixels, py::arg("value"),
             "Sets the smallest size on screen, in pixels.")
        .def("setMaxDistance", &Set::setMaxDistance, py::arg("value"),
             "Sets the distance beyond which the lights are not drawn.")
        .def("setLuminance", &Set::setLuminance, py::arg("luminance"), "Sets the luminance.")
        .def("setShiftToCamera", &Set::setShiftToCamera, py::arg("value"),
             "Sets how far the lights are drawn towards the camera.");
}

// The animated set shows setControlNode again, as a method of its own.
template <class Animated, class Set>
void bindAnimated(py::module_& m, const char* name) {
    py::class_<Animated, Set>(m.attr(name))
        .def(py::init<const std::string&>(), py::arg("name"),
             "A render node of fake lights whose brightness an argument animates.")
        .def("setAnimationArg", &Animated::setAnimationArg, py::arg("argument"),
             "Sets the argument that drives the animation.")
        .def("setLightsAnimation", &Animated::setLightsAnimation, py::arg("curves"),
             "Adds (light index, (time, brightness) keys) brightness curves.")
        .def("setControlNode", [](Animated& self, const Node& node) { self.setControlNode(node); }, py::arg("node"),
             "Hangs the lights below node.");
}

}  // namespace

void bindFakeLights(py::module_& m) {
    bindLight<FakeOmniLights::Light>(m, "FakeOmniLight");
    bindSet<FakeOmniLights>(m, "FakeOmniLights")
        .def("setControlNode", &FakeOmniLights::setControlNode, py::arg("node"), "Hangs the lights below node.");
    bindAnimated<AnimatedFakeOmniLights, FakeOmniLights>(m, "AnimatedFakeOmniLight");

    bindLight<FakeSpotLight>(m, "FakeSpotLight")
        .def("setBackUV", &FakeSpotLight::setBackUV, py::arg("start"), py::arg("end"),
             "Sets the back side's texture rectangle by two corners.")
        .def("setBackSide", &FakeSpotLight::setBackSide, py::arg("backSide"),
             "Sets whether the light shows a back side.");
    bindSet<FakeSpotLights>(m, "FakeSpotLights")
        .def("setConeSetup", &FakeSpotLights::setConeSetup, py::arg("cone"), "Sets the three values of the light cone.")
        .def("setDirection", &FakeSpotLights::setDirection, py::arg("direction"),
             "Sets the direction the lights point in.")
        .def("setControlNode", &FakeSpotLights::setControlNode, py::arg("node"), "Hangs the lights below node.");
    bindAnimated<AnimatedFakeSpotLights, FakeSpotLights>(m, "AnimatedFakeSpotLight");
}

}  // namespace pytav
