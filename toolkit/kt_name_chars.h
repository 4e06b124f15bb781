// SPDX-License-Identifier: MIT
// The character classes of tag and attribute names in markup.
#pragma once

#include "toolkit/wide_string.h"

namespace kt {

// "A"-"Z" and "a"-"z" only.
bool IsNameStartChar(WideChar c);
// "-", ".", "0"-"9", ":", "A"-"Z", "_", "a"-"z".
bool IsNameChar(WideChar c);

}  // namespace kt
