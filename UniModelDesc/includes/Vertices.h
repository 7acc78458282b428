#pragma once
// model::Vertices: the per-semantic vertex attribute lists of one mesh.
//
// Contract
// - Attributes are kept by semantic code (0..25, see VertexFormat.h) and
//   iterated in ascending code order. A vertex's row in an attribute is the
//   `components` floats starting at vertex index * components.
// - Codes from outside are checked: setAttribute() with a code of 26 or more
//   throws std::out_of_range ("qz::array: index out of range").
// - An attribute with components 0 is tolerated (it holds no rows); nothing
//   here ever divides by it.
// - getAttribute() on an absent code throws qz::ExtException
//   "Vertices don't have {} attribute." with the semantic's name.
// - interleave()/deinterleave() throw std::out_of_range when the data holds
//   fewer rows than the vertex count asks for.
// - The attribute entries are held in one sorted array, the first few inside
//   the Vertices object itself: a pointer or reference to an attribute (from
//   findAttribute, getAttribute, setAttribute or getAttributes) stays valid
//   only until the next setAttribute, eraseAttribute, setFormat or
//   assignment of this object, and does not follow a move of it. The floats
//   of an attribute stay where they are when the entry moves.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <utility>
#include <vector>

#include <boost/container/flat_map.hpp>
#include <boost/container/small_vector.hpp>

#include "VertexFormat.h"

namespace model {

struct VertexAttribute {
    std::vector<float> data;
    uint32_t components = 0;

    // Whole rows held: data length / components (0 when components is 0).
    size_t rowCount() const noexcept { return components ? data.size() / components : 0; }

    friend bool operator==(const VertexAttribute&, const VertexAttribute&) = default;
};

class Vertices {
public:
    // A mesh holds a handful of attributes, and every pass over a big model
    // walks them for each of its meshes: kept in the node, the entries cost
    // no allocation of their own and no chain of cache misses to reach.
    static constexpr std::size_t kInlineAttributes = 4;
    using AttributeMap =
        boost::container::flat_map<uint32_t, VertexAttribute, std::less<uint32_t>,
                                   boost::container::small_vector<std::pair<uint32_t, VertexAttribute>, kInlineAttributes>>;

    Vertices() = default;
    // One empty attribute per non-zero format entry.
    explicit Vertices(const VertexFormat& format) { setFormat(format); }

    // Removes every attribute, then creates one empty attribute per non-zero
    // format entry, with that many components.
    void setFormat(const VertexFormat& format);

    // Components of each present attribute at its code, 0 elsewhere. Throws
    // qz::ExtException when an attribute has more than 255 components (a
    // format entry can't hold it).
    VertexFormat getFormat() const;

    // Floats per vertex: the sum of `components` over the attributes.
    size_t vertexSize() const noexcept;

    // Rows of the attribute with the lowest code; 0 without attributes.
    size_t vertexCount() const noexcept;

    // True when every code's components (0 when absent) equal the format's.
    bool matchesFormat(const VertexFormat& format) const noexcept;

    VertexAttribute& getAttribute(uint32_t code);
    const VertexAttribute& getAttribute(uint32_t code) const;
    VertexAttribute* findAttribute(uint32_t code) noexcept;
    const VertexAttribute* findAttribute(uint32_t code) const noexcept;

    // Creates or replaces the attribute at `code`; returns it.
    VertexAttribute& setAttribute(uint32_t code, uint32_t components, std::vector<float> data = {});

    void eraseAttribute(uint32_t code) noexcept { attributes.erase(code); }

    const AttributeMap& getAttributes() const noexcept { return attributes; }
    size_t attributeCount() const noexcept { return attributes.size(); }

    // Appends other's data attribute by attribute when both hold the same
    // codes with the same components; returns false (and changes nothing)
    // otherwise.
    bool append(const Vertices& other);

    // False when an attribute has data but components 0, or a data length
    // that is not a multiple of components. Vertex counts are not compared.
    bool isValid() const noexcept;

    // vertexCount() * vertexSize() floats: per vertex, per attribute in code
    // order (components 0 skipped), that vertex's row.
    std::vector<float> interleave() const;

    // Empties every attribute, then cuts `vertexCount` rows of vertexSize()
    // floats from `floats` back into the attributes. `floats` may be longer;
    // shorter throws std::out_of_range with the attributes unchanged.
    void deinterleave(std::span<const float> floats, size_t vertexCount);

    // Fills `out` with the interleaved rows of the out.size() / vertexSize()
    // vertices from `first` on, laid out as interleave() lays them out, so
    // that a big mesh can be handed on a block at a time. Precondition:
    // vertexSize() is not 0 and every attribute with components holds those
    // rows; nothing is checked.
    void interleaveRows(size_t first, std::span<float> out) const;

    friend bool operator==(const Vertices&, const Vertices&) = default;

private:
    AttributeMap attributes;
};

}  // namespace model
