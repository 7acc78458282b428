#pragma once
// The Python class Model: one model::RootNode with its top transform, the
// lists of what a script adds, the three boxes, and the save sequence.
//
// Contract:
//  - A new Model holds a root node made by the class registry and a Node
//    wrapper named "root" whose node is the root node's top node.
//    getRootTransform() returns that wrapper; its Python object is shared
//    between the Model and every script reference, so it stays valid while
//    either lives and is the same object on every call.
//  - Add operations append a new counted reference to the model object in
//    call order (the same object twice is listed twice); the model object
//    outlives the Python wrapper.
//  - Boxes are stored as given (minimum x, y, z, maximum x, y, z); a box
//    holding a NaN or an infinity raises std::invalid_argument (ValueError)
//    "{Bounding box|User box|Light box} holds a value that is not finite."
//    and the box stays as it was. The empty box's bounds are finite.
//  - addShellNode(): builds the shell and adds it whatever the build says
//    (a failed build leaves the model node as it was). A failed build is
//    logged as "{name}: {message}" at WARNING under "PYTAV" and remembered
//    until a later addShellNode of the same shell builds it.
//  - save(): while some added shell's latest build failed, returns
//    "Shell '{name}': {build message}" for each such shell, in the order
//    they were added and joined by a space, before anything is done: the
//    model is not changed and no file is written. Otherwise see
//    SaveSequence.h; returns the empty text or the message.
//  - Dropping the Model releases the root node; every model object attached
//    only through it goes with it.
//
// Must be created and destroyed with the interpreter lock held (it owns a
// Python reference).

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include <pybind11/pybind11.h>

#include "PyLights.h"
#include "PyRenderNode.h"
#include "PySceneNodes.h"
#include "PyShells.h"
#include "SavePath.h"
#include "nodes/RootNode.h"

namespace pytav {

using BoxValues = std::tuple<float, float, float, float, float, float>;

class Model {
public:
    Model();
    ~Model();

    Model(const Model&) = delete;
    Model& operator=(const Model&) = delete;

    Node& getRootTransform() const noexcept { return *rootTransform_; }

    void setBBox(const BoxValues& box);
    void setUserBox(const BoxValues& box);
    void setLightBox(const BoxValues& box);

    std::string save(const SavePath& path, std::uint32_t version);

    // Builds node; on success adds its model node to the render list and
    // returns "", else logs "{name}: {message}" at WARNING under "PYTAV",
    // adds nothing and returns the message. A built node whose vertex data
    // holds a NaN or an infinity is refused the same way with
    // "Vertex data of {name} holds a value that is not finite.".
    std::string addRenderNode(IRenderNode& node);

    // Omni and spot lights share the root node's light list.
    void addLight(const Light& light);

    void addShellNode(IShellNode& shell);

    model::RootNode& getRoot() const noexcept { return *root_; }

private:
    // A shell whose latest build failed: its model node went into the list
    // as it was, and the file would silently lack the shell.
    struct FailedShell {
        model::Ptr<model::ShellNode> node;
        std::string name;
        std::string message;
    };

    // The save's text for the failed shells; empty when there are none.
    std::string failedShellsMessage() const;

    model::Ptr<model::RootNode> root_;
    std::vector<FailedShell> failedShells_;
    // Owns the "root" wrapper on the Python side (shared with scripts).
    pybind11::object rootTransformObject_;
    Node* rootTransform_ = nullptr;
};

}  // namespace pytav
