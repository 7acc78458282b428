#pragma once
// Registration of the module's functions and classes.
//
// Classes are registered in two phases so that every class exists before a
// method that names it is defined (pybind11 renders a signature from the
// classes known at definition time): the declare functions create the
// Python classes, in the order of the module's class table; the bind
// functions then add their constructors and methods. pytav_module.cpp calls
// them in that order.

#include <pybind11/pybind11.h>

#include "ScriptTypeNames.h"

namespace pytav {

void bindModuleFunctions(pybind11::module_& m);

// Phase 1: the Python classes, each family in table order.
void declareModel(pybind11::module_& m);       // Model
void declareSceneNodes(pybind11::module_& m);  // Node .. AnimationNode
void declareBlocks(pybind11::module_& m);      // IBlock .. GlassBlock
void declareRenderNode(pybind11::module_& m);  // IRenderNode (constructor included)
void declareFakeLights(pybind11::module_& m);  // FakeOmniLight .. AnimatedFakeSpotLight
void declareShells(pybind11::module_& m);      // SegmentsNode, ShellNode
void declareConnector(pybind11::module_& m);   // Connector
void declareLights(pybind11::module_& m);      // OmniLight, SpotLight
void declareBone(pybind11::module_& m);        // Bone
void declareProperties(pybind11::module_& m);  // PropertyFloat, PropertyFloat2, PropertyFloat3
void declarePBRNode(pybind11::module_& m);     // PBRNode
void declareMirrorNode(pybind11::module_& m);  // MirrorNode
void declareColorNode(pybind11::module_& m);   // ColorNode
void declareDeckNode(pybind11::module_& m);    // DeckNode

// Phase 2: constructors, then methods, of each family's classes.
void bindModel(pybind11::module_& m);
void bindSceneNodes(pybind11::module_& m);  // Bone included
void bindLights(pybind11::module_& m);
void bindProperties(pybind11::module_& m);
void bindBlocks(pybind11::module_& m);
void bindPBRNode(pybind11::module_& m);
void bindFakeLights(pybind11::module_& m);
void bindShells(pybind11::module_& m);
void bindConnector(pybind11::module_& m);
void bindMirrorNode(pybind11::module_& m);
void bindColorNode(pybind11::module_& m);
void bindDeckNode(pybind11::module_& m);

}  // namespace pytav
