#pragma once
// Light positions of the fake light sets: baking a parent's transform into
// them and their boxes per parent.

#include <cstddef>
#include <vector>

#include "Matrix.h"
#include "nodes/BoundingBox.h"

namespace model::fakelights {

// Applies m (dividing by the homogeneous coordinate) to the position of every
// light whose parent index is parent.
template <class Light>
void transformPositions(std::vector<Light>& lights, std::size_t parent, const Matrix44d& m) {
    for (Light& light : lights)
        if (light.parentIndex == parent) light.position = m.transformPoint(light.position[0], light.position[1], light.position[2]);
}

template <class Light>
BoundingBox positionsBox(const std::vector<Light>& lights, std::size_t parent) {
    BoundingBox box;
    for (const Light& light : lights)
        if (light.parentIndex == parent)
            box.expand(static_cast<float>(light.position[0]), static_cast<float>(light.position[1]),
                       static_cast<float>(light.position[2]));
    return box;
}

}  // namespace model::fakelights
