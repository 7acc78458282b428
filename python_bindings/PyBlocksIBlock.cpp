// IBlock, the block type names and the contributions every block shares.

#include "blocks/pytav_iblock.h"

#include <array>

#include "Texture.h"
#include "qz/ExtException.h"

namespace pytav {

namespace {

constexpr std::array<const char*, 10> kBlockTypeNames = {
    "BT_Base", "BT_Normal", "BT_Flir", "BT_Damage", "BT_Aorms",
    "BT_Bone", "BT_Emissive", "BT_Ao", "BT_Decal", "BT_Glass",
};

}  // namespace

const char* blockTypeName(std::uint32_t type) noexcept {
    return type < kBlockTypeNames.size() ? kBlockTypeNames[type] : "UNKNOWN";
}

int blockTypeFromName(std::string_view name) noexcept {
    for (std::size_t i = 0; i < kBlockTypeNames.size(); ++i) {
        if (name == kBlockTypeNames[i]) return int(i);
    }
    return -1;
}

IBlock::~IBlock() = default;

BlockType IBlock::getType() const { QZ_THROW("Calling pure virtual function."); }

std::string IBlock::validate() const { QZ_THROW("Calling pure virtual function."); }

std::string IBlock::apply(model::PropertiesSet&, std::uint32_t&, const model::Indices&, VertexMap&) const {
    QZ_THROW("Calling pure virtual function.");
}

void IBlock::addCoordinates(model::PropertiesSet& material, std::uint32_t& texCoordCounter, std::size_t channelUse,
                            const std::vector<float>& coordinates, VertexMap& vertexMap) {
    const std::uint32_t channel = texCoordCounter;
    const std::uint32_t semantic = channel + model::TEXCOORD0;
    // Both raise before anything changes when the semantic is past the table.
    material.getVertexFormat()[semantic] = 2;
    vertexMap.setAttribute(semantic, 2, coordinates);
    material.getTexCoordChannels()[channelUse] = channel;
    texCoordCounter = channel + 1;
}

void IBlock::setTexture(model::PropertiesSet& material, std::size_t slot, const std::string& file) {
    material.setTexture(slot, model::makeTexture(file));
}

void IBlock::addUniform(model::PropertiesSet& material, const model::PropertyPtr& uniform, const char* name) {
    if (!uniform) return;
    uniform->setName(name);
    material.addUniform(uniform);
}

void IBlock::addZeroFrame(model::PropertiesSet& material, std::uint32_t code, VertexMap& vertexMap) {
    const std::size_t vertexCount = vertexMap.vertexCount();
    material.getVertexFormat()[code] = 3;
    vertexMap.setAttribute(code, 3, std::vector<float>(vertexCount * 3, 0.0f));
}

}  // namespace pytav
