#include "io/10/PrimitiveWriter10.h"

#include <algorithm>
#include <bit>
#include <limits>
#include <span>
#include <string>

#include <fmt/format.h>
#include <osg/Vec2f>
#include <osg/Vec3f>
#include <osg/Vec4f>

#include "AnimatedProperty.h"
#include "Indices.h"
#include "IPropertyVisitor.h"
#include "PropertiesSet.h"
#include "StaticProperty.h"
#include "Texture.h"
#include "Vertices.h"
#include "io/IBinaryFileW.h"
#include "qz/ExtException.h"

namespace model {

namespace {

// Slot 13 carries the texture that makes slot 2's redundant; a record holds
// only one of them.
constexpr std::size_t kShadowedSlot = 2;
constexpr std::size_t kShadowingSlot = 13;

void writeValue(io::IBinaryFileW& sink, float v) { sink.writeFloat(v); }
void writeValue(io::IBinaryFileW& sink, std::uint32_t v) { sink.writeU32(v); }
void writeValue(io::IBinaryFileW& sink, const std::string& v) { sink.writeString(v); }
template <class Vec>
void writeVector(io::IBinaryFileW& sink, const Vec& v) {
    for (int i = 0; i < Vec::num_components; ++i) sink.writeFloat(v[i]);
}
void writeValue(io::IBinaryFileW& sink, const osg::Vec2f& v) { writeVector(sink, v); }
void writeValue(io::IBinaryFileW& sink, const osg::Vec3f& v) { writeVector(sink, v); }
void writeValue(io::IBinaryFileW& sink, const osg::Vec4f& v) { writeVector(sink, v); }

// The value part differs per property class; the visitor reaches it without
// the property knowing the layout.
class PropertyRecord final : public IPropertyVisitor {
public:
    explicit PropertyRecord(io::IBinaryFileW& sink) : sink(sink) {}

    void visit(const AnimatedVec4fProperty& p) override { animated(p); }
    void visit(const AnimatedVec3fProperty& p) override { animated(p); }
    void visit(const AnimatedVec2fProperty& p) override { animated(p); }
    void visit(const AnimatedFloatProperty& p) override { animated(p); }
    void visit(const ArgumentProperty& p) override {
        header(p);
        // Files hold the argument twice; the second copy carries nothing new.
        sink.writeU32(p.getArgument());
        sink.writeU32(p.getArgument());
    }
    void visit(const StringProperty& p) override { fixed(p); }
    void visit(const Vec4fProperty& p) override { fixed(p); }
    void visit(const Vec3fProperty& p) override { fixed(p); }
    void visit(const Vec2fProperty& p) override { fixed(p); }
    void visit(const UIntProperty& p) override { fixed(p); }
    void visit(const FloatProperty& p) override { fixed(p); }

private:
    void header(const IProperty& p) {
        sink.writeString(p.getClassName());
        sink.writeString(p.getName());
    }
    template <class V>
    void fixed(const StaticProperty<V>& p) {
        header(p);
        writeValue(sink, p.getValue());
    }
    template <class V>
    void animated(const AnimatedProperty<V>& p) {
        header(p);
        sink.writeU32(p.getArgument());
        sink.writeU32(static_cast<std::uint32_t>(p.getKeys().size()));
        for (const auto& key : p.getKeys()) {
            sink.writeDouble(key.time);
            writeValue(sink, key.value);
        }
    }

