#pragma once
// Wrappers of the transform-tree nodes for Python: Node, Transform, Lod,
// NumberRoot, VisibilityNode, AnimationNode and Bone.
//
// Each wrapper makes its model node through the class registry, names it, and
// holds a counted reference to it (as model::Node, plus one as the node's own
// class). Dropping a wrapper releases only its references: a node attached
// to a tree lives on in it. Later calls on a wrapper still change the node in
// the model, since attaching never copies.
//
// Argument forms (as pybind11 converts them from Python):
//  - MatrixRows: four rows of four floats, in reading order, of a matrix that
//    transforms column vectors. Stored transposed and widened to doubles, so
//    the model gets the row-vector form (translation in elements 12..14).
//    Rows past the fourth are ignored (not checked); fewer than four raise
//    std::invalid_argument ("matrix must have 4 rows of 4 values") and
//    nothing is changed.
//  - Every float that reaches the file must be finite: a NaN or an infinity
//    in a matrix, an animation key (an infinite time; a NaN time raises
//    "key time is not a number"), a visibility key, a level distance or a
//    control value raises std::invalid_argument ("{What} holds a value that
//    is not finite.", FiniteArguments.h) and nothing is changed.
//  - Animation and visibility entries: (argument number, keys), processed as
//    each setter states and handed to the node in input order, replacing
//    what it had.
//
// Errors: tree mistakes (a node added below itself) raise qz::ExtException;
// refused arguments raise std::invalid_argument, as stated above.

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "Matrix.h"
#include "Node.h"
#include "nodes/ArgAnimationNode.h"
#include "nodes/ArgVisibilityNode.h"
#include "nodes/Bone.h"
#include "nodes/LodNode.h"
#include "nodes/TmpNumberRoot.h"
#include "nodes/TransformNode.h"

namespace pytav {

using MatrixRows = std::vector<std::tuple<float, float, float, float>>;
using Vec3Tuple = std::tuple<float, float, float>;
using QuatTuple = std::tuple<float, float, float, float>;

// (argument number, [(time, (x, y, z))])
using PyVectorAnimation = std::vector<std::tuple<std::uint32_t, std::vector<std::tuple<float, Vec3Tuple>>>>;
// (argument number, [(time, (w, x, y, z))]): scalar part first.
using PyRotationAnimation = std::vector<std::tuple<std::uint32_t, std::vector<std::tuple<float, QuatTuple>>>>;
// (argument number, [(position, value)])
using PyVisibilityArguments = std::vector<std::tuple<std::uint32_t, std::vector<std::tuple<float, float>>>>;
// (argument, value, second argument, second value)
using PyNumberControls = std::vector<std::tuple<float, float, float, float>>;

// Transposes and widens the first four rows; std::invalid_argument unless
// there are at least four rows and those hold finite values.
model::Matrix44d toModelMatrix(const MatrixRows& rows);

// Squared level distances: range i is (d(i-1)^2 or 0, di^2), in input order.
std::vector<model::LodRange> toLodRanges(const std::vector<float>& distances);

// The visible ranges of one visibility entry, from keys (position, value) in
// the order given: a value of at least 0.5 shows, below hides. One key gives
// (-1, 1) when it shows and nothing otherwise; with more, a range still open
// after the last key is closed at 1.0001 (when it starts below that).
std::vector<model::VisibilityRange> toVisibleRanges(const std::vector<std::tuple<float, float>>& keys);

// Control record from script values: an argument is the value truncated
// toward zero, -1 (none) when negative. std::invalid_argument for a NaN or
// an argument beyond the 32-bit signed range.
model::NumberControl toNumberControl(const std::tuple<float, float, float, float>& values);

// Sorted, reduced key lists (tolerance 0.0001). Rotation keys come in as
// (w, x, y, z) and are stored as (x, y, z, w); they reduce along the
// spherical interpolation, position and scale keys along the linear one.
std::vector<model::PositionKey> toPositionKeys(const std::vector<std::tuple<float, Vec3Tuple>>& keys);
std::vector<model::RotationKey> toRotationKeys(const std::vector<std::tuple<float, QuatTuple>>& keys);

class Node {
public:
    explicit Node(const std::string& name);
    virtual ~Node();

    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    std::string getName() const;
    // Appends child's node as the last child of this node, detaching it from
    // a previous parent first.
    void addChild(const Node& child);

    const model::Ptr<model::Node>& getModelNode() const noexcept { return node_; }

protected:
    // Takes a node made by a derived wrapper and names it.
    Node(model::Ptr<model::Node> node, const std::string& name);

private:
    model::Ptr<model::Node> node_;
};

class Transform : public Node {
public:
    explicit Transform(const std::string& name);
    Transform(const std::string& name, const MatrixRows& matrix);

    void setMatrix(const MatrixRows& matrix);

protected:
    Transform(model::Ptr<model::TransformNode> node, const std::string& name);

private:
    model::Ptr<model::TransformNode> transform_;
};

class Lod : public Node {
public:
    Lod(const std::string& name, const std::vector<float>& distances);

private:
    model::Ptr<model::LodNode> lod_;
};

class NumberRoot : public Node {
public:
    explicit NumberRoot(const std::string& name);

    // Appends one record per tuple; earlier records stay.
    void setControls(const PyNumberControls& controls);

private:
    explicit NumberRoot(model::Ptr<model::Node> node, const std::string& name);

    // Null when the registry's node is not a number root (type 25).
    model::Ptr<model::TmpNumberRoot> numberRoot_;
};

class VisibilityNode : public Node {
public:
    explicit VisibilityNode(const std::string& name);

    void setArguments(const PyVisibilityArguments& arguments);

private:
    model::Ptr<model::ArgVisibilityNode> visibility_;
};

class AnimationNode : public Node {
public:
    explicit AnimationNode(const std::string& name);

    void setBaseMatrix(const MatrixRows& matrix);
    void setPositionAnimation(const PyVectorAnimation& entries);
    void setRotationAnimation(const PyRotationAnimation& entries);
    // Scale entries keep an empty scale-orientation key list.
    void setScaleAnimation(const PyVectorAnimation& entries);

private:
    model::Ptr<model::ArgAnimationNode> animation_;
};

class Bone : public Node {
public:
    explicit Bone(const std::string& name);
    Bone(const std::string& name, const MatrixRows& matrix);

    void setMatrix(const MatrixRows& matrix);
    void setInvertedBaseBoneMatrix(const MatrixRows& matrix);

private:
    Bone(model::Ptr<model::Bone> node, const std::string& name);

    model::Ptr<model::Bone> bone_;
};

}  // namespace pytav
