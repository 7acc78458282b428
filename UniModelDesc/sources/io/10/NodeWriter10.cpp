#include "io/10/NodeWriter10.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include <fmt/format.h>

#include "ClassRegistry.h"
#include "IPropertyVisitor.h"
#include "PropertiesSet.h"
#include "StaticProperty.h"
#include "io/MemBinaryFileW.h"
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
#include "nodes/TransformNode.h"
#include "qz/ExtException.h"

namespace model {

namespace {

constexpr uint32_t kVertexFormatEntries = SEMANTIC_COUNT;
constexpr uint32_t kLightParameterCount = LightNode::ParameterCount;

uint32_t count32(size_t n) {
    if (n > std::numeric_limits<uint32_t>::max())
        QZ_THROW(fmt::format("A list of {} entries is too long to write.", n));
    return static_cast<uint32_t>(n);
}

// The format of the vertex data as it is, not as a material asks for it.
void writeVertexFormat(MemBinaryFileW& sink, const Vertices& vertices) {
    const VertexFormat format = vertices.getFormat();
    sink.writeU32(kVertexFormatEntries);
    for (uint32_t code = 0; code < kVertexFormatEntries; ++code) sink.writeU8(format[code]);
}

}  // namespace

NodeWriter10::NodeWriter10(MemBinaryFileW& sink, const TransformIndexMap& transforms, const MaterialList& materials)
    : sink(sink), primitives(sink), transforms(transforms), materials(materials) {
    materialIndex.reserve(materials.size());
    for (std::size_t i = 0; i < materials.size(); ++i)
        if (materials[i]) materialIndex.emplace(materials[i].get(), count32(i));
}

uint32_t NodeWriter10::transformIndex(const Node* node) const {
    const auto found = transforms.find(node);
    if (found == transforms.end()) throw std::out_of_range("invalid unordered_map<K, T> key");
    return static_cast<uint32_t>(found->second);
}

// ---------------------------------------------------------------------------
// Field encodings

void NodeWriter10::writeName(const std::string& name) {
    // Node names are stored inline (length and bytes), not in the string
    // table: bypass the pooling of the sink.
    sink.io::IBinaryFileW::writeString(name);
}

void NodeWriter10::writeDoubles(const double* values, size_t count) {
    for (size_t i = 0; i < count; ++i) sink.writeDouble(values[i]);
}

void NodeWriter10::writeMatrix(const Matrix44d& m) { writeDoubles(m.m.data(), m.m.size()); }

void NodeWriter10::writeBoxAsDoubles(const BoundingBox& box) {
    for (const osg::Vec3f* corner : {&box.minimum, &box.maximum})
        for (int i = 0; i < 3; ++i) sink.writeDouble((*corner)[i]);
}

void NodeWriter10::writeBoxIfValid(const BoundingBox& box) {
    if (!box.isValid()) return;
    for (const osg::Vec3f* corner : {&box.minimum, &box.maximum})
        for (int i = 0; i < 3; ++i) sink.writeFloat((*corner)[i]);
}

// ---------------------------------------------------------------------------
// Record parts

void NodeWriter10::writeProperties(const PropertyList& properties, uint32_t version) {
    sink.writeU32(count32(properties.size() + (version != 0 ? 1 : 0)));
    for (const PropertyPtr& property : properties) {
        if (!property) QZ_THROW("Null property in a node's property list.");
        primitives.writeProperty(*property);
    }
    if (version == 0) return;
    const Ptr<UIntProperty> stamp = ClassRegistry::make<UIntProperty>("model::Property<unsigned int>");
    stamp->setName("__VERSION__");
    stamp->setValue(version);
    primitives.writeProperty(*stamp);
}

void NodeWriter10::writeCommonHeader(const BaseNode& node) {
    sink.writeString(getNodeTypeName(node.getType()));
    writeName(node.getName());
    sink.writeU32(0);
    writeProperties(node.getProperties(), node.getVersion());
}

void NodeWriter10::writeTreeHeader(const Node& node) {
    sink.writeString(getNodeTypeName(node.getSavedType()));
    writeName(node.getName());
    sink.writeU32(0);
    writeProperties(node.getProperties(), 0);
}

void NodeWriter10::writeMaterialHeader(const BaseRenderNode& node) {
    const auto found = materialIndex.find(node.getMaterial().get());
    if (!node.getMaterial() || found == materialIndex.end())
        QZ_THROW("Unknown properties set. Node: " + node.getName() + ".");
    writeCommonHeader(node);
    sink.writeU32(0);
    sink.writeU32(found->second);
}

void NodeWriter10::writeControlHeader(const BaseShellNode& node) {
    const Ptr<Node> control = node.getParent(0);
    if (!control) QZ_THROW("Control node isn't set. BaseShellNode: " + node.getName() + ".");
    writeCommonHeader(node);
    sink.writeU32(transformIndex(control.get()));
}

void NodeWriter10::writeBones(const std::vector<Ptr<Node>>& bones) {
    sink.writeU32(count32(bones.size()));
    for (const Ptr<Node>& bone : bones) sink.writeU32(transformIndex(bone.get()));
}

void NodeWriter10::writeTransformRecord(const TransformNode& node) {
    writeTreeHeader(node);
    writeMatrix(node.getMatrix());
}

void NodeWriter10::writeAnimationRecord(const ArgAnimationNode& node) {
    writeTransformRecord(node);
    writeDoubles(node.getBasePosition().data(), 3);
    writeDoubles(node.getBaseRotation().data(), 4);
    writeDoubles(node.getBaseScaleOrientation().data(), 4);
    writeDoubles(node.getBaseScale().data(), 3);

    // A channel list: its size, then per channel its argument and each of
    // its key lists (the key count, then time and value per key).
    const auto writeChannels = [&](const auto& channels, const char* what, auto... keyLists) {
        sink.writeU32(count32(channels.size()));
        for (const auto& channel : channels) {
            if (channel.argument == kNoArgument)
                QZ_THROW("Node '" + node.getName() + "' has invalid " + what + " handle.");
            sink.writeU32(channel.argument);
            const auto writeKeys = [&](const auto& keys) {
                sink.writeU32(count32(keys.size()));
                for (const auto& key : keys) {
                    sink.writeDouble(key.time);
                    writeDoubles(key.value.data(), key.value.size());
                }
            };
            (writeKeys(channel.*keyLists), ...);
        }
    };
    writeChannels(node.getPositionAnimations(), "position", &PositionAnimation::keys);
    writeChannels(node.getRotationAnimations(), "rotation", &RotationAnimation::keys);
    writeChannels(node.getScaleAnimations(), "scale", &ScaleAnimation::orientationKeys, &ScaleAnimation::scaleKeys);
}

void NodeWriter10::writeRenderRecord(const RenderNode& node) {
    writeMaterialHeader(node);
    const auto& entries = node.getParentEntries();
    sink.writeU32(count32(entries.size()));
    if (entries.size() == 1) {
        sink.writeU32(transformIndex(entries[0].node.get()));
        sink.writeU32(entries[0].damageArgument);
    } else {
        for (const RenderParentEntry& entry : entries) {
            sink.writeU32(transformIndex(entry.node.get()));
            sink.writeU32(0);
            sink.writeU32(entry.damageArgument);
        }
    }
    primitives.writeVertices(node.getVertices(), node.shareVertices());
    primitives.writeIndices(node.getIndices(), node.shareIndices());
}

namespace {

// What a parent entry or a light holds beyond what both kinds of set have.
void writeEntryRest(MemBinaryFileW&, const Ptr<Node>&) {}
void writeEntryRest(MemBinaryFileW& sink, const FakeSpotParentEntry& entry) {
    for (int i = 0; i < 3; ++i) sink.writeFloat(entry.direction[i]);
}
void writeLightRest(MemBinaryFileW&, const FakeOmniLight&) {}
void writeLightRest(MemBinaryFileW& sink, const FakeSpotLight& light) {
    sink.writeFloat(light.backUvStart.x());
    sink.writeFloat(light.backUvStart.y());
    sink.writeFloat(light.backUvEnd.x());
    sink.writeFloat(light.backUvEnd.y());
    sink.writeU8(light.backSide);
}

}  // namespace

template <class Light, class ParentEntry>
void NodeWriter10::writeFakeLightsRecord(const FakeLightsNode<Light, ParentEntry>& node) {
    writeMaterialHeader(node);
    const auto& entries = node.getParentEntries();
    sink.writeU32(count32(entries.size()));
    for (const ParentEntry& entry : entries) {
        sink.writeU32(transformIndex(entryNode(entry).get()));
        sink.writeU32(0);
        writeEntryRest(sink, entry);
    }
    const auto& lights = node.getLights();
    sink.writeU32(count32(lights.size()));
    for (const Light& light : lights) {
        writeDoubles(light.position.data(), 3);
        sink.writeFloat(light.uvStart.x());
        sink.writeFloat(light.uvStart.y());
        sink.writeFloat(light.uvEnd.x());
        sink.writeFloat(light.uvEnd.y());
        sink.writeFloat(light.size);
        sink.writeU32(light.parentIndex);
        writeLightRest(sink, light);
    }
}

void NodeWriter10::writeAnimatedLightsTail(const BaseRenderNode& node, uint32_t argument,
                                           const std::vector<float>& data, size_t lightCount) {
    const char* className = getNodeTypeName(node.getType());
    // The same text serves the omni and the spot sets.
    if (argument == kNoArgument)
        QZ_THROW(fmt::format("Argument of animated fake omni lights must be valid. Node id: {}.", className));
    if (data.size() / kFakeLightSamples != lightCount || data.size() % kFakeLightSamples != 0)
        QZ_THROW(fmt::format("Invalid data size. Node id: {}.", className));
    sink.writeU32(argument);
    sink.writeU32(static_cast<uint32_t>(kFakeLightSamples));
    sink.writeU32(count32(data.size()));
    sink.writeFloats(data);
}

// ---------------------------------------------------------------------------
// Records, in visitor order

void NodeWriter10::visit(const RootNode& node) {
    writeCommonHeader(node);
    writeBoxAsDoubles(node.getBoundingBox());
    writeBoxAsDoubles(node.getUserBox());
    writeBoxAsDoubles(node.getLightBox());
    sink.writeU32(count32(materials.size()));
    for (const Ptr<BaseMaterial>& material : materials) {
        const auto* set = dynamic_cast<const PropertiesSet*>(material.get());
        if (!set) QZ_THROW("Material '" + (material ? material->getName() : std::string()) +
                           "' is not a properties set and can't be written.");
        primitives.writeMaterial(*set);
    }
    sink.writeU32(0);
    sink.writeU32(node.calcNumHandles());
}

void NodeWriter10::visit(const Connector& node) {
    writeCommonHeader(node);
    sink.writeU32(transformIndex(node.getParent(0).get()));
    sink.writeU32(0);
}

void NodeWriter10::visit(const LightNode& node) {
    writeCommonHeader(node);
    sink.writeU32(transformIndex(node.getParent(0).get()));
    sink.writeU8(static_cast<uint8_t>(node.getLightKind()));
    sink.writeU32(kLightParameterCount);
    for (const PropertyPtr& parameter : node.getParameters()) {
        if (!parameter) QZ_THROW("Light '" + node.getName() + "' lacks one of its parameters.");
        primitives.writeProperty(*parameter);
    }
    const Texture& appearance = node.getTexture();
    sink.writeU8(appearance.isUsed() ? 1 : 0);
    if (appearance.isUsed()) primitives.writeTexture(appearance);
}

void NodeWriter10::visit(const NumberNode& node) {
    writeRenderRecord(node);
    const auto& controls = node.getControlEntries();
    const size_t parents = node.getParentEntries().size();
    if (controls.size() < parents) throw std::out_of_range("invalid vector subscript");
    for (size_t i = 0; i < parents; ++i) {
        sink.writeU32(count32(controls[i].size()));
        for (const NumberControl& control : controls[i]) {
            sink.writeU32(static_cast<uint32_t>(control.argument));
            sink.writeFloat(control.value);
            sink.writeU32(static_cast<uint32_t>(control.argument2));
            sink.writeFloat(control.value2);
        }
    }
}

void NodeWriter10::visit(const SkinNode& node) {
    writeMaterialHeader(node);
    writeBones(node.getBones());
    sink.writeU32(node.getDamageArgument());
    writeBoxIfValid(node.getBoundingBox());
    primitives.writeVertices(node.getVertices(), node.shareVertices());
    primitives.writeIndices(node.getIndices(), node.shareIndices());
}

void NodeWriter10::visit(const RenderNode& node) { writeRenderRecord(node); }

void NodeWriter10::visit(const AnimatedFakeSpotLightsNode& node) {
    writeFakeLightsRecord(node);
    writeAnimatedLightsTail(node, node.getArgument(), node.getAnimationData(), node.getLights().size());
}

void NodeWriter10::visit(const FakeSpotLightsNode& node) { writeFakeLightsRecord(node); }

void NodeWriter10::visit(const AnimatedFakeOmniLightsNode& node) {
    writeFakeLightsRecord(node);
    writeAnimatedLightsTail(node, node.getArgument(), node.getAnimationData(), node.getLights().size());
}

void NodeWriter10::visit(const FakeOmniLightsNode& node) { writeFakeLightsRecord(node); }

void NodeWriter10::visit(const SegmentsNode& node) {
    writeControlHeader(node);
    const auto& segments = node.getSegments();
    sink.writeU32(count32(segments.size()));
    for (const Segment& segment : segments) {
        for (int i = 0; i < 3; ++i) sink.writeFloat(segment.start[i]);
        for (int i = 0; i < 3; ++i) sink.writeFloat(segment.end[i]);
    }
}

void NodeWriter10::visit(const ShellSkinNode& node) {
    writeCommonHeader(node);
    writeBones(node.getBones());
    sink.writeU32(node.getDamageArgument());
    writeBoxIfValid(node.getBoundingBox());
    writeVertexFormat(sink, node.getVertices());
    primitives.writeVertices(node.getVertices());
    primitives.writeIndices(node.getIndices(), node.shareIndices());
}

void NodeWriter10::visit(const ShellNode& node) {
    writeControlHeader(node);
    writeVertexFormat(sink, node.getVertices());
    primitives.writeVertices(node.getVertices());
    primitives.writeIndices(node.getIndices(), node.shareIndices());
}

void NodeWriter10::visit(const LodNode& node) {
    writeTreeHeader(node);
    const auto& ranges = node.getRanges();
    sink.writeU32(count32(ranges.size()));
    for (const LodRange& range : ranges) {
        sink.writeDouble(range.lower);
        sink.writeDouble(range.upper);
    }
}

void NodeWriter10::visit(const Bone& node) {
    writeTransformRecord(node);
    writeMatrix(node.getBoneMatrix());
}

void NodeWriter10::visit(const BillboardNode& node) {
    writeTreeHeader(node);
    // The settings are 32-bit in memory; files keep their low byte.
    sink.writeU8(static_cast<uint8_t>(node.getBillboardSetting1()));
    sink.writeU8(static_cast<uint8_t>(node.getBillboardSetting2()));
    writeMatrix(node.getMatrix());
    writeDoubles(node.getAxis().data(), 3);
}

void NodeWriter10::visit(const ArgVisibilityNode& node) {
    writeTreeHeader(node);
    const auto& entries = node.getEntries();
    sink.writeU32(count32(entries.size()));
    for (const VisibilityEntry& entry : entries) {
        sink.writeU32(entry.argument);
        sink.writeU32(count32(entry.ranges.size()));
        for (const VisibilityRange& range : entry.ranges) {
            sink.writeDouble(range.start);
            sink.writeDouble(range.end);
        }
    }
}

void NodeWriter10::visit(const ArgAnimatedBone& node) {
    writeAnimationRecord(node);
    writeMatrix(node.getBoneMatrix());
}

void NodeWriter10::visit(const ArgAnimationNode& node) { writeAnimationRecord(node); }

void NodeWriter10::visit(const TransformNode& node) { writeTransformRecord(node); }

void NodeWriter10::visit(const Node& node) { writeTreeHeader(node); }

}  // namespace model
