#pragma once
// pytav::IBlock: one aspect of a PBR render node's surface (base geometry and
// albedo, normal map, emission, damage, skinning, ...), and the block types.
//
// Contract:
//  - getType(): the block's type. validate(): the empty text when the block
//    holds what apply() needs, else the message for the script; never
//    raises. apply(material, counter, indices, vertexMap): adds the block's
//    contribution to the material and the node's vertex data and returns the
//    empty text; raises std::out_of_range only for data that can't be placed
//    (a texture-coordinate channel past the vertex format, bone indices past
//    their list).
//  - The base class implements none of the three: each raises
//    qz::ExtException("Calling pure virtual function.").
//  - apply() never changes the block itself, with one exception: the uniform
//    property objects it hands to the material are renamed in place (they
//    are shared with the script's property wrappers and other consumers).
//  - The counter is the node's texture-coordinate counter: 0 for the first
//    block of a build. A block bringing coordinates stores them as TEXCOORD
//    channel c (semantic c + 4) with c the counter's value, records c in its
//    entry of the material's channel table, and increments the counter.
//  - The vertex map is the node's vertex data, filled by the blocks in type
//    order; a block reads the vertex count from it (rows of POSITION0).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "IProperty.h"
#include "Indices.h"
#include "PropertiesSet.h"
#include "Vertices.h"

namespace pytav {

enum BlockType : std::uint32_t {
    BT_Base = 0,
    BT_Normal = 1,
    BT_Flir = 2,
    BT_Damage = 3,
    BT_Aorms = 4,
    BT_Bone = 5,
    BT_Emissive = 6,
    BT_Ao = 7,
    BT_Decal = 8,
    BT_Glass = 9,
};

// "BT_Base" ... "BT_Glass"; "UNKNOWN" for any other code. The text is static.
const char* blockTypeName(std::uint32_t type) noexcept;
// The code of one of the ten names (exact byte comparison), else -1.
int blockTypeFromName(std::string_view name) noexcept;

using VertexMap = model::Vertices;

class IBlock {
public:
    IBlock() = default;
    virtual ~IBlock();

    IBlock(const IBlock&) = delete;
    IBlock& operator=(const IBlock&) = delete;

    virtual BlockType getType() const;
    virtual std::string validate() const;
    virtual std::string apply(model::PropertiesSet& material, std::uint32_t& texCoordCounter,
                              const model::Indices& indices, VertexMap& vertexMap) const;

    std::string getTypeName() const { return blockTypeName(getType()); }

protected:
    // Stores coordinates as the next TEXCOORD channel: format entry and
    // vertex attribute (2 components, replacing what the semantic held),
    // channel-table entry `channelUse`, counter + 1. std::out_of_range when
    // the channel's semantic is 26 or more.
    static void addCoordinates(model::PropertiesSet& material, std::uint32_t& texCoordCounter,
                               std::size_t channelUse, const std::vector<float>& coordinates,
                               VertexMap& vertexMap);
    // Texture slot `slot` := a default texture of `file` (unused when empty).
    static void setTexture(model::PropertiesSet& material, std::size_t slot, const std::string& file);
    // Renames a set uniform and puts it into the material (replacing one of
    // that name); a null uniform is skipped.
    static void addUniform(model::PropertiesSet& material, const model::PropertyPtr& uniform, const char* name);
    // A three-component attribute of 3 * vertexCount zeros, with its format
    // entry (the tangent frame that normal-mapped blocks reserve).
    static void addZeroFrame(model::PropertiesSet& material, std::uint32_t code, VertexMap& vertexMap);
};

}  // namespace pytav
