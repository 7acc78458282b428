// Python classes OmniLight and SpotLight.

#include "PyLights.h"

#include "AnimatedProperty.h"
#include "Bindings.h"
#include "FiniteArguments.h"
#include "ClassRegistry.h"

namespace py = pybind11;

namespace pytav {

namespace {

constexpr std::uint32_t kOmniKind = 0;
constexpr std::uint32_t kSpotKind = 1;
// A derived cone curve needs no more keys than its visible shape.
constexpr float kThetaKeyTolerance = 0.001f;
// Finite angles can still give a product beyond the float range.
constexpr const char* kThetaName = "Cone angle from setAngles";

}  // namespace

Light::Light(const std::string& name, std::uint32_t kind)
    : light_(model::ClassRegistry::make<model::LightNode>("model::LightNode")) {
    light_->setName(name);
    light_->setLightKind(kind);
}

Light::~Light() = default;

void Light::setColor(const PropertyFloat3& color) { light_->setColor(color.getProperty()); }
void Light::setBrightness(const PropertyFloat& brightness) { light_->setBrightness(brightness.getProperty()); }
void Light::setDistance(const PropertyFloat& distance) { light_->setDistance(distance.getProperty()); }
void Light::setSpecularAmount(const PropertyFloat& amount) { light_->setSpecularAmount(amount.getProperty()); }
void Light::setSoftness(const PropertyFloat& softness) { light_->setSoftness(softness.getProperty()); }
void Light::setPhi(const PropertyFloat& phi) { light_->setPhi(phi.getProperty()); }
void Light::setTheta(const PropertyFloat& theta) { light_->setTheta(theta.getProperty()); }

void Light::setAngles(const PropertyFloat& a, const PropertyFloat& b) {
    const model::PropertyPtr& phi = a.getProperty();
    const float p = floatValueAtRest(*phi);
    model::PropertyPtr theta;
    if (const auto* animated = dynamic_cast<const model::AnimatedFloatProperty*>(b.getProperty().get())) {
        std::vector<std::tuple<double, float>> keys;
        keys.reserve(animated->getKeys().size());
        for (const auto& k : animated->getKeys()) {
            keys.emplace_back(k.time, p - p * k.value);
            requireFinite(allFinite(std::get<1>(keys.back())), kThetaName);
        }
        theta = makeAnimatedFloat(animated->getArgument(), std::move(keys), kThetaKeyTolerance);
    } else {
        const float value = p - p * floatValueAtRest(*b.getProperty());
        requireFinite(allFinite(value), kThetaName);
        theta = makeStaticFloat(value);
    }
    light_->setPhi(phi);
    light_->setTheta(theta);
}

void Light::setControlNode(const Node& node) { light_->setParent(0, node.getModelNode()); }

OmniLight::OmniLight(const std::string& name) : Light(name, kOmniKind) {}

SpotLight::SpotLight(const std::string& name) : Light(name, kSpotKind) {}

// --- Python classes ----------------------------------------------------

void declareLights(py::module_& m) {
    py::class_<OmniLight>(m, "OmniLight");
    py::class_<SpotLight>(m, "SpotLight");
}

void bindLights(py::module_& m) {
    py::class_<OmniLight>(m.attr("OmniLight"))
        .def(py::init<const std::string&>(), py::arg("name"), "A light shining in all directions.")
        .def("setColor", &OmniLight::setColor, py::arg("color"), "Sets the colour.")
        .def("setBrightness", &OmniLight::setBrightness, py::arg("brightness"), "Sets the brightness.")
        .def("setDistance", &OmniLight::setDistance, py::arg("distance"), "Sets the distance the light reaches.")
        .def("setSpecularAmount", &OmniLight::setSpecularAmount, py::arg("amount"),
             "Sets the amount of specular light.")
        .def("setSoftness", &OmniLight::setSoftness, py::arg("softness"), "Sets the softness.")
        .def("setControlNode", &OmniLight::setControlNode, py::arg("node"), "Hangs the light below node.");

    py::class_<SpotLight>(m.attr("SpotLight"))
        .def(py::init<const std::string&>(), py::arg("name"), "A light shining in a cone.")
        .def("setColor", &SpotLight::setColor, py::arg("color"), "Sets the colour.")
        .def("setBrightness", &SpotLight::setBrightness, py::arg("brightness"), "Sets the brightness.")
        .def("setDistance", &SpotLight::setDistance, py::arg("distance"), "Sets the distance the light reaches.")
        .def("setPhi", &SpotLight::setPhi, py::arg("phi"), "Sets the outer cone angle phi.")
        .def("setTheta", &SpotLight::setTheta, py::arg("theta"), "Sets the inner cone angle theta.")
        .def("setAngles", &SpotLight::setAngles, py::arg("phi"), py::arg("fraction"),
             "Sets phi, and theta as phi less that fraction of it.")
        .def("setSpecularAmount", &SpotLight::setSpecularAmount, py::arg("amount"),
             "Sets the amount of specular light.")
        .def("setSoftness", &SpotLight::setSoftness, py::arg("softness"), "Sets the softness.")
        .def("setControlNode", &SpotLight::setControlNode, py::arg("node"), "Hangs the light below node.");
}

}  // namespace pytav
