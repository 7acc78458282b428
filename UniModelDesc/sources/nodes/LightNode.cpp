#include "nodes/LightNode.h"

#include <algorithm>

#include "AnimatedProperty.h"
#include "ClassRegistry.h"
#include "INodeVisitor.h"
#include "StaticProperty.h"
#include "qz/ExtException.h"

namespace model {

namespace {

template <class P>
Ptr<P> makeParameter(const char* className, const char* name) {
    Ptr<P> p = ClassRegistry::make<P>(className);
    p->setName(name);
    return p;
}

}  // namespace

LightNode::LightNode() {
    setVersion(2);
    parameters_[Color] = makeParameter<Vec3fProperty>("model::Property<osg::Vec3f>", "color");
    parameters_[Brightness] = makeParameter<FloatProperty>("model::Property<float>", "brightness");
    parameters_[Phi] = makeParameter<FloatProperty>("model::Property<float>", "phi");
    parameters_[Theta] = makeParameter<FloatProperty>("model::Property<float>", "theta");
    parameters_[Distance] = makeParameter<FloatProperty>("model::Property<float>", "distance");
    auto specular = makeParameter<FloatProperty>("model::Property<float>", "specularAmount");
    specular->setValue(1.0f);
    parameters_[SpecularAmount] = specular;
    parameters_[Softness] = makeParameter<FloatProperty>("model::Property<float>", "softness");
}

LightNode::LightNode(const LightNode& other) = default;
LightNode::~LightNode() = default;

Ptr<Node> LightNode::getParent(std::size_t index) const {
    checkParentIndex(index, 1);
    return parent_;
}

void LightNode::setParent(std::size_t index, const Ptr<Node>& node) {
    checkParentIndex(index, 1);
    parent_ = node;
}

void LightNode::setParameter(Parameter which, const PropertyPtr& property) {
    if (which >= ParameterCount) throw std::out_of_range("Light parameter index is out of range.");
    // Writers and the light box read every parameter.
    if (!property) QZ_THROW("Light parameter can't be null. Light: " + getName() + ".");
    parameters_[which] = property;
}

float LightNode::getDistance() const {
    const IProperty* distance = parameters_[Distance].get();
    if (const auto* fixed = dynamic_cast<const FloatProperty*>(distance)) return fixed->getValue();
    float reach = 0.0f;
    if (const auto* animated = dynamic_cast<const AnimatedFloatProperty*>(distance)) {
        const auto& keys = animated->getKeys();
        if (!keys.empty())
            reach = std::max_element(keys.begin(), keys.end(), [](const auto& a, const auto& b) {
                        return a.value < b.value;
                    })->value;
    }
    return reach;
}

void LightNode::forEachArgument(const ArgumentCallback& callback) const {
    BaseNode::forEachArgument(callback);
    forEachPropertyArgument(PropertyList(parameters_.begin(), parameters_.end()), callback);
}

void LightNode::accept(INodeVisitor& visitor) { visitor.visit(*this); }
void LightNode::accept(INodeVisitor& visitor) const { visitor.visit(*this); }

}  // namespace model
