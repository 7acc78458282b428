#pragma once
// model::TmpNumberRoot: the group node of a number display while the model is
// being built; the number-node conversion replaces it before writing.
//
// Contract:
//  - Holds the digit control records in digit order; addControls() appends,
//    setControls() replaces.
//  - It is written as a plain node: getSavedType() is Node (10) and accept()
//    calls the visitor's Node operation. getType() 25, optimiser kind 1.

#include "Node.h"
#include "nodes/NumberControl.h"

namespace model {

class TmpNumberRoot : public Node {
public:
    TmpNumberRoot() = default;
    TmpNumberRoot(const TmpNumberRoot&) = default;
    ~TmpNumberRoot() override = default;

    const NumberControlList& getControls() const noexcept { return controls_; }
    void setControls(NumberControlList controls) { controls_ = std::move(controls); }
    void addControls(const NumberControlList& controls) { controls_.insert(controls_.end(), controls.begin(), controls.end()); }

    std::uint32_t getOptimizerKind() const override { return kKeepsPlace; }
    NodeType getSavedType() const override { return NodeType::Node; }
    NodeType getType() const override { return NodeType::TmpNumberRoot; }
    // accept() is Node's: the visitor's Node operation.

private:
    NumberControlList controls_;
};

}  // namespace model
