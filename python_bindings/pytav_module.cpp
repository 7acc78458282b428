// Module entry of pytav. PYBIND11_MODULE refuses an interpreter whose minor
// version differs from the one the module was compiled for, and turns an
// exception escaping the body into ImportError.

#include "Bindings.h"

PYBIND11_MODULE(pytav, m) {
    pytav::bindModuleFunctions(m);

    // The class table, in registration order.
    pytav::declareModel(m);
    pytav::declareSceneNodes(m);
    pytav::declareBlocks(m);
    pytav::declareRenderNode(m);
    pytav::declareFakeLights(m);
    pytav::declareShells(m);
    pytav::declareConnector(m);
    pytav::declareLights(m);
    pytav::declareBone(m);
    pytav::declareProperties(m);
    pytav::declarePBRNode(m);
    pytav::declareMirrorNode(m);
    pytav::declareColorNode(m);
    pytav::declareDeckNode(m);

    pytav::bindModel(m);
    pytav::bindSceneNodes(m);
    pytav::bindLights(m);
    pytav::bindProperties(m);
    pytav::bindBlocks(m);
    pytav::bindPBRNode(m);
    pytav::bindFakeLights(m);
    pytav::bindShells(m);
    pytav::bindConnector(m);
    pytav::bindMirrorNode(m);
    pytav::bindColorNode(m);
    pytav::bindDeckNode(m);
}
