#pragma once
// model::NodeWriter10: writes the node records of a format 10 model file;
// the records inside them (vertex data, index lists, properties, materials,
// textures) come from its PrimitiveWriter10.
//
// Contract
// - Each visit writes the record of one node class into the sink given at
//   construction, at the sink's current position. Tree nodes are headed by
//   the class name of getSavedType() and never get a "__VERSION__" entry
//   added; base nodes are headed by the class name of getType() and, when
//   their version is not 0, their property list ends with a "__VERSION__"
//   unsigned property made for the write only.
// - Tree nodes are referred to by their transform index, taken from the
//   index map given at construction (filled before any record is written).
//   A parent or bone missing from it, a null one included, raises
//   std::out_of_range ("invalid unordered_map<K, T> key").
// - Render nodes refer to their material by its position in the material
//   list given at construction; one not in it (or none) raises
//   qz::ExtException "Unknown properties set. Node: <name>.". The root record
//   writes that list's materials, each of which must be a PropertiesSet.
// - Other failures, each a qz::ExtException:
//     "Control node isn't set. BaseShellNode: <name>." (shell, segments);
//     "Node '<name>' has invalid position|rotation|scale handle." (an
//       animation channel with argument 0xFFFFFFFF);
//     "Argument of animated fake omni lights must be valid. Node id: <class>."
//       and "Invalid data size. Node id: <class>." (animated fake lights
//       without argument, or without exactly 128 floats per light);
//     "Vertex data is invalid." (from the vertex data);
//   and a number node with fewer control entries than parent entries raises
//   std::out_of_range. A failure leaves a partial record in the sink.
// - The writer keeps references to the sink, the map and the material list;
//   they must outlive it. One thread at a time.

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "INodeVisitor.h"
#include "IProperty.h"
#include "Matrix.h"
#include "io/10/PrimitiveWriter10.h"

namespace model {

class BaseMaterial;
class BaseNode;
class BaseRenderNode;
class BaseShellNode;
class MemBinaryFileW;
struct BoundingBox;
template <class Light, class ParentEntry>
class FakeLightsNode;
struct Texture;

// Tree node -> its position in the file's walk order.
using TransformIndexMap = std::unordered_map<const Node*, std::int32_t>;
// The materials of a file, in the order their records are written.
using MaterialList = std::vector<Ptr<BaseMaterial>>;

class NodeWriter10 final : public INodeVisitor {
public:
    NodeWriter10(MemBinaryFileW& sink, const TransformIndexMap& transforms, const MaterialList& materials);

    void visit(const RootNode& node) override;
    void visit(const Connector& node) override;
    void visit(const LightNode& node) override;
    void visit(const NumberNode& node) override;
    void visit(const SkinNode& node) override;
    void visit(const RenderNode& node) override;
    void visit(const AnimatedFakeSpotLightsNode& node) override;
    void visit(const FakeSpotLightsNode& node) override;
    void visit(const AnimatedFakeOmniLightsNode& node) override;
    void visit(const FakeOmniLightsNode& node) override;
    void visit(const SegmentsNode& node) override;
    void visit(const ShellSkinNode& node) override;
    void visit(const ShellNode& node) override;
    void visit(const LodNode& node) override;
    void visit(const Bone& node) override;
    void visit(const BillboardNode& node) override;
    void visit(const ArgVisibilityNode& node) override;
    void visit(const ArgAnimatedBone& node) override;
    void visit(const ArgAnimationNode& node) override;
    void visit(const TransformNode& node) override;
    void visit(const Node& node) override;

    // The transform index of a tree node (see the contract).
    std::uint32_t transformIndex(const Node* node) const;

private:
    // Record parts shared by several node kinds.
    void writeCommonHeader(const BaseNode& node);
    void writeTreeHeader(const Node& node);
    void writeMaterialHeader(const BaseRenderNode& node);
    void writeControlHeader(const BaseShellNode& node);
    void writeProperties(const PropertyList& properties, std::uint32_t version);
    void writeTransformRecord(const TransformNode& node);
    void writeAnimationRecord(const ArgAnimationNode& node);
    void writeRenderRecord(const RenderNode& node);
    template <class Light, class ParentEntry>
    void writeFakeLightsRecord(const FakeLightsNode<Light, ParentEntry>& node);
    void writeAnimatedLightsTail(const BaseRenderNode& node, std::uint32_t argument, const std::vector<float>& data,
                                 std::size_t lightCount);
    void writeBones(const std::vector<Ptr<Node>>& bones);

    // Field encodings.
    void writeName(const std::string& name);
    void writeMatrix(const Matrix44d& m);
    void writeDoubles(const double* values, std::size_t count);
    void writeBoxAsDoubles(const BoundingBox& box);
    void writeBoxIfValid(const BoundingBox& box);

    MemBinaryFileW& sink;
    PrimitiveWriter10 primitives;
    const TransformIndexMap& transforms;
    const MaterialList& materials;
    // A material's position in `materials` (its first, should it stand
    // twice): render records look theirs up here, so a file of many
    // materials is not searched once per node.
    std::unordered_map<const BaseMaterial*, std::uint32_t> materialIndex;
};

}  // namespace model
