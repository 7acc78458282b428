#include "Vertices.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <utility>

#include <fmt/format.h>

#include "qz/ExtException.h"

namespace model {

namespace {

// An attribute's floats seen as a column of rows, gathered once so that big
// meshes are interleaved without walking the attribute map for every vertex.
struct Column {
    const float* data;
    size_t components;
};

std::vector<Column> columnsOf(const Vertices::AttributeMap& attributes) {
    std::vector<Column> columns;
    for (const auto& [code, a] : attributes)
        if (a.components != 0) columns.push_back({a.data.data(), a.components});
    return columns;
}

// Writes rows [first, first + rows) interleaved at out; returns the end.
float* copyRows(const std::vector<Column>& columns, size_t first, size_t rows, float* out) {
    for (size_t v = first; v < first + rows; ++v)
        for (const Column& c : columns) out = std::copy_n(c.data + v * c.components, c.components, out);
    return out;
}

}  // namespace

void Vertices::setFormat(const VertexFormat& format) {
    attributes.clear();
    for (uint32_t code = 0; code < SEMANTIC_COUNT; ++code)
        if (format[code] != 0) attributes[code].components = format[code];
}

VertexFormat Vertices::getFormat() const {
    VertexFormat format{};
    for (const auto& [code, a] : attributes) {
        if (a.components > std::numeric_limits<uint8_t>::max())
            QZ_THROW(fmt::format("Vertex attribute {} has {} components; a vertex format holds at most 255.",
                                 semanticName(code), a.components));
        format[code] = static_cast<uint8_t>(a.components);
    }
    return format;
}

size_t Vertices::vertexSize() const noexcept {
    size_t size = 0;
    for (const auto& [code, a] : attributes) size += a.components;
    return size;
}

size_t Vertices::vertexCount() const noexcept {
    return attributes.empty() ? 0 : attributes.begin()->second.rowCount();
}

bool Vertices::matchesFormat(const VertexFormat& format) const noexcept {
    for (uint32_t code = 0; code < SEMANTIC_COUNT; ++code) {
        const VertexAttribute* a = findAttribute(code);
        if ((a ? a->components : 0u) != format.elements[code]) return false;
    }
    return true;
}

VertexAttribute& Vertices::getAttribute(uint32_t code) {
    return const_cast<VertexAttribute&>(std::as_const(*this).getAttribute(code));
}

const VertexAttribute& Vertices::getAttribute(uint32_t code) const {
    const auto it = attributes.find(code);
    if (it == attributes.end())
        QZ_THROW(fmt::format("Vertices don't have {} attribute.", semanticName(code)));
    return it->second;
}

VertexAttribute* Vertices::findAttribute(uint32_t code) noexcept {
    const auto it = attributes.find(code);
    return it == attributes.end() ? nullptr : &it->second;
}

const VertexAttribute* Vertices::findAttribute(uint32_t code) const noexcept {
    const auto it = attributes.find(code);
    return it == attributes.end() ? nullptr : &it->second;
}

VertexAttribute& Vertices::setAttribute(uint32_t code, uint32_t components, std::vector<float> data) {
    if (code >= SEMANTIC_COUNT) throw std::out_of_range("qz::array: index out of range");
    VertexAttribute& a = attributes[code];
    a.components = components;
    a.data = std::move(data);
    return a;
}

bool Vertices::append(const Vertices& other) {
    if (other.attributes.size() != attributes.size()) return false;
    for (const auto& [code, a] : attributes) {
        const VertexAttribute* b = other.findAttribute(code);
        if (!b || b->components != a.components) return false;
    }
    if (&other == this) {
        for (auto& [code, a] : attributes) {
            const size_t n = a.data.size();
            a.data.reserve(2 * n);
            for (size_t i = 0; i < n; ++i) a.data.push_back(a.data[i]);
        }
        return true;
    }
    for (auto& [code, a] : attributes) {
        const std::vector<float>& src = other.attributes.at(code).data;
        a.data.insert(a.data.end(), src.begin(), src.end());
    }
    return true;
}

bool Vertices::isValid() const noexcept {
    for (const auto& [code, a] : attributes) {
        if (a.data.empty()) continue;
        if (a.components == 0 || a.data.size() % a.components != 0) return false;
    }
    return true;
}

std::vector<float> Vertices::interleave() const {
    const size_t count = vertexCount();
    for (const auto& [code, a] : attributes)
        if (a.components != 0 && a.rowCount() < count)
            throw std::out_of_range(fmt::format("Vertex attribute {} holds {} rows, {} vertices need interleaving",
                                                semanticName(code), a.rowCount(), count));
    std::vector<float> out(count * vertexSize());
    copyRows(columnsOf(attributes), 0, count, out.data());
    return out;
}

void Vertices::deinterleave(std::span<const float> floats, size_t vertexCount) {
    const size_t size = vertexSize();
    if (size != 0 && vertexCount > floats.size() / size)
        throw std::out_of_range(fmt::format("deinterleave: {} floats can't hold {} vertices of {} floats",
                                            floats.size(), vertexCount, size));
    // Every row of every attribute is overwritten below, so the old values
    // may stay in place until then.
    struct Target {
        float* data;
        size_t components;
    };
    std::vector<Target> targets;
    for (auto& [code, a] : attributes) {
        a.data.resize(vertexCount * a.components);
        if (a.components != 0) targets.push_back({a.data.data(), a.components});
    }
    const float* p = floats.data();
    for (size_t v = 0; v < vertexCount; ++v)
        for (const Target& t : targets) {
            std::copy_n(p, t.components, t.data + v * t.components);
            p += t.components;
        }
}

void Vertices::interleaveRows(size_t first, std::span<float> out) const {
    copyRows(columnsOf(attributes), first, out.size() / vertexSize(), out.data());
}

}  // namespace model
