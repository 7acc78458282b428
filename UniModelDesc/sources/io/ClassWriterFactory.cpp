#include "io/ClassWriterFactory.h"

#include "io/10/ClassWriter10.h"
#include "io/tav2/ClassWriter20.h"

namespace model {

std::unique_ptr<IClassWriter> makeClassWriter(std::uint16_t version) {
    switch (version) {
        case 10: return std::make_unique<ClassWriter10>();
        case 20: return std::make_unique<ClassWriter20>();
        default: return nullptr;
    }
}

}  // namespace model
