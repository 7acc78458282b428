#include "qzvfs/Drivers/IDriver.h"

namespace qzvfs {

IDriver::~IDriver() = default;

}  // namespace qzvfs
