#pragma once
// model::ArgVisibilityNode: shows what hangs below it only while animation
// arguments lie in given ranges.
//
// Contract:
//  - Entries: an argument number and a list of ranges [start, end) of
//    doubles, kept in the order given.
//  - isVisibleHere(args): false when some entry has no range with
//    start <= args.getArgument(entry.argument) < end (the float value widened
//    to double); an entry without ranges therefore always hides.
//  - forEachArgument(): the node's properties, then every entry's argument.
//  - controlsVisibility() is true. getType() 5, visitor slot
//    ArgVisibilityNode, optimiser kind 2.

#include <cstdint>
#include <vector>

#include "Node.h"

namespace model {

struct VisibilityRange {
    double start = 0.0;
    double end = 0.0;
    friend bool operator==(const VisibilityRange&, const VisibilityRange&) = default;
};

struct VisibilityEntry {
    std::uint32_t argument = kNoArgument;
    std::vector<VisibilityRange> ranges;
    friend bool operator==(const VisibilityEntry&, const VisibilityEntry&) = default;
};

class ArgVisibilityNode : public Node {
public:
    ArgVisibilityNode() = default;
    ArgVisibilityNode(const ArgVisibilityNode&) = default;
    ~ArgVisibilityNode() override = default;

    const std::vector<VisibilityEntry>& getEntries() const noexcept { return entries_; }
    void setEntries(std::vector<VisibilityEntry> entries) { entries_ = std::move(entries); }

    bool isVisibleHere(const IModelArguments& args) const override;
    void forEachArgument(const ArgumentCallback& callback) const override;
    bool controlsVisibility() const override { return true; }

    NodeType getType() const override { return NodeType::ArgVisibilityNode; }
    void accept(INodeVisitor& visitor) override;
    void accept(INodeVisitor& visitor) const override;

private:
    std::vector<VisibilityEntry> entries_;
};

}  // namespace model
