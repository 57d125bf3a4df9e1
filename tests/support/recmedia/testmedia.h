#pragma once

#include "tests/support/media/testmedia.h"

#include <cstdint>

// What the recording file tests and benchmarks need beyond the shared test
// media (tests/support/media/testmedia.h).
namespace varno::test {

// The recorder's frame type for an H.264 NAL type (101 ... 105, or 0).
uint32_t recorderFrameType(int nalType);

} // namespace varno::test
