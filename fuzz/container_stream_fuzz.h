// SPDX-License-Identifier: MIT
// The fuzz target for loading containers from streams, shared by the libFuzzer
// build (scripts/fuzz.sh) and the unit tests, which replay
// mutated streams through it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kt::fuzzing {

// The first byte picks a container kind, the rest is loaded into it. A load
// may fail with the system's exceptions; anything else (a crash, another
// exception, a save that does not reload to the same bytes) is a bug and
// aborts.
void LoadContainerStream(const uint8_t* data, size_t size);

}  // namespace kt::fuzzing
