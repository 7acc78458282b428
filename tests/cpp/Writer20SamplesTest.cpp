// Leaves format 2.0 sample files for the Python inspector when
// PYTAV_SAMPLE_DIR names a folder; does nothing otherwise.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "AnimatedProperty.h"
#include "StaticProperty.h"
#include "Writer20TestSupport.h"
#include "nodes/ArgAnimatedBone.h"
#include "nodes/ArgAnimationNode.h"
#include "nodes/ArgVisibilityNode.h"
#include "nodes/Bone.h"
#include "nodes/Connector.h"
#include "nodes/TransformNode.h"

using namespace model;
using namespace writer20test;

TEST(Writer20Samples, WritesSampleFilesWhenAsked) {
    const char* dir = std::getenv("PYTAV_SAMPLE_DIR");
    if (!dir || !*dir) GTEST_SKIP() << "PYTAV_SAMPLE_DIR not set";
    std::filesystem::create_directories(dir);
    const auto save = [dir](const char* file, const RootNode& root) {
        const std::vector<uint8_t> bytes = writeModel(root);
        std::ofstream(std::filesystem::path(dir) / file, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    };
    save("tav2_minimal.tav", *rootWith(make<Node>("model::Node", "root")));

    // Every record kind, nested visibility nodes and connectors on both
    // sides of the split.
    auto top = make<Node>("model::Node", "root");
    auto arm = make<TransformNode>("model::TransformNode", "arm");
    Matrix44d m;
    m.m[12] = 1.5;
    arm->setMatrix(m);
    auto anim = make<ArgAnimationNode>("model::ArgAnimationNode", "door_left");
    anim->setPositionAnimations({{1, {{0.0, {0, 0, 0}}, {1.0, {0, 0, 2}}}}});
    anim->setRotationAnimations({{2, {{0.0, {0, 0, 0, 1}}, {1.0, {0, 0.7071, 0, 0.7071}}}}});
    anim->setScaleAnimations({{3, {{0.0, {0, 0, 0, 1}}}, {{0.0, {1, 1, 1}}, {1.0, {2, 2, 2}}}}});
    auto still = make<ArgAnimationNode>("model::ArgAnimationNode", "left");
    auto bone = make<Bone>("model::Bone", "bone");
    auto abone = make<ArgAnimatedBone>("model::ArgAnimatedBone", "abone");
    abone->setRotationAnimations({{4, {{0.0, {0, 0, 0, 1}}}}});
    auto vis = make<ArgVisibilityNode>("model::ArgVisibilityNode", "vis");
    vis->setEntries({{5, {{0.0, 0.5}, {0.75, 1.0}}}, {6, {}}});
    auto inner = make<ArgVisibilityNode>("model::ArgVisibilityNode", "inner");
    inner->setEntries({{7, {{0.25, 0.5}}}});
    auto lamp = make<Node>("model::Node", "lamp");
    auto speed = make<AnimatedFloatProperty>("model::AnimatedProperty<float>");
    speed->setName("speed");
    speed->setArgument(8);
    speed->addKey(0.0, 1.0f);
    speed->addKey(1.0, 3.0f);
    lamp->addProperty(speed);
    auto label = make<StringProperty>("model::Property<const char*>");
    label->setName("label");
    label->setValue("lamp");
    lamp->addProperty(label);
    auto color = make<Vec3fProperty>("model::Property<osg::Vec3f>");
    color->setName("color");
    color->setValue({1, 0.5f, 0.25f});
    lamp->addProperty(color);

    top->addChild(arm);
    arm->addChild(anim);
    anim->addChild(still);
    top->addChild(bone);
    bone->addChild(abone);
    top->addChild(vis);
    vis->addChild(inner);
    inner->addChild(lamp);
    auto root = rootWith(top);
    root->setBoundingBox(BoundingBox::fromValues(-1, -2, -3, 1, 2, 3));
    auto seat = make<Connector>("model::Connector", "seat");
    seat->setParent(0, lamp);
    auto kind = make<UIntProperty>("model::Property<unsigned int>");
    kind->setName("kind");
    kind->setValue(3);
    seat->addProperty(kind);
    root->addConnector(seat);
    auto onVis = make<Connector>("model::Connector", "on_vis");
    onVis->setParent(0, vis);
    root->addConnector(onVis);
    auto free = make<Connector>("model::Connector", "free");
    free->setParent(0, arm);
    root->addConnector(free);
    save("tav2_full.tav", *root);
}
