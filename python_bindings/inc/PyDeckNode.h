#pragma once
// Wrapper of a tiled deck surface for Python: DeckNode (material
// "deck_material"; vertex attributes POSITION0 4, NORMAL0 3, TANGENT0 3,
// BINORMAL0 3, TEXCOORD0 2 (tiled), TEXCOORD1 2 (regular)).
//
// Contract (besides FixedMaterialRenderNode.h):
//  - The tiled maps (base, normal, AORMS: channel-table entries 0, 1, 2) read
//    TEXCOORD0, the regular ones (entries 3, 4, 7) TEXCOORD1.
//  - setPositions() appends (x, y, z, 0) per vertex (an empty list appends
//    nothing); setNormals(), setTiledUV(), setRegularUV(), setIndices() and
//    the texture names replace.
//  - setTransparentMode(), setDecalId(), setArgument() and setControlNode()
//    are kept and applied at build. A decal id above 255 raises
//    std::invalid_argument (ValueError): the material holds 8 bits.
//  - build(): "Vetex attribute {} isn't set." (tangent and binormal are
//    computed, not given), "Indices aren't set.", then "baseTiledMap isn't
//    set.", "normalTiledMap isn't set.", "aormsTiledMap isn't set.",
//    "baseMap isn't set.", "aormsMap isn't set.", "Control node isn't set.",
//    then the geometry checks. On success: TANGENT0/BINORMAL0 hold the
//    computed frame (DeckTangents.h), the model node the vertex data
//    and indices; texture slots 0 base tiled, 1 normal tiled, 2 AORMS tiled,
//    3 base, 4 AORMS, 5 rain mask, 6 damage mask, 7 damage, 9 damage RGBA
//    mask (empty names leave their slot unused); blending := transparent
//    mode when it is 0 to 3; decal := decal id; parent 0 := the control node
//    with the argument as its damage argument.

#include <cstdint>
#include <string>
#include <vector>

#include "FixedMaterialRenderNode.h"
#include "PySceneNodes.h"

namespace pytav {

class DeckNode : public FixedMaterialRenderNode {
public:
    DeckNode(const std::string& nodeName, const std::string& materialTitle);
    ~DeckNode() override;

    void setBaseTiledMap(const std::string& file) { baseTiledMap_ = file; }
    void setNormalTiledMap(const std::string& file) { normalTiledMap_ = file; }
    void setAormsTiledMap(const std::string& file) { aormsTiledMap_ = file; }
    void setBaseMap(const std::string& file) { baseMap_ = file; }
    void setAormsMap(const std::string& file) { aormsMap_ = file; }
    void setDamageMap(const std::string& file) { damageMap_ = file; }
    void setDamageMask(const std::string& file) { damageMask_ = file; }
    void setDamageMaskRGBA(const std::string& file) { damageMaskRGBA_ = file; }
    void setTiledUV(const std::vector<float>& coordinates);
    void setRegularUV(const std::vector<float>& coordinates);
    void setRainMask(const std::string& file) { rainMask_ = file; }
    void setTransparentMode(int mode) { transparentMode_ = mode; }
    void setDecalId(std::uint32_t id);
    void setArgument(std::uint32_t argument) { argument_ = argument; }
    void setControlNode(const Node& node) { controlNode_ = node.getModelNode(); }

    std::string build() override;

private:
    std::string baseTiledMap_;
    std::string normalTiledMap_;
    std::string aormsTiledMap_;
    std::string baseMap_;
    std::string aormsMap_;
    std::string damageMap_;
    std::string damageMask_;
    std::string damageMaskRGBA_;
    std::string rainMask_;
    int transparentMode_ = 0;
    std::uint8_t decalId_ = 0;
    std::uint32_t argument_ = model::kNoArgument;
    model::Ptr<model::Node> controlNode_;
};

}  // namespace pytav
