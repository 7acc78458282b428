#pragma once
// Geometry helpers shared by the node classes that bake a transform into
// their own data or derive boxes from it.

#include <cstddef>
#include <functional>

#include <osg/Vec3f>

#include "Matrix.h"
#include "Vertices.h"
#include "nodes/BoundingBox.h"

namespace model::geometry {

// A point p * M, divided by the homogeneous coordinate.
osg::Vec3f transformPoint(const osg::Vec3f& p, const Matrix44d& m);

// A direction d * M (upper 3x3 only), scaled back to d's length.
osg::Vec3f transformDirection(const osg::Vec3f& d, const Matrix44d& m);

// Applies m to the rows of the selected vertices: POSITION0/1 as points
// (further components kept), NORMAL0/1 by the inverse transpose, TANGENT0/1
// and BINORMAL0/1 as directions (handedness kept); normals and tangent frames
// keep their lengths. Other attributes are untouched.
void transformVertices(Vertices& vertices, const Matrix44d& m, const std::function<bool(std::size_t)>& selected);
// The same for every vertex.
void transformVertices(Vertices& vertices, const Matrix44d& m);

// The box of POSITION0 (x, y, z) over the selected vertices; empty without
// positions of three or more components.
BoundingBox positionsBox(const Vertices& vertices, const std::function<bool(std::size_t)>& selected);
BoundingBox positionsBox(const Vertices& vertices);

// The box of a box's eight corners transformed by m (points, divided by the
// homogeneous coordinate); an invalid box stays empty.
BoundingBox transformBox(const BoundingBox& box, const Matrix44d& m);

}  // namespace model::geometry
