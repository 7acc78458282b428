#pragma once
// model::SegmentsNode: a set of line segments under one control node.
//
// Contract:
//  - Segments are pairs of points (six floats), kept in the order given.
//  - transformGeometry(0, M) applies M to every end point and returns true.
//  - isEmpty(): no segments. getType() 15, visitor slot SegmentsNode.

#include <vector>

#include <osg/Vec3f>

#include "nodes/BaseShellNode.h"

namespace model {

struct Segment {
    osg::Vec3f start;
    osg::Vec3f end;
    friend bool operator==(const Segment& a, const Segment& b) { return a.start == b.start && a.end == b.end; }
};

class SegmentsNode : public BaseShellNode {
public:
    SegmentsNode() = default;
    SegmentsNode(const SegmentsNode&) = default;
    ~SegmentsNode() override = default;

    const std::vector<Segment>& getSegments() const noexcept { return segments_; }
    void setSegments(std::vector<Segment> segments) { segments_ = std::move(segments); }

    bool transformGeometry(std::size_t parentIndex, const Matrix44d& m) override;
    bool takesGeometryTransform(std::size_t parentIndex) const override;
    bool isEmpty() const override { return segments_.empty(); }

    NodeType getType() const override { return NodeType::SegmentsNode; }
    void accept(INodeVisitor& visitor) override;
    void accept(INodeVisitor& visitor) const override;

private:
    std::vector<Segment> segments_;
};

}  // namespace model
