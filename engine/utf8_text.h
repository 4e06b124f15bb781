// SPDX-License-Identifier: MIT
// Checking and repairing UTF-8 text before it is kept: the database refuses
// a text that is not valid UTF-8 ("Malformed string"), and lenient encoders
// write a character reference to a surrogate ("&#xD800;", or an emoji as the
// two references "&#55357;&#56832;") as three bytes each.
#pragma once

#include <string>
#include <string_view>

namespace tidewell {

// Every character well formed: no overlong form, no surrogate, nothing above
// U+10FFFF, no sequence cut short.
bool IsValidUtf8(std::string_view text);

// Valid text unchanged. Otherwise a high and a low surrogate written one
// after the other become the one character they stand for, and every other
// byte that forms no valid character becomes U+FFFD, as kt::Utf8ToWide reads
// it.
std::string RepairUtf8(std::string_view text);

}  // namespace tidewell
