#pragma once
// Until every test includes ModelTestSupport.h directly.
#include "ModelTestSupport.h"
namespace testobjects { using modeltest::make; }
