#include "Texture.h"

#include "IProperty.h"
#include "io/IBinaryFileW.h"

namespace model {

bool Texture::isEqual(const Texture& other) const noexcept {
    if (file != other.file || parameters != other.parameters || channel != other.channel) return false;
    for (std::size_t i = 0; i < matrix.size(); ++i)
        if (!nearlyEqual(matrix[i], other.matrix[i])) return false;
    return true;
}

void Texture::writeTo(io::IBinaryFileW& writer) const {
    writer.writeU32(channel);
    writer.writeString(file);
    for (std::uint32_t p : parameters) writer.writeU32(p);
    for (float f : matrix) writer.writeFloat(f);
}

Texture makeTexture(std::string file) {
    Texture t;
    t.file = std::move(file);
    return t;
}

}  // namespace model
