// SPDX-License-Identifier: MIT
// The shared key handlers of the common key types. Each accessor returns the
// one handler of its kind, made on the first call; the first call is safe
// from several threads at once. The handlers live until the program ends and
// must not be changed.
//
// A key is passed to a hash as the address of a key in its stored layout:
// a uint32_t for Cardinal keys, a WideChar for WideChar keys and a
// TKtWideStringRef for string keys (TKtWideStringRef::Borrow makes one of a
// string without copying it). The string handlers also take keys as a
// character buffer and its length in characters.
#pragma once

#include <cstdint>

#include "toolkit/kt_handlers.h"
#include "toolkit/wide_string.h"

namespace kt {

// Cardinal keys (size 4): integer mix, equal numbers, copied.
TKtKeyHandler* CardinalKeyHandler();
// String keys, compared with and without case; the hash is h * 31 + c over
// the characters (folded ones for the case-insensitive handler), the same for
// a key and for a buffer holding the same characters.
TKtKeyHandler* WideStringCSKeyHandler();
TKtKeyHandler* WideStringCIKeyHandler();
// WideChar keys (size 2): character mix, equal characters, copied.
TKtKeyHandler* WideCharCSKeyHandler();

// The hash functions of those handlers, with 32-bit wrap-around.
uint32_t HashCardinalKey(uint32_t x);
uint32_t HashWideCharKey(WideChar c);
uint32_t HashWideStringCS(const WideChar* text, int32_t length);
uint32_t HashWideStringCI(const WideChar* text, int32_t length);

}  // namespace kt
