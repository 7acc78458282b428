#pragma once
// model::OptimizerTrait: how a tree node takes part in transform optimisation.
//
// Contract:
//  - getOptimizerKind(): kMergesTransform (0) for nodes that absorb a parent
//    transform into their own matrix (transform and animation nodes),
//    kKeepsPlace (1) for nodes that must stay under their transform (bones,
//    billboards, LOD nodes, temporary number roots), kPassesThrough (2) for
//    nodes a transform can be pushed below (plain and visibility nodes).
//  - mergeTransform(M): a merging node sets its matrix to own * M; others
//    ignore it.
//  - protectsChildren(): true when the optimisers must neither remove nor
//    move this node's children (LOD nodes).

#include <cstdint>

#include "Matrix.h"

namespace model {

class OptimizerTrait {
public:
    static constexpr std::uint32_t kMergesTransform = 0;
    static constexpr std::uint32_t kKeepsPlace = 1;
    static constexpr std::uint32_t kPassesThrough = 2;

    virtual std::uint32_t getOptimizerKind() const = 0;
    virtual void mergeTransform(const Matrix44d& m) = 0;
    virtual bool protectsChildren() const = 0;

protected:
    ~OptimizerTrait() = default;
};

}  // namespace model
