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
//  - Boxes are stored as given (minimum x, y, z, maximum x, y, z).
//  - save(): see SaveSequence.h; returns the empty text or the message.
//  - Dropping the Model releases the root node; every model object attached
//    only through it goes with it.
//
// Must be created and destroyed with the interpreter lock held (it owns a
// Python reference).

#include <cstdint>
#include <string>
#include <tuple>

#include <pybind11/pybind11.h>

#include "PyLights.h"
#include "PyRenderNode.h"
#include "PySceneNodes.h"
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

    model::RootNode& getRoot() const noexcept { return *root_; }

private:
    model::Ptr<model::RootNode> root_;
    // Owns the "root" wrapper on the Python side (shared with scripts).
    pybind11::object rootTransformObject_;
    Node* rootTransform_ = nullptr;
};

}  // namespace pytav
