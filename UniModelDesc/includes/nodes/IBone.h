#pragma once
// model::IBone: the bone side of a skeleton node (model::Bone,
// model::ArgAnimatedBone).
//
// Contract: the bone matrix (the inverted base-bone matrix that skinning
// uses) is the identity until set; getNode() is the tree node that is this
// bone; getLocalMatrix() is the bone's current local matrix (a Bone's
// transform matrix, the identity for an animated bone).

#include "Matrix.h"

namespace model {

class Node;

class IBone {
public:
    virtual ~IBone() = default;
    virtual void setBoneMatrix(const Matrix44d& m) = 0;
    virtual const Matrix44d& getBoneMatrix() const = 0;
    virtual Node& getNode() = 0;
    virtual const Node& getNode() const = 0;
    virtual const Matrix44d& getLocalMatrix() const = 0;

protected:
    IBone() = default;
    IBone(const IBone&) = default;
    IBone& operator=(const IBone&) = default;
};

}  // namespace model
