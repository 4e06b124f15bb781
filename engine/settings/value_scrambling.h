// SPDX-License-Identifier: MIT
// The light scrambling that keeps passwords out of plain sight in the
// settings store and in the feeds table: ROT13, then XOR with a fixed key,
// written as lower-case hexadecimal. It hides text from a casual look; it is
// no encryption. All texts are byte strings; every routine is pure and safe
// on any thread.
#pragma once

#include <string>
#include <string_view>

namespace tidewell {

// The key of passwords in the settings store (5 bytes).
inline constexpr std::string_view kConfigurationScrambleKey{"\x5d\x0e\x73\xb1\xc4", 5};
// The key of the feed passwords kept in the database (4 bytes).
inline constexpr std::string_view kFeedPasswordScrambleKey{"\x8e\x3f\x50\xd7", 4};

// Each ASCII letter moved 13 places within its case; other bytes unchanged.
std::string Rot13(const std::string& s);

// Two lower-case hexadecimal digits per byte of text, each byte XORed with
// the key byte of its position, the key repeated; an empty key XORs nothing.
std::string ScrambleToHex(std::string_view key, const std::string& text);

// The bytes back from the hexadecimal pairs (digits of either case), each
// XORed with the key byte of its position. A last odd character is ignored;
// a pair that is not two hexadecimal digits reads as 32 (a blank) before the
// XOR.
std::string UnscrambleFromHex(std::string_view key, const std::string& text);

// The stored form of a feed password and back.
std::string ScrambleText(const std::string& s);
std::string UnscrambleText(const std::string& s);

}  // namespace tidewell
