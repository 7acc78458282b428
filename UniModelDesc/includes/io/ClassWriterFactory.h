#pragma once
// makeClassWriter(version): the class writer of a file format version.
//
// Contract: a new writer for version 10 or 20;
// null for any other version. The caller owns the writer.

#include <cstdint>
#include <memory>

#include "io/IClassWriter.h"

namespace model {

std::unique_ptr<IClassWriter> makeClassWriter(std::uint16_t version);

}  // namespace model
