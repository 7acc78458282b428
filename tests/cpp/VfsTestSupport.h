#pragma once
// Forwards to the shared support of the Core tests; kept until the files that
// include it include that instead.
#include "CoreTestSupport.h"

namespace vfstest = coretest;
