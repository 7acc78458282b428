#pragma once
// Key types of animation nodes and the evaluation of key lists.
//
// Keys hold doubles: a position or scale key is (time, x, y, z); a rotation
// key is (time, x, y, z, w), a unit quaternion with its scalar part last.
// Key lists are expected in ascending time (the node keeps them as given).
//
// Evaluation of a list at argument value a:
//  - no keys: the zero vector (positions) or the identity (0, 0, 0, 1);
//  - a at or below the first time: the first value; at or above the last
//    time: the last value;
//  - otherwise the two keys around a (found by bisection) are interpolated
//    with f = (a - t0) / (t1 - t0): linearly for vectors, spherically for
//    quaternions along the shorter path (see slerpQuaternion).

#include <array>
#include <cstdint>
#include <vector>

#include "Matrix.h"

namespace model {

using Vec3d = std::array<double, 3>;
// x, y, z, w.
using Quatd = std::array<double, 4>;

inline constexpr Quatd kIdentityQuat{0.0, 0.0, 0.0, 1.0};

struct PositionKey {
    double time = 0.0;
    Vec3d value{0.0, 0.0, 0.0};
    friend bool operator==(const PositionKey&, const PositionKey&) = default;
};

struct RotationKey {
    double time = 0.0;
    Quatd value = kIdentityQuat;
    friend bool operator==(const RotationKey&, const RotationKey&) = default;
};

using ScaleKey = PositionKey;

Vec3d evaluatePositionKeys(const std::vector<PositionKey>& keys, double a);
Quatd evaluateRotationKeys(const std::vector<RotationKey>& keys, double a);

// Spherical interpolation from q0 (f = 0) to q1 (f = 1). With d the dot
// product, q1 is negated first when d < 0 (the shorter path); when
// 1 - d > 1e-5 the spherical weights are used, otherwise the linear ones.
Quatd slerpQuaternion(const Quatd& q0, const Quatd& q1, double f);

// a * b as quaternions: the rotation b followed by the rotation a applied to
// column vectors, i.e. (with the row-vector matrices of Matrix.h)
// rotationMatrix(a * b) == rotationMatrix(b) * rotationMatrix(a).
Quatd multiplyQuaternions(const Quatd& a, const Quatd& b);

// The row-vector rotation matrix of a quaternion (normalised first; a zero
// quaternion gives the identity).
Matrix44d rotationMatrix(const Quatd& q);
Matrix44d translationMatrix(const Vec3d& t);
Matrix44d scaleMatrix(const Vec3d& s);

// O * S * O^-1, with O the rotation matrix of orientation and S the diagonal
// scale: a scale along the axes of the orientation.
Matrix44d orientedScaleMatrix(const Quatd& orientation, const Vec3d& scale);

}  // namespace model
