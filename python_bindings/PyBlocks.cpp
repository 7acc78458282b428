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
    py::class_<IBlock>(m.attr("IBlock")).def(py::init<>()).def("getTypeName", &IBlock::getTypeName);

    // GeometryBlock is no Python class: each BT_Base block binds the shared
    // setters itself.
    py::class_<BaseBlock, IBlock>(m.attr("BaseBlock"))
        .def(py::init<>())
        .def("setPositions", floats<BaseBlock>(&BaseBlock::setPositions))
        .def("setNormals", floats<BaseBlock>(&BaseBlock::setNormals))
        .def("setAlbedoMapUV", floats(&BaseBlock::setAlbedoMapUV))
        .def("setAlbedoMap", &BaseBlock::setAlbedoMap)
        .def("setAlbedoMapUVShift", uniform<BaseBlock, PropertyFloat2>(&BaseBlock::setAlbedoMapUVShift));

    py::class_<ColorBaseBlock, IBlock>(m.attr("ColorBaseBlock"))
        .def(py::init<>())
        .def("setPositions", floats<ColorBaseBlock>(&ColorBaseBlock::setPositions))
        .def("setNormals", floats<ColorBaseBlock>(&ColorBaseBlock::setNormals))
        .def("setColor", uniform<ColorBaseBlock, PropertyFloat3>(&ColorBaseBlock::setColor));

    py::class_<FlirBlock, IBlock>(m.attr("FlirBlock")).def(py::init<>()).def("setFlirMap", &FlirBlock::setFlirMap);

    py::class_<DamageBlock, IBlock>(m.attr("DamageBlock"))
        .def(py::init<>())
        .def("setAlbedoMapUV", floats(&DamageBlock::setAlbedoMapUV))
        .def("setNormalMapUV", floats(&DamageBlock::setNormalMapUV))
        .def("setAlbedoMap", &DamageBlock::setAlbedoMap)
        .def("setNormalMap", &DamageBlock::setNormalMap)
        .def("setMask", &DamageBlock::setMask)
        .def("setMaskRGBA", &DamageBlock::setMaskRGBA)
        .def("setArgument", &DamageBlock::setArgument);

    py::class_<BoneBlock, IBlock>(m.attr("BoneBlock"))
        .def(py::init<>())
        .def("setBoneWeights", floats(&BoneBlock::setBoneWeights))
        .def("setBoneIndices", indexList(&BoneBlock::setBoneIndices))
        .def("setBones", &setBones)
        .def("getBoneNames", &BoneBlock::getBoneNames)
        .def("setBoneNames", &BoneBlock::setBoneNames);

    py::class_<EmissiveBlock, IBlock>(m.attr("EmissiveBlock"))
        .def(py::init<>())
        .def("setEmissiveMap", &EmissiveBlock::setEmissiveMap)
        .def("setEmissiveMapUV", floats(&EmissiveBlock::setEmissiveMapUV))
        .def("setAmount", uniform<EmissiveBlock, PropertyFloat>(&EmissiveBlock::setAmount))
        .def("setColor", uniform<EmissiveBlock, PropertyFloat3>(&EmissiveBlock::setColor))
        .def("setEmissiveType", &EmissiveBlock::setEmissiveType);

    py::class_<EmissiveColorBlock, IBlock>(m.attr("EmissiveColorBlock"))
        .def(py::init<>())
        .def("setColor", uniform<EmissiveColorBlock, PropertyFloat3>(&EmissiveColorBlock::setColor))
        .def("setAmount", uniform<EmissiveColorBlock, PropertyFloat>(&EmissiveColorBlock::setAmount));

    py::class_<AoBlock, IBlock>(m.attr("AoBlock"))
        .def(py::init<>())
        .def("setAoMap", &AoBlock::setAoMap)
        .def("setAoMapUV", floats(&AoBlock::setAoMapUV))
        .def("setAoShift", uniform<AoBlock, PropertyFloat2>(&AoBlock::setAoShift));

    py::class_<DecalBlock, IBlock>(m.attr("DecalBlock"))
        .def(py::init<>())
        .def("setDecalMap", &DecalBlock::setDecalMap)
        .def("setDecalMapUV", floats(&DecalBlock::setDecalMapUV))
        .def("setDecalShift", uniform<DecalBlock, PropertyFloat2>(&DecalBlock::setDecalShift));

    py::class_<NormalBlock, IBlock>(m.attr("NormalBlock"))
        .def(py::init<>())
        .def("setNormalMap", &NormalBlock::setNormalMap)
        .def("setNormalMapUV", floats(&NormalBlock::setNormalMapUV));

    py::class_<AormsBlock, IBlock>(m.attr("AormsBlock"))
        .def(py::init<>())
        .def("setAormsMap", &AormsBlock::setAormsMap)
        .def("setAormsMapUV", floats(&AormsBlock::setAormsMapUV));

    py::class_<GlassBlock, IBlock>(m.attr("GlassBlock"))
        .def(py::init<>())
        .def("setColorMap", &GlassBlock::setColorMap)
        .def("setInstrumental", &GlassBlock::setInstrumental);
}

}  // namespace pytav
