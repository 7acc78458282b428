#pragma once
// model::PrimitiveWriter10: the records of a format 10 model file that are
// not nodes: vertex data, index lists, properties, materials and textures.
// The model classes only hold these values; their bytes are decided here, next
// to the node records that contain them (NodeWriter10).
//
// Contract
// - Each write appends one record at the sink's current position; strings go
//   through the sink's own writeString (pooled by a MemBinaryFileW).
// - The writer keeps a reference to the sink, which must outlive it. One
//   thread at a time.
// - A failure throws qz::ExtException and may leave a partial record.

#include <cstdint>
#include <memory>
#include <vector>

namespace io {
class IBinaryFileW;
}

namespace model {

class IProperty;
class PropertiesSet;
class Vertices;
struct Indices;
struct Texture;

class PrimitiveWriter10 {
public:
    explicit PrimitiveWriter10(io::IBinaryFileW& sink) noexcept : sink(sink) {}

    // Width code of a written index list: 0 (one byte per index) when the
    // largest index is at most 255, 1 (two bytes) up to 65535, 2 (four bytes)
    // above. An empty list has code 0.
    static std::uint8_t indexWidthCode(const std::vector<std::uint32_t>& indices) noexcept;

    // u32 vertex count, u32 floats per vertex, then per vertex its row of
    // each attribute in code order (0 and 0 without vertices). Throws
    // "Vertex data is invalid." when vertices.isValid() is false or the
    // attributes hold different row counts, and a size message above 2^32-1
    // vertices or floats per vertex. The rows go to the sink's writeMade;
    // with a `keeper` of the vertices (a node's shareVertices()) the sink may
    // make them only as the file is written instead of copying them now.
    void writeVertices(const Vertices& vertices, std::shared_ptr<const Vertices> keeper = nullptr);

    // u8 width code, u32 index count, u32 primitive kind, then the indices at
    // that width. Throws for 2^32 indices or more. With a `keeper` of the
    // list (a node's shareIndices()), a list of four-byte width goes to the
    // sink's writeShared, which may hold on to it instead of copying it.
    void writeIndices(const Indices& indices, std::shared_ptr<const void> keeper = nullptr);

    // Class name, name, then the value part: a static property's f32
    // components, u32 or string; an argument property its argument twice; an
    // animated one u32 argument, u32 key count, then per key f64 time and
    // the f32 components.
    void writeProperty(const IProperty& property);

    // u32 entry count E, then E entries, each a key string and its value:
    // "BLENDING" u8, "DEPTH_BIAS" u32 0/1, "VERTEX_FORMAT" u32 26 + 26 u8,
    // "TEXTURE_COORDINATES_CHANNELS" u32 13 + 13 u32, "MATERIAL_NAME" str,
    // "NAME" str, "SHADOWS" u8 (1 for shadowsBit0, +4 for shadowsBit2),
    // "TEXTURES" u32 count + (u32 slot, texture record) per used slot,
    // "UNIFORMS" and "ANIMATED_UNIFORMS" (u32 count + property records of the
    // static, then of the argument-driven uniforms, in list order), then
    // "BILLBOARD" u8 u8 when billboard is set and "DECAL" u8 when decal is
    // not 0. When slots 2 and 13 are both used, slot 2 is left out (the
    // material itself is not changed).
    void writeMaterial(const PropertiesSet& material);

    // u32 channel, the file string, the four u32 parameters, the 16 f32 of
    // the matrix.
    void writeTexture(const Texture& texture);

private:
    template <class T>
    void writeNarrowed(const std::vector<std::uint32_t>& indices);

    io::IBinaryFileW& sink;
};

}  // namespace model
