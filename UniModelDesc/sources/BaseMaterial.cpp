#include "BaseMaterial.h"

namespace model {

bool BaseMaterial::isEqual(const BaseMaterial& other) const {
    return name_ == other.name_ && blending_ == other.blending_ && uniformsEqual(other);
}

bool BaseMaterial::uniformsEqual(const BaseMaterial& other) const {
    if (uniforms_.size() != other.uniforms_.size()) return false;
    std::size_t matched = 0;
    for (const PropertyPtr& mine : uniforms_)
        for (const PropertyPtr& theirs : other.uniforms_)
            if (mine && mine->isEqual(theirs)) {
                ++matched;
                break;
            }
    return matched == uniforms_.size();
}

}  // namespace model
