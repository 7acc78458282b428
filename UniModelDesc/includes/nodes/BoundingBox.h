#pragma once
// model::BoundingBox: an axis-aligned box of 32-bit floats, as model files
// store it (minimum x, y, z, then maximum x, y, z).
//
// Contract: a default box is the empty box (minima at the largest finite
// float, maxima at its negative). A box is valid when every maximum is at
// least its minimum; the empty box is not. expand() grows the box to contain
// a point; growing the empty box by one point gives that point's box.

#include <algorithm>
#include <limits>

#include <osg/Vec3f>

namespace model {

struct BoundingBox {
    static constexpr float kEmptyMin = std::numeric_limits<float>::max();

    osg::Vec3f minimum{kEmptyMin, kEmptyMin, kEmptyMin};
    osg::Vec3f maximum{-kEmptyMin, -kEmptyMin, -kEmptyMin};

    static BoundingBox empty() { return BoundingBox(); }
    static BoundingBox fromValues(float minX, float minY, float minZ, float maxX, float maxY, float maxZ) {
        BoundingBox box;
        box.minimum.set(minX, minY, minZ);
        box.maximum.set(maxX, maxY, maxZ);
        return box;
    }

    bool isValid() const noexcept {
        return maximum.x() >= minimum.x() && maximum.y() >= minimum.y() && maximum.z() >= minimum.z();
    }

    void expand(float x, float y, float z) noexcept {
        minimum.set(std::min(minimum.x(), x), std::min(minimum.y(), y), std::min(minimum.z(), z));
        maximum.set(std::max(maximum.x(), x), std::max(maximum.y(), y), std::max(maximum.z(), z));
    }
    // Grows the box to contain other; an invalid other changes nothing.
    void expand(const BoundingBox& other) noexcept {
        if (!other.isValid()) return;
        expand(other.minimum.x(), other.minimum.y(), other.minimum.z());
        expand(other.maximum.x(), other.maximum.y(), other.maximum.z());
    }

    // Exact comparison of the six floats.
    friend bool operator==(const BoundingBox& a, const BoundingBox& b) {
        return a.minimum == b.minimum && a.maximum == b.maximum;
    }
};

}  // namespace model
