#include "nodes/AnimationEvaluation.h"

#include <algorithm>
#include <cmath>

namespace model {

namespace {

// Below this, 1 - cos(theta) is too small for sin(theta) to divide by.
constexpr double kSlerpThreshold = 1e-5;

// The index i of the key pair (i - 1, i) around a, or 0 / keys.size() when a
// lies before the first / after the last key (NaN included).
template <class Key>
std::size_t upperKey(const std::vector<Key>& keys, double a) {
    const auto it = std::upper_bound(keys.begin(), keys.end(), a,
                                     [](double value, const Key& k) { return value < k.time; });
    return static_cast<std::size_t>(it - keys.begin());
}

// Clamps to the ends, then hands the two keys around a and the fraction to
// blend; keys are values of Key::value.
template <class Key, class Value, class Blend>
Value evaluate(const std::vector<Key>& keys, double a, const Value& none, Blend blend) {
    if (keys.empty()) return none;
    if (a <= keys.front().time) return keys.front().value;
    if (a >= keys.back().time) return keys.back().value;
    const std::size_t i = upperKey(keys, a);
    if (i == 0) return keys.front().value;
    if (i >= keys.size()) return keys.back().value;
    const Key& k0 = keys[i - 1];
    const Key& k1 = keys[i];
    const double span = k1.time - k0.time;
    // Only unsorted key lists get here with a non-positive span.
    if (!(span > 0.0)) return k0.value;
    return blend(k0.value, k1.value, (a - k0.time) / span);
}

}  // namespace

Vec3d evaluatePositionKeys(const std::vector<PositionKey>& keys, double a) {
    return evaluate(keys, a, Vec3d{0.0, 0.0, 0.0}, [](const Vec3d& v0, const Vec3d& v1, double f) {
        return Vec3d{v0[0] + (v1[0] - v0[0]) * f, v0[1] + (v1[1] - v0[1]) * f, v0[2] + (v1[2] - v0[2]) * f};
    });
}

Quatd evaluateRotationKeys(const std::vector<RotationKey>& keys, double a) {
    return evaluate(keys, a, kIdentityQuat, slerpQuaternion);
}

Quatd slerpQuaternion(const Quatd& q0, const Quatd& q1In, double f) {
    Quatd q1 = q1In;
    double d = q0[0] * q1[0] + q0[1] * q1[1] + q0[2] * q1[2] + q0[3] * q1[3];
    if (d < 0.0) {
        for (double& c : q1) c = -c;
        d = -d;
    }
    double w0 = 1.0 - f;
    double w1 = f;
    if (1.0 - d > kSlerpThreshold) {
        const double theta = std::acos(std::min(d, 1.0));
        const double s = std::sin(theta);
        w0 = std::sin((1.0 - f) * theta) / s;
        w1 = std::sin(f * theta) / s;
    }
    return Quatd{w0 * q0[0] + w1 * q1[0], w0 * q0[1] + w1 * q1[1], w0 * q0[2] + w1 * q1[2], w0 * q0[3] + w1 * q1[3]};
}

Quatd multiplyQuaternions(const Quatd& a, const Quatd& b) {
    const double ax = a[0], ay = a[1], az = a[2], aw = a[3];
    const double bx = b[0], by = b[1], bz = b[2], bw = b[3];
    return Quatd{aw * bx + ax * bw + ay * bz - az * by, aw * by - ax * bz + ay * bw + az * bx,
                 aw * bz + ax * by - ay * bx + az * bw, aw * bw - ax * bx - ay * by - az * bz};
}

Matrix44d rotationMatrix(const Quatd& qIn) {
    const double n = std::sqrt(qIn[0] * qIn[0] + qIn[1] * qIn[1] + qIn[2] * qIn[2] + qIn[3] * qIn[3]);
    if (!(n > 0.0) || !std::isfinite(n)) return Matrix44d::identity();
    const double x = qIn[0] / n, y = qIn[1] / n, z = qIn[2] / n, w = qIn[3] / n;
    // The column-vector rotation matrix, stored transposed for row vectors.
    Matrix44d r;
    r(0, 0) = 1 - 2 * (y * y + z * z);
    r(1, 0) = 2 * (x * y - z * w);
    r(2, 0) = 2 * (x * z + y * w);
    r(0, 1) = 2 * (x * y + z * w);
    r(1, 1) = 1 - 2 * (x * x + z * z);
    r(2, 1) = 2 * (y * z - x * w);
    r(0, 2) = 2 * (x * z - y * w);
    r(1, 2) = 2 * (y * z + x * w);
    r(2, 2) = 1 - 2 * (x * x + y * y);
    return r;
}

Matrix44d translationMatrix(const Vec3d& t) {
    Matrix44d m;
    m(3, 0) = t[0];
    m(3, 1) = t[1];
    m(3, 2) = t[2];
    return m;
}

Matrix44d scaleMatrix(const Vec3d& s) {
    Matrix44d m;
    m(0, 0) = s[0];
    m(1, 1) = s[1];
    m(2, 2) = s[2];
    return m;
}

Matrix44d orientedScaleMatrix(const Quatd& orientation, const Vec3d& scale) {
    const Matrix44d o = rotationMatrix(orientation);
    Matrix44d inverse = o;  // a rotation's inverse is its transpose
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) inverse(i, j) = o(j, i);
    return o * scaleMatrix(scale) * inverse;
}

}  // namespace model
