#include "qz/tasks/GlobalThreadPools.h"

#include "qz/ExtException.h"

namespace qz {
namespace {
bool g_exists = false;
}

void createGlobalThreadPools() { g_exists = true; }
void destroyGlobalThreadPools() { g_exists = false; }
bool globalThreadPoolsExist() { return g_exists; }

ThreadPool& globalThreadPool(PoolSlot) { QZ_THROW("Global thread pools are not created."); }

}  // namespace qz
