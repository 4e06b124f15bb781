// SPDX-License-Identifier: MIT
// One spelling for each host name, so that two spellings of one server
// compare equal: the form that DNS and the server see.
#pragma once

#include <string>
#include <string_view>

namespace tidewell {

// The host's one spelling:
//
//   host written as             | becomes                         | example
//   ----------------------------+---------------------------------+-------------------------------------------
//   ASCII name                  | lower case                      | Feeds.Example.ORG -> feeds.example.org
//   label with non-ASCII letters| lower case, then "xn--" + its   | Bücher.example -> xn--bcher-kva.example
//                               | Punycode                        |
//   "xn--" label, any case      | decoded, lower case, re-encoded | XN--BCHER-KVA -> xn--bcher-kva
//   IPv6 literal                | eight groups, shortest form     | [0:0:0:0:0:0:0:1] -> [::1],
//                               | (longest zero run as "::")      | [::FFFF:127.0.0.1] -> [::ffff:7f00:1]
//
// A label that is no valid UTF-8 or Punycode, and a bracketed text that is
// no IPv6 address, are only put in lower case. Letters outside ASCII are
// lowered by the C.UTF-8 locale's table; no Unicode normalisation is done.
std::string CanonicalHostName(std::string_view host);

// RFC 3492 Punycode of a label's code points, without the "xn--" prefix;
// and back (false when the text is no Punycode).
std::string PunycodeEncode(const std::u32string& label);
bool PunycodeDecode(std::string_view encoded, std::u32string& label);

}  // namespace tidewell
