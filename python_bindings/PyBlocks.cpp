// The Python classes of the material blocks, IBlock to GlassBlock.

#include <pybind11/pybind11.h>
#include "ScriptTypeNames.h"

#include "Bindings.h"
#include "NumpyArrays.h"
#include "PyProperties.h"
#include "PySceneNodes.h"
#include "blocks/AoBlock.h"
#include "blocks/AormsBlock.h"
#include "blocks/BaseBlock.h"
#include "blocks/BoneBlock.h"
#include "blocks/DamageBlock.h"
#include "blocks/DecalBlock.h"
#include "blocks/EmissiveBlock.h"
#include "blocks/FlirBlock.h"
#include "blocks/GlassBlock.h"
#include "blocks/NormalBlock.h"

namespace py = pybind11;

namespace pytav {

namespace {

// Setter of a uniform field from a property wrapper: the block shares the
// wrapper's current object.
template <class Block, class Wrapper>
auto uniform(void (Block::*setter)(const model::PropertyPtr&)) {
    return [setter](Block& self, const Wrapper& property) { (self.*setter)(property.getProperty()); };
}

void setBones(BoneBlock& self, const py::list& bones) {
    // Emptied first: a list item that isn't a Bone stops the copy with the
    // bones read so far.
    self.bones().clear();
    for (py::handle item : bones) self.bones().push_back(item.cast<const Bone&>().getModelNode());
}

}  // namespace

void declareBlocks(py::module_& m) {
    py::class_<IBlock>(m, "IBlock");
    py::class_<BaseBlock, IBlock>(m, "BaseBlock");
    py::class_<ColorBaseBlock, IBlock>(m, "ColorBaseBlock");
    py::class_<FlirBlock, IBlock>(m, "FlirBlock");
    py::class_<DamageBlock, IBlock>(m, "DamageBlock");
    py::class_<BoneBlock, IBlock>(m, "BoneBlock");
    py::class_<EmissiveBlock, IBlock>(m, "EmissiveBlock");
    py::class_<EmissiveColorBlock, IBlock>(m, "EmissiveColorBlock");
    py::class_<AoBlock, IBlock>(m, "AoBlock");
    py::class_<DecalBlock, IBlock>(m, "DecalBlock");
    py::class_<NormalBlock, IBlock>(m, "NormalBlock");
    py::class_<AormsBlock, IBlock>(m, "AormsBlock");
    py::class_<GlassBlock, IBlock>(m, "GlassBlock");
}

void bindBlocks(py::module_& m) {
    py::class_<IBlock>(m.attr("IBlock"))
        .def(py::init<>(), "The common base of material blocks.")
        .def("getTypeName", &IBlock::getTypeName, "The block's type name, as hasBlock and getBlock take it.");

    // GeometryBlock is no Python class: each BT_Base block binds the shared
    // setters itself.
    py::class_<BaseBlock, IBlock>(m.attr("BaseBlock"))
        .def(py::init<>(), "Positions, normals and albedo texture of a lit material.")
        .def("setPositions", floats<BaseBlock>(&BaseBlock::setPositions), py::arg("positions"),
             "Sets the positions, three floats per vertex.")
        .def("setNormals", floats<BaseBlock>(&BaseBlock::setNormals), py::arg("normals"),
             "Sets the normals, three floats per vertex.")
        .def("setAlbedoMapUV", floats(&BaseBlock::setAlbedoMapUV), py::arg("coordinates"),
             "Sets the albedo texture coordinates, two floats per vertex.")
        .def("setAlbedoMap", &BaseBlock::setAlbedoMap, py::arg("file"), "Sets the albedo texture's file name.")
        .def("setAlbedoMapUVShift", uniform<BaseBlock, PropertyFloat2>(&BaseBlock::setAlbedoMapUVShift),
             py::arg("shift"), "Sets the shift of the albedo texture coordinates.");

    py::class_<ColorBaseBlock, IBlock>(m.attr("ColorBaseBlock"))
        .def(py::init<>(), "Positions, normals and one colour of an untextured material.")
        .def("setPositions", floats<ColorBaseBlock>(&ColorBaseBlock::setPositions), py::arg("positions"),
             "Sets the positions, three floats per vertex.")
        .def("setNormals", floats<ColorBaseBlock>(&ColorBaseBlock::setNormals), py::arg("normals"),
             "Sets the normals, three floats per vertex.")
        .def("setColor", uniform<ColorBaseBlock, PropertyFloat3>(&ColorBaseBlock::setColor), py::arg("color"),
             "Sets the colour.");

    py::class_<FlirBlock, IBlock>(m.attr("FlirBlock"))
        .def(py::init<>(), "The infrared texture of a material.")
        .def("setFlirMap", &FlirBlock::setFlirMap, py::arg("file"), "Sets the infrared texture's file name.");

    py::class_<DamageBlock, IBlock>(m.attr("DamageBlock"))
        .def(py::init<>(), "The damage textures and mask of a material.")
        .def("setAlbedoMapUV", floats(&DamageBlock::setAlbedoMapUV), py::arg("coordinates"),
             "Sets the damage albedo coordinates, two floats per vertex.")
        .def("setNormalMapUV", floats(&DamageBlock::setNormalMapUV), py::arg("coordinates"),
             "Sets the damage normal-map coordinates, two floats per vertex.")
        .def("setAlbedoMap", &DamageBlock::setAlbedoMap, py::arg("file"),
             "Sets the damage albedo texture's file name.")
        .def("setNormalMap", &DamageBlock::setNormalMap, py::arg("file"), "Sets the damage normal map's file name.")
        .def("setMask", &DamageBlock::setMask, py::arg("file"), "Sets the damage mask's file name.")
        .def("setMaskRGBA", &DamageBlock::setMaskRGBA, py::arg("file"), "Sets the RGBA damage mask's file name.")
        .def("setArgument", &DamageBlock::setArgument, py::arg("argument"),
             "Sets the argument that drives the damage.");

    py::class_<BoneBlock, IBlock>(m.attr("BoneBlock"))
        .def(py::init<>(), "The bone weights and indices of a skinned material.")
        .def("setBoneWeights", floats(&BoneBlock::setBoneWeights), py::arg("weights"),
             "Sets the bone weights, four floats per vertex.")
        .def("setBoneIndices", indexList(&BoneBlock::setBoneIndices), py::arg("indices"),
             "Sets the bone indices, four per vertex.")
        .def("setBones", &setBones, py::arg("bones"), "Sets the bones the indices refer to.")
        .def("getBoneNames", &BoneBlock::getBoneNames, "The names of the bones, in index order.")
        .def("setBoneNames", &BoneBlock::setBoneNames, py::arg("names"),
             "Sets the names of the bones, in index order.");

    py::class_<EmissiveBlock, IBlock>(m.attr("EmissiveBlock"))
        .def(py::init<>(), "The self-illumination of a textured material.")
        .def("setEmissiveMap", &EmissiveBlock::setEmissiveMap, py::arg("file"),
             "Sets the emissive texture's file name.")
        .def("setEmissiveMapUV", floats(&EmissiveBlock::setEmissiveMapUV), py::arg("coordinates"),
             "Sets the emissive texture coordinates, two floats per vertex.")
        .def("setAmount", uniform<EmissiveBlock, PropertyFloat>(&EmissiveBlock::setAmount), py::arg("amount"),
             "Sets the amount of self-illumination.")
        .def("setColor", uniform<EmissiveBlock, PropertyFloat3>(&EmissiveBlock::setColor), py::arg("color"),
             "Sets the colour of self-illumination.")
        .def("setEmissiveType", &EmissiveBlock::setEmissiveType, py::arg("kind"),
             "Sets the kind of self-illumination.");

    py::class_<EmissiveColorBlock, IBlock>(m.attr("EmissiveColorBlock"))
        .def(py::init<>(), "The self-illumination of an untextured material.")
        .def("setColor", uniform<EmissiveColorBlock, PropertyFloat3>(&EmissiveColorBlock::setColor), py::arg("color"),
             "Sets the colour of self-illumination.")
        .def("setAmount", uniform<EmissiveColorBlock, PropertyFloat>(&EmissiveColorBlock::setAmount), py::arg("amount"),
             "Sets the amount of self-illumination.");

    py::class_<AoBlock, IBlock>(m.attr("AoBlock"))
        .def(py::init<>(), "The ambient-occlusion texture of a material.")
        .def("setAoMap", &AoBlock::setAoMap, py::arg("file"), "Sets the ambient-occlusion texture's file name.")
        .def("setAoMapUV", floats(&AoBlock::setAoMapUV), py::arg("coordinates"),
             "Sets the ambient-occlusion coordinates, two floats per vertex.")
        .def("setAoShift", uniform<AoBlock, PropertyFloat2>(&AoBlock::setAoShift), py::arg("shift"),
             "Sets the shift of the ambient-occlusion coordinates.");

    py::class_<DecalBlock, IBlock>(m.attr("DecalBlock"))
        .def(py::init<>(), "The decal texture of a material.")
        .def("setDecalMap", &DecalBlock::setDecalMap, py::arg("file"), "Sets the decal texture's file name.")
        .def("setDecalMapUV", floats(&DecalBlock::setDecalMapUV), py::arg("coordinates"),
             "Sets the decal coordinates, two floats per vertex.")
        .def("setDecalShift", uniform<DecalBlock, PropertyFloat2>(&DecalBlock::setDecalShift), py::arg("shift"),
             "Sets the shift of the decal coordinates.");

    py::class_<NormalBlock, IBlock>(m.attr("NormalBlock"))
        .def(py::init<>(), "The normal map of a material.")
        .def("setNormalMap", &NormalBlock::setNormalMap, py::arg("file"), "Sets the normal map's file name.")
        .def("setNormalMapUV", floats(&NormalBlock::setNormalMapUV), py::arg("coordinates"),
             "Sets the normal-map coordinates, two floats per vertex.");

    py::class_<AormsBlock, IBlock>(m.attr("AormsBlock"))
        .def(py::init<>(), "The AORMS texture of a material.")
        .def("setAormsMap", &AormsBlock::setAormsMap, py::arg("file"), "Sets the AORMS texture's file name.")
        .def("setAormsMapUV", floats(&AormsBlock::setAormsMapUV), py::arg("coordinates"),
             "Sets the AORMS coordinates, two floats per vertex.");

    py::class_<GlassBlock, IBlock>(m.attr("GlassBlock"))
        .def(py::init<>(), "Makes a material glass.")
        .def("setColorMap", &GlassBlock::setColorMap, py::arg("file"), "Sets the glass colour texture's file name.")
        .def("setInstrumental", &GlassBlock::setInstrumental, py::arg("instrumental"),
             "Marks the glass as an instrument's glass.");
}

}  // namespace pytav
