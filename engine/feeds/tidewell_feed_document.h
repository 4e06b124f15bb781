// SPDX-License-Identifier: MIT
// Preparing a feed body for the XML parser and parsing it: a missing prolog
// put in front, euro signs of ISO-8859-1 documents written as references,
// lone carriage returns made line feeds, and documents in encodings the
// parser cannot read recognised so that they can be re-encoded to UTF-8.
// Plain functions on byte strings, safe on any thread.
#pragma once

#include <string>

#include <pugixml.hpp>

namespace tidewell {

// The body to parse: unchanged when shorter than 4 bytes or when a prolog
// "<?xml " is among the first 512 bytes (UTF-16 in the byte order of a
// byte-order mark, else single bytes), except that a prolog declaring
// "ISO-8859-1" in double quotes has every byte 0x80 replaced by "&#8364;".
// Without a prolog, <?xml version="1.0" ?> is put in front (after the mark,
// as UTF-16 in the mark's byte order, when there is one).
std::string FixXmlProlog(const std::string& body);

// Every carriage return not followed by a line feed becomes a line feed.
void FixBareCarriageReturns(std::string& body);

// The base-URL part (protocol, "://", host and path, ending in "/") of an
// xml:base value; empty unless that is longer than one character, holds
// "://" and names a host.
std::string ResolveXmlBase(const std::string& value);

// The encoding named by the prolog among the first 1024 bytes, as written;
// empty without one.
std::string DeclaredXmlEncoding(const std::string& body);

// Parses body into document (comments dropped, references replaced).
// Raises kt::Exception with the parser's message on failure; then
// encodingRefused becomes true exactly when the failure is that the declared
// encoding is not one the parser reads (ConvertXmlToUtf8 can help), else
// false. A successful parse leaves it as it was.
void ParseXmlBody(const std::string& body, pugi::xml_document& document, bool& encodingRefused);

}  // namespace tidewell
