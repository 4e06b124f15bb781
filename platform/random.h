// SPDX-License-Identifier: MIT
// Random numbers for names that must not collide (temporary files).
#pragma once

#include <cstdint>

namespace platform {

// 32 bits from the system's random source; safe on any thread.
uint32_t RandomUint32();

}  // namespace platform