    io::IBinaryFileW& sink;
};

}  // namespace

std::uint8_t PrimitiveWriter10::indexWidthCode(const std::vector<std::uint32_t>& indices) noexcept {
    const std::uint32_t largest = indices.empty() ? 0 : *std::max_element(indices.begin(), indices.end());
    return largest <= 0xFF ? 0 : largest <= 0xFFFF ? 1 : 2;
}

void PrimitiveWriter10::writeVertices(const Vertices& vertices, std::shared_ptr<const Vertices> keeper) {
    const std::size_t count = vertices.vertexCount();
    bool consistent = vertices.isValid();
    for (const auto& [code, a] : vertices.getAttributes())
        if (a.components != 0 && a.rowCount() != count) consistent = false;
    if (!consistent) QZ_THROW("Vertex data is invalid.");

    const std::size_t size = count == 0 ? 0 : vertices.vertexSize();
    constexpr std::size_t u32max = std::numeric_limits<std::uint32_t>::max();
    if (count > u32max || size > u32max)
        QZ_THROW(fmt::format("Vertex data of {} vertices of {} floats is too large to write.", count, size));
    sink.writeU32(static_cast<std::uint32_t>(count));
    sink.writeU32(static_cast<std::uint32_t>(size));
    if (count == 0) return;
    // Interleaved a block of rows at a time, by the sink now or (where it
    // holds on to the kept vertices) as the file is written: a big mesh
    // needs no second copy of its whole vertex data on the way to the file.
    // The storage filled is aligned for floats.
    const std::size_t rowBytes = size * sizeof(float);
    const Vertices* rows = keeper ? keeper.get() : &vertices;
    sink.writeMade(
        count * rowBytes, rowBytes,
        [rows, rowBytes](std::size_t offset, std::span<std::uint8_t> out) {
            const std::span<float> floats(reinterpret_cast<float*>(out.data()), out.size() / sizeof(float));
            rows->interleaveRows(offset / rowBytes, floats);
            if constexpr (std::endian::native == std::endian::big)
                for (float& f : floats) f = std::bit_cast<float>(__builtin_bswap32(std::bit_cast<std::uint32_t>(f)));
        },
        std::move(keeper));
}

void PrimitiveWriter10::writeIndices(const Indices& list, std::shared_ptr<const void> keeper) {
    const std::vector<std::uint32_t>& indices = list.indices;
    if (indices.size() > std::numeric_limits<std::uint32_t>::max())
        QZ_THROW(fmt::format("Index list of {} indices is too long to write.", indices.size()));
    const std::uint8_t code = indexWidthCode(indices);
    sink.writeU8(code);
    sink.writeU32(static_cast<std::uint32_t>(indices.size()));
    sink.writeU32(list.primitiveKind);
    switch (code) {
    case 0:
        writeNarrowed<std::uint8_t>(indices);
        break;
    case 1:
        writeNarrowed<std::uint16_t>(indices);
        break;
    default:
        // The file's four-byte indices are the list's own bytes on a
        // little-endian machine.
        if (keeper && std::endian::native == std::endian::little)
            sink.writeShared({reinterpret_cast<const std::uint8_t*>(indices.data()), indices.size() * 4},
                             std::move(keeper));
        else
            sink.writeU32s(indices);
        break;
    }
}

// Narrowed a block at a time, so a big list needs no narrowed copy of its own.
template <class T>
void PrimitiveWriter10::writeNarrowed(const std::vector<std::uint32_t>& indices) {
    constexpr std::size_t kBlock = std::size_t(1) << 14;
    std::vector<T> block(std::min(kBlock, indices.size()));
    for (std::size_t first = 0; first < indices.size(); first += kBlock) {
        const std::size_t n = std::min(kBlock, indices.size() - first);
        std::copy_n(indices.begin() + static_cast<std::ptrdiff_t>(first), n, block.begin());
        if constexpr (sizeof(T) == 1)
            sink.writeU8s(std::span<const T>(block.data(), n));
        else
            sink.writeU16s(std::span<const T>(block.data(), n));
    }
}

void PrimitiveWriter10::writeProperty(const IProperty& property) {
    PropertyRecord record(sink);
    property.accept(record);
}

void PrimitiveWriter10::writeMaterial(const PropertiesSet& m) {
    // The entry count is known before the entries are written, so it goes
    // first and the record needs no seeking back.
    const std::uint32_t entries = 10 + (m.getBillboard() ? 1 : 0) + (m.getDecal() ? 1 : 0);
    sink.writeU32(entries);

    sink.writeString("BLENDING");
    sink.writeU8(static_cast<std::uint8_t>(m.getBlending()));

    sink.writeString("DEPTH_BIAS");
    sink.writeU32(m.getDepthBias() ? 1 : 0);

    const VertexFormat& format = m.getVertexFormat();
    sink.writeString("VERTEX_FORMAT");
    sink.writeU32(static_cast<std::uint32_t>(format.size()));
    sink.writeBytes(format.data(), format.size());

    sink.writeString("TEXTURE_COORDINATES_CHANNELS");
    sink.writeU32(static_cast<std::uint32_t>(m.getTexCoordChannels().size()));
    for (std::uint32_t channel : m.getTexCoordChannels()) sink.writeU32(channel);

    sink.writeString("MATERIAL_NAME");
    sink.writeString(m.getMaterialName());

    sink.writeString("NAME");
    sink.writeString(m.getName());

    sink.writeString("SHADOWS");
    sink.writeU8(static_cast<std::uint8_t>((m.getShadowsBit0() ? 1 : 0) + (m.getShadowsBit2() ? 4 : 0)));

    const bool skipShadowed = m.getTexture(kShadowedSlot).isUsed() && m.getTexture(kShadowingSlot).isUsed();
    auto written = [&](std::size_t slot) {
        return m.getTexture(slot).isUsed() && !(skipShadowed && slot == kShadowedSlot);
    };
    std::uint32_t used = 0;
    for (std::size_t slot = 0; slot < PropertiesSet::kTextureSlots; ++slot) used += written(slot) ? 1 : 0;
    sink.writeString("TEXTURES");
    sink.writeU32(used);
    for (std::size_t slot = 0; slot < PropertiesSet::kTextureSlots; ++slot) {
        if (!written(slot)) continue;
        sink.writeU32(static_cast<std::uint32_t>(slot));
        writeTexture(m.getTexture(slot));
    }

    for (const bool animated : {false, true}) {
        std::uint32_t count = 0;
        for (const PropertyPtr& u : m.getUniforms()) count += (u->isAnimated() == animated) ? 1 : 0;
        sink.writeString(animated ? "ANIMATED_UNIFORMS" : "UNIFORMS");
        sink.writeU32(count);
        for (const PropertyPtr& u : m.getUniforms())
            if (u->isAnimated() == animated) writeProperty(*u);
    }

    if (m.getBillboard()) {
        sink.writeString("BILLBOARD");
        sink.writeU8(static_cast<std::uint8_t>(m.getBillboardSetting1()));
        sink.writeU8(static_cast<std::uint8_t>(m.getBillboardSetting2()));
    }
    if (m.getDecal()) {
        sink.writeString("DECAL");
        sink.writeU8(m.getDecal());
    }
}

void PrimitiveWriter10::writeTexture(const Texture& texture) {
    sink.writeU32(texture.channel);
    sink.writeString(texture.file);
    for (std::uint32_t p : texture.parameters) sink.writeU32(p);
    for (float f : texture.matrix) sink.writeFloat(f);
}

}  // namespace model
