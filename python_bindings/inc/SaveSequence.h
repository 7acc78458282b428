#pragma once
// The save sequence of a script's model: checks, graph optimisation, box
// completion, and the hand-over to the root node's writer.
//
// Contract:
//  - saveModel(root, path, version) runs the steps in their fixed order on
//    root, changing it in place (the changes stay after a failed save). It
//    returns the empty text when the file was written, else the message of
//    the qz::ExtException that stopped it; nothing is written then. Other
//    exceptions pass through. The path is taken whole (a NUL in it is kept
//    and refused by the root node's save, as is the empty path). The version is cut to its low
//    16 bits. The global thread pools are made on demand when the script
//    never called init. Right before writing, the finished model must hold
//    only finite numbers (utils/FiniteModel.h); else its message is returned and
//    nothing is written. Called with the interpreter lock held; the lock is
//    let go while the finished file is written.
//  - The single steps are exposed for the wrappers that need them; each
//    raises qz::ExtException with the message a script gets.

#include <cstdint>
#include <string>

#include "nodes/RootNode.h"
#include "utils/Workers.h"

namespace pytav {

std::string saveModel(model::RootNode& root, const std::string& path, std::uint32_t version);

// "Nodes having zero normals: " and the names (joined with ", ", each once,
// in render-node order) of the mesh render nodes with a three-component
// NORMAL0 whose squared length is below 0.0001 somewhere. With `workers`,
// the normals are checked on their pool (not from one of its tasks).
void checkZeroNormals(const model::RootNode& root, const model::utils::Workers& workers = model::utils::Workers());

// "if the model has bones, then you need to set a bounding box." when a
// skinned render node meets an invalid bounding box.
void checkBonesBoundingBox(const model::RootNode& root);

// Invalid bounding box -> computed; invalid user box -> the bounding box;
// light box -> empty without lights, computed when invalid.
void completeBoxes(model::RootNode& root);

}  // namespace pytav
