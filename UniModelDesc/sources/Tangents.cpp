#include "Tangents.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include <fmt/format.h>

#include "qz/ExtException.h"

namespace model {
namespace {

struct V3 {
    float x, y, z;
};
V3 operator-(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V3 operator*(float s, V3 a) { return {s * a.x, s * a.y, s * a.z}; }
float dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

const VertexAttribute& needAttribute(const Vertices& vertices, uint32_t code, uint32_t minComponents) {
    const VertexAttribute& a = vertices.getAttribute(code);
    if (a.components < minComponents)
        QZ_THROW(fmt::format("Vertex attribute {} has {} components; tangents need at least {}.",
                             semanticName(code), a.components, minComponents));
    return a;
}

// The attributes one tangent attribute is generated from, checked up front.
struct Job {
    const VertexAttribute* pos;
    const VertexAttribute* nrm;
    const VertexAttribute* uv;
    VertexAttribute* tan;
};

Job prepare(uint32_t tangentCode, size_t use, const TexCoordChannels& channels,
            const std::vector<uint32_t>& indices, Vertices& vertices) {
    const uint32_t channel = channels[use];
    if (channel >= TEXCOORD_CHANNEL_COUNT)
        throw std::out_of_range(fmt::format(
            "computeTangents: texture use {} names no texture coordinate channel (entry {:#x})", use, channel));

    Job job{&needAttribute(vertices, POSITION0, 3), &needAttribute(vertices, NORMAL0, 3),
            &needAttribute(vertices, texCoordSemantic(channel), 2), &vertices.getAttribute(tangentCode)};

    const size_t rows =
        std::min({job.pos->rowCount(), job.nrm->rowCount(), job.uv->rowCount(), job.tan->rowCount()});
    const size_t used = indices.size() / 3 * 3;
    for (size_t k = 0; k < used; ++k)
        if (indices[k] >= rows)
            throw std::out_of_range(fmt::format(
                "computeTangents: triangle {} refers to vertex {}, past the vertex count {}", k / 3,
                indices[k], rows));
    return job;
}

void generate(const Job& job, const std::vector<uint32_t>& indices) {
    const VertexAttribute& pos = *job.pos;
    const VertexAttribute& nrm = *job.nrm;
    const VertexAttribute& uv = *job.uv;
    auto p = [&](uint32_t i) {
        const float* r = pos.data.data() + size_t(i) * pos.components;
        return V3{r[0], r[1], r[2]};
    };
    auto n = [&](uint32_t i) {
        const float* r = nrm.data.data() + size_t(i) * nrm.components;
        return V3{r[0], r[1], r[2]};
    };
    auto st = [&](uint32_t i) { return uv.data.data() + size_t(i) * uv.components; };

    const size_t used = indices.size() / 3 * 3;
    for (size_t k = 0; k < used; k += 3) {
        const uint32_t i[3] = {indices[k], indices[k + 1], indices[k + 2]};
        const V3 e1 = p(i[1]) - p(i[0]);
        const V3 e2 = p(i[2]) - p(i[0]);
        const float ds1 = st(i[1])[0] - st(i[0])[0], dt1 = st(i[1])[1] - st(i[0])[1];
        const float ds2 = st(i[2])[0] - st(i[0])[0], dt2 = st(i[2])[1] - st(i[0])[1];
        const float d = ds1 * dt2 - ds2 * dt1;
        const float r = 1.0f / d;
        if (!std::isfinite(r)) continue;  // coordinates span no area

        const V3 t = r * (dt2 * e1 - dt1 * e2);
        const float h = d > 0.0f ? -1.0f : 1.0f;
        for (uint32_t v : i) {
            const V3 nv = n(v);
            V3 o = t - dot(t, nv) * nv;
            const float len = std::sqrt(dot(o, o));
            if (len > 0.0f) o = {o.x / len, o.y / len, o.z / len};
            float* row = job.tan->data.data() + size_t(v) * 4;
            row[0] = o.x;
            row[1] = o.y;
            row[2] = o.z;
            row[3] = h;
        }
    }
}

}  // namespace

void computeTangents(const TexCoordChannels& channels, const std::vector<uint32_t>& indices,
                     Vertices& vertices) {
    // Both jobs are checked before either writes, so a failure leaves the
    // vertices as they were.
    Job jobs[2];
    int count = 0;
    if (const VertexAttribute* t = vertices.findAttribute(TANGENT0); t && t->components == 4)
        jobs[count++] = prepare(TANGENT0, 1, channels, indices, vertices);
    if (const VertexAttribute* t = vertices.findAttribute(TANGENT1); t && t->components == 4)
        jobs[count++] = prepare(TANGENT1, 10, channels, indices, vertices);
    for (int j = 0; j < count; ++j) generate(jobs[j], indices);
}

}  // namespace model
