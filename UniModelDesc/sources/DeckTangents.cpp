// Tangent frames of deck surfaces.

#include "DeckTangents.h"

#include <cmath>
#include <stdexcept>

#include <fmt/format.h>
#include <osg/Vec2f>
#include <osg/Vec3f>

namespace model {

namespace {

// Triangles whose texture mapping is this close to degenerate give no usable
// direction; their neighbours decide.
constexpr float kDegenerateMapping = 1e-5f;
// Below this the accumulated tangent is too short to trust (opposite
// mappings cancelled out), so any direction across the normal will do.
constexpr float kShortTangent = 0.01f;

osg::Vec3f row3(const std::vector<float>& data, std::size_t stride, std::size_t vertex) {
    const float* p = data.data() + vertex * stride;
    return osg::Vec3f(p[0], p[1], p[2]);
}

osg::Vec2f row2(const std::vector<float>& data, std::size_t vertex) {
    const float* p = data.data() + vertex * 2;
    return osg::Vec2f(p[0], p[1]);
}

void normalise(osg::Vec3f& v) {
    const float length = v.length();
    if (length > 0.0f) v /= length;
}

}  // namespace

void computeDeckTangentFrame(const Vertices& vertices, const std::vector<std::uint32_t>& indices,
                             std::vector<float>& tangents, std::vector<float>& binormals) {
    const VertexAttribute& positions = vertices.getAttribute(POSITION0);
    const VertexAttribute& normals = vertices.getAttribute(NORMAL0);
    const VertexAttribute& coordinates = vertices.getAttribute(TEXCOORD0);
    const std::size_t vertexCount = positions.rowCount();
    if (normals.rowCount() < vertexCount || coordinates.rowCount() < vertexCount || positions.components < 3 ||
        normals.components < 3 || coordinates.components != 2)
        throw std::out_of_range("Deck vertex data is incomplete.");
    for (std::uint32_t index : indices) {
        if (index >= vertexCount) throw std::out_of_range(fmt::format("Index {} is out of range.", index));
    }

    std::vector<osg::Vec3f> s(vertexCount, osg::Vec3f(0, 0, 0));
    std::vector<osg::Vec3f> t(vertexCount, osg::Vec3f(0, 0, 0));
    for (std::size_t i = 0; i + 2 < indices.size(); i += 3) {
        const std::uint32_t i0 = indices[i], i1 = indices[i + 1], i2 = indices[i + 2];
        const osg::Vec3f p0 = row3(positions.data, positions.components, i0);
        const osg::Vec3f e1 = row3(positions.data, positions.components, i1) - p0;
        const osg::Vec3f e2 = row3(positions.data, positions.components, i2) - p0;
        const osg::Vec2f c0 = row2(coordinates.data, i0);
        const osg::Vec2f d1 = row2(coordinates.data, i1) - c0;
        const osg::Vec2f d2 = row2(coordinates.data, i2) - c0;
        const float ds1 = d1.x(), dt1 = d1.y(), ds2 = d2.x(), dt2 = d2.y();
        const float d = dt2 * ds1 - ds2 * dt1;
        if (std::fabs(d) < kDegenerateMapping) continue;
        const osg::Vec3f sdir = (e1 * dt2 - e2 * dt1) / d;
        const osg::Vec3f tdir = (e2 * ds1 - e1 * ds2) / d;
        for (std::uint32_t v : {i0, i1, i2}) {
            s[v] += sdir;
            t[v] += tdir;
        }
    }

    tangents.assign(vertexCount * 3, 0.0f);
    binormals.assign(vertexCount * 3, 0.0f);
    for (std::size_t v = 0; v < vertexCount; ++v) {
        const osg::Vec3f n = row3(normals.data, normals.components, v);
        osg::Vec3f tangent = s[v] - n * (s[v] * n);
        if (tangent.length() < kShortTangent) {
            const osg::Vec3f acrossZ = n ^ osg::Vec3f(0, 0, 1);
            const osg::Vec3f acrossY = n ^ osg::Vec3f(0, 1, 0);
            tangent = acrossZ.length2() > acrossY.length2() ? acrossZ : acrossY;
        }
        normalise(tangent);
        osg::Vec3f binormal = n ^ tangent;
        normalise(binormal);
        if (binormal * t[v] < 0.0f) binormal = -binormal;
        for (int k = 0; k < 3; ++k) {
            tangents[v * 3 + k] = tangent[k];
            binormals[v * 3 + k] = binormal[k];
        }
    }
}

}  // namespace model
