// The list of registered model classes, in registration order.
//
// Every class the registry can make has one line here, at its fixed place in
// the order. A node kind whose class has not been written yet has a null
// factory and is skipped; when the class lands, include its header and
// replace nullptr by &factory<TheClass> (the three extra animation names make
// model::ArgAnimationNode too).

#include <memory>

#include "AnimatedProperty.h"
#include "ClassRegistry.h"
#include "Node.h"
#include "StaticProperty.h"
#include "nodes/ArgAnimatedBone.h"
#include "nodes/ArgAnimationNode.h"
#include "nodes/ArgVisibilityNode.h"
#include "nodes/BillboardNode.h"
#include "nodes/Bone.h"
#include "nodes/Connector.h"
#include "nodes/FakeOmniLightsNode.h"
#include "nodes/FakeSpotLightsNode.h"
#include "nodes/LightNode.h"
#include "nodes/LodNode.h"
#include "nodes/NumberNode.h"
#include "nodes/RenderNode.h"
#include "nodes/RootNode.h"
#include "nodes/SegmentsNode.h"
#include "nodes/ShellNode.h"
#include "nodes/ShellSkinNode.h"
#include "nodes/SkinNode.h"
#include "nodes/TmpNumberRoot.h"
#include "nodes/TransformNode.h"

namespace model {

namespace {

using MakeFactory = std::unique_ptr<IregClass> (*)();

template <class T>
std::unique_ptr<IregClass> factory() {
    return std::make_unique<regClass<T>>();
}

struct Registration {
    const char* name;
    MakeFactory make;
};

const Registration kRegistrations[] = {
    {"model::FakeOmniLightsNode", &factory<FakeOmniLightsNode>},
    {"model::AnimatedFakeOmniLightsNode", &factory<AnimatedFakeOmniLightsNode>},
    {"model::AnimatedFakeSpotLightsNode", &factory<AnimatedFakeSpotLightsNode>},
    {"model::FakeSpotLightsNode", &factory<FakeSpotLightsNode>},
    {"model::NumberNode", &factory<NumberNode>},
    {"model::RootNode", &factory<RootNode>},
    {"model::Node", &factory<Node>},
    {"model::RenderNode", &factory<RenderNode>},
    {"model::LightNode", &factory<LightNode>},
    {"model::TransformNode", &factory<TransformNode>},
    {"model::BillboardNode", &factory<BillboardNode>},
    {"model::SkinNode", &factory<SkinNode>},
    {"model::ShellNode", &factory<ShellNode>},
    {"model::ShellSkinNode", &factory<ShellSkinNode>},
    {"model::SegmentsNode", &factory<SegmentsNode>},
    {"model::LodNode", &factory<LodNode>},
    {"model::ArgVisibilityNode", &factory<ArgVisibilityNode>},
    {"model::ArgAnimationNode", &factory<ArgAnimationNode>},
    {"model::ArgScaleNode", &factory<ArgAnimationNode>},     // makes model::ArgAnimationNode
    {"model::ArgRotationNode", &factory<ArgAnimationNode>},  // makes model::ArgAnimationNode
    {"model::ArgPositionNode", &factory<ArgAnimationNode>},  // makes model::ArgAnimationNode
    {"model::Connector", &factory<Connector>},
    {"model::Bone", &factory<Bone>},
    {"model::ArgAnimatedBone", &factory<ArgAnimatedBone>},
    {"model::Property<float>", &factory<FloatProperty>},
    {"model::Property<unsigned int>", &factory<UIntProperty>},
    {"model::Property<osg::Vec2f>", &factory<Vec2fProperty>},
    {"model::Property<osg::Vec3f>", &factory<Vec3fProperty>},
    {"model::Property<osg::Vec4f>", &factory<Vec4fProperty>},
    {"model::Property<const char*>", &factory<StringProperty>},
    {"model::ArgumentProperty", &factory<ArgumentProperty>},
    {"model::AnimatedProperty<float>", &factory<AnimatedFloatProperty>},
    {"model::AnimatedProperty<osg::Vec2f>", &factory<AnimatedVec2fProperty>},
    {"model::AnimatedProperty<osg::Vec3f>", &factory<AnimatedVec3fProperty>},
    {"model::AnimatedProperty<osg::Vec4f>", &factory<AnimatedVec4fProperty>},
    {"model::TmpNumberRoot", &factory<TmpNumberRoot>},
};

}  // namespace

void registerModelClasses(ClassRegistry& registry) {
    for (const Registration& r : kRegistrations)
        if (r.make) registry.registerClass(r.name, r.make());
}

}  // namespace model
