#pragma once
// model::Matrix44d: 4x4 matrix of doubles, row-major, row-vector convention.
//
// A point p is transformed as p * M (translation in elements 12, 13, 14), so
// A * B applies A first. A default-constructed matrix is the identity. The
// memory image is the 16 doubles in row-major order (128 bytes), which is how
// model files store matrices.

#include <array>
#include <cmath>

namespace model {

// The identity tolerance of the optimisers: the 32-bit float 1e-5 widened.
inline constexpr double kIdentityTolerance = static_cast<double>(1e-5f);

struct Matrix44d {
    std::array<double, 16> m{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

    static Matrix44d identity() { return Matrix44d(); }

    double& operator()(int row, int col) { return m[row * 4 + col]; }
    double operator()(int row, int col) const { return m[row * 4 + col]; }

    friend Matrix44d operator*(const Matrix44d& a, const Matrix44d& b) {
        Matrix44d r;
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j) {
                double s = 0;
                for (int k = 0; k < 4; ++k) s += a(i, k) * b(k, j);
                r(i, j) = s;
            }
        return r;
    }
    Matrix44d& operator*=(const Matrix44d& b) { return *this = *this * b; }

    friend bool operator==(const Matrix44d&, const Matrix44d&) = default;

    // Every element within tolerance of the identity's.
    bool isIdentity(double tolerance = kIdentityTolerance) const {
        for (int i = 0; i < 16; ++i)
            if (std::fabs(m[i] - ((i % 5 == 0) ? 1.0 : 0.0)) > tolerance) return false;
        return true;
    }

    // (x, y, z, 1) * M, divided by the resulting homogeneous coordinate when
    // that is not zero.
    std::array<double, 3> transformPoint(double x, double y, double z) const {
        std::array<double, 4> r{};
        for (int j = 0; j < 4; ++j) r[j] = x * m[j] + y * m[4 + j] + z * m[8 + j] + m[12 + j];
        if (r[3] != 0.0 && r[3] != 1.0)
            for (int j = 0; j < 3; ++j) r[j] /= r[3];
        return {r[0], r[1], r[2]};
    }
};

static_assert(sizeof(Matrix44d) == 128, "a matrix is stored as its 16 doubles");

}  // namespace model
