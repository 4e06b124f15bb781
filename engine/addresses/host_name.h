// SPDX-License-Identifier: MIT
// One spelling for each host name libcurl connects to, so that two spellings
// of one server compare equal and two servers never do: the name DNS sees.
#pragma once

#include <string>
#include <string_view>

namespace tidewell {

// The longest host name DNS resolves, in characters.
constexpr size_t kMaxHostNameLength = 253;

// The host's one spelling, from the host as libcurl's URL API gives it
// (escapes decoded, IPv6 literals written short):
//
//   host written as               | becomes                            | apart from
//   ------------------------------+------------------------------------+------------------------------
//   ASCII name (xn-- labels too)  | lower case, nothing decoded        | another xn-- spelling that
//                                 |   XN--BCHER-KVA -> xn--bcher-kva   | decodes to the same letters
//   name with non-ASCII letters   | libidn2's lookup form, as libcurl  | ß.de (xn--zca.de) vs ẞ.de
//                                 | resolves it (UTS 46 non-           | (ss.de)
//                                 | transitional, then transitional)   |
//                                 |   Bücher.example -> xn--bcher-kva  |
//   IPv6 literal                  | as libcurl writes it, lower case   |
//
// False (and error set) for a name longer than kMaxHostNameLength (checked
// before any conversion) or one libidn2 cannot convert: libcurl would not
// connect to it either.
bool CanonicalHostName(std::string_view host, std::string& canonical, std::string& error);

}  // namespace tidewell
