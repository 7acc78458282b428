#include "Texture.h"

#include "IProperty.h"

namespace model {

bool Texture::isEqual(const Texture& other) const noexcept {
    if (file != other.file || parameters != other.parameters || channel != other.channel) return false;
    for (std::size_t i = 0; i < matrix.size(); ++i)
        if (!nearlyEqual(matrix[i], other.matrix[i])) return false;
    return true;
}

Texture makeTexture(std::string file) {
    Texture t;
    t.file = std::move(file);
    return t;
}

}  // namespace model
