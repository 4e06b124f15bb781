// SPDX-License-Identifier: MIT
// The shared item handlers of the common item types, and those item layouts.
// Each accessor returns the one handler of its kind, made on the first call;
// the first call is safe from several threads at once. The handlers live
// until the program ends and must not be changed (every container that uses
// one holds it in use).
//
// Their stream headers carry the logical item size (a string reference counts
// 4 bytes), so a stream's layout does not depend on the machine; an item
// handler of a bigger ItemSize (extra raw bytes after the layout) writes a
// header bigger by as much, and reading a stream whose header differs fails
// with "Invalid ItemSize (%d)" carrying the size read.
#pragma once

#include <cstdint>

#include "toolkit/kt_handlers.h"
#include "toolkit/kt_string_ref.h"

namespace kt {

// WideString item: one string (logical size 4).
using TKtWideStringItem = TKtWideStringRef;
constexpr int32_t kKtWideStringItemStreamSize = 4;

// WideString2Cardinal item: in a tag, the attribute name, its value and its
// number (logical size 12).
struct TKtWideString2CardinalItem {
  TKtWideStringRef first;
  TKtWideStringRef second;
  uint32_t number;
};
constexpr int32_t kKtWideString2CardinalItemStreamSize = 12;

// Cardinal item: one 32-bit unsigned number (size 4).
using TKtCardinalItem = uint32_t;

// Items zeroed on init, strings released on free and assigned on copy; read
// and written as their typed values followed by any extra bytes raw.
TKtItemHandler* WideStringItemHandler();
TKtItemHandler* WideString2CardinalItemHandler();
TKtItemHandler* CardinalItemHandler();

}  // namespace kt
