#include "nodes/GeometryTransform.h"

#include <cmath>

namespace model::geometry {

namespace {

using Matrix3 = std::array<std::array<double, 3>, 3>;

Matrix3 upper3x3(const Matrix44d& m) {
    Matrix3 r{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) r[i][j] = m(i, j);
    return r;
}

// The matrix that turns normals of row vectors: the inverse transpose. A
// singular matrix flattens the surface, and its own 3x3 is the best guess.
Matrix3 normalMatrix(const Matrix44d& m) {
    const Matrix3 a = upper3x3(m);
    Matrix3 cof{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const int i1 = (i + 1) % 3, i2 = (i + 2) % 3, j1 = (j + 1) % 3, j2 = (j + 2) % 3;
            cof[i][j] = a[i1][j1] * a[i2][j2] - a[i1][j2] * a[i2][j1];
        }
    const double det = a[0][0] * cof[0][0] + a[0][1] * cof[0][1] + a[0][2] * cof[0][2];
    if (det == 0.0 || !std::isfinite(det)) return a;
    // (A^-1)^T = cofactor matrix / det.
    for (auto& row : cof)
        for (double& v : row) v /= det;
    return cof;
}

void applyDirection(float* v, const Matrix3& m) {
    const double x = v[0], y = v[1], z = v[2];
    const double length = std::sqrt(x * x + y * y + z * z);
    double r[3];
    for (int j = 0; j < 3; ++j) r[j] = x * m[0][j] + y * m[1][j] + z * m[2][j];
    const double newLength = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
    const double scale = newLength > 0.0 ? length / newLength : 1.0;
    for (int j = 0; j < 3; ++j) v[j] = static_cast<float>(r[j] * scale);
}

// applyDirection under a matrix whose 3x3 is the identity, as the
// transforms that only move an object have: each new component then has the
// old one's magnitude (or is NaN), the two lengths are equal and the scale is
// exactly 1, so the products and sums alone give the same floats, bit for
// bit (-0 included), without the two square roots and the division.
void applyIdentityDirection(float* v, const Matrix3& m) {
    const double x = v[0], y = v[1], z = v[2];
    for (int j = 0; j < 3; ++j) v[j] = static_cast<float>(x * m[0][j] + y * m[1][j] + z * m[2][j]);
}

bool isIdentity(const Matrix3& m) {
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            if (m[i][j] != (i == j ? 1.0 : 0.0)) return false;
    return true;
}

// The selection is a template parameter so that a whole mesh's rows, the
// common case, go through a loop with no call per row.
template <class Selected, class Fn>
void forSelectedRows(VertexAttribute* attribute, const Selected& selected, Fn fn) {
    if (!attribute || attribute->components < 3) return;
    const std::size_t rows = attribute->rowCount();
    for (std::size_t v = 0; v < rows; ++v)
        if (selected(v)) fn(attribute->data.data() + v * attribute->components);
}

template <class Selected>
void transformRows(Vertices& vertices, const Matrix44d& m, const Selected& selected) {
    for (uint32_t code : {POSITION0, POSITION1})
        forSelectedRows(vertices.findAttribute(code), selected, [&m](float* row) {
            const auto r = m.transformPoint(row[0], row[1], row[2]);
            for (int j = 0; j < 3; ++j) row[j] = static_cast<float>(r[j]);
        });
    const Matrix3 normals = normalMatrix(m);
    const Matrix3 directions = upper3x3(m);
    // The inverse transpose of the identity is the identity: both or neither.
    const bool identity = isIdentity(directions);
    auto turn = [identity](float* row, const Matrix3& by) {
        if (identity)
            applyIdentityDirection(row, by);
        else
            applyDirection(row, by);
    };
    for (uint32_t code : {NORMAL0, NORMAL1})
        forSelectedRows(vertices.findAttribute(code), selected, [&](float* row) { turn(row, normals); });
    for (uint32_t code : {TANGENT0, BINORMAL0, TANGENT1, BINORMAL1})
        forSelectedRows(vertices.findAttribute(code), selected, [&](float* row) { turn(row, directions); });
}

template <class Selected>
BoundingBox boxOfRows(const Vertices& vertices, const Selected& selected) {
    BoundingBox box;
    const VertexAttribute* positions = vertices.findAttribute(POSITION0);
    if (!positions || positions->components < 3) return box;
    const std::size_t rows = positions->rowCount();
    for (std::size_t v = 0; v < rows; ++v) {
        if (!selected(v)) continue;
        const float* row = positions->data.data() + v * positions->components;
        box.expand(row[0], row[1], row[2]);
    }
    return box;
}

constexpr auto kEveryRow = [](std::size_t) { return true; };

}  // namespace

osg::Vec3f transformPoint(const osg::Vec3f& p, const Matrix44d& m) {
    const auto r = m.transformPoint(p.x(), p.y(), p.z());
    return osg::Vec3f(static_cast<float>(r[0]), static_cast<float>(r[1]), static_cast<float>(r[2]));
}

osg::Vec3f transformDirection(const osg::Vec3f& d, const Matrix44d& m) {
    osg::Vec3f r = d;
    applyDirection(r.ptr(), upper3x3(m));
    return r;
}

void transformVertices(Vertices& vertices, const Matrix44d& m, const std::function<bool(std::size_t)>& selected) {
    transformRows(vertices, m, selected);
}

void transformVertices(Vertices& vertices, const Matrix44d& m) { transformRows(vertices, m, kEveryRow); }

BoundingBox positionsBox(const Vertices& vertices, const std::function<bool(std::size_t)>& selected) {
    return boxOfRows(vertices, selected);
}

BoundingBox positionsBox(const Vertices& vertices) { return boxOfRows(vertices, kEveryRow); }

BoundingBox transformBox(const BoundingBox& box, const Matrix44d& m) {
    BoundingBox result;
    if (!box.isValid()) return result;
    for (int corner = 0; corner < 8; ++corner) {
        const osg::Vec3f p((corner & 1) ? box.maximum.x() : box.minimum.x(),
                           (corner & 2) ? box.maximum.y() : box.minimum.y(),
                           (corner & 4) ? box.maximum.z() : box.minimum.z());
        const osg::Vec3f t = transformPoint(p, m);
        result.expand(t.x(), t.y(), t.z());
    }
    return result;
}

}  // namespace model::geometry
