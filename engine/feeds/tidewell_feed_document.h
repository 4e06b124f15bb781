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

// The address relative references of a feed resolve against: where the
// document came from after redirects (finalUrl), else the job's URL.
std::string FeedAddress(const std::string& finalUrl, const std::string& url);

// value (an xml:base, absolute or relative) resolved against base by the
// rules of RFC 3986; empty when the result is no absolute URL with a host.
std::string AbsoluteXmlBase(const std::string& base, const std::string& value);

// reference resolved against base by the rules of RFC 3986; reference
// itself when it is absolute, blank, or base is no absolute URL.
std::string ResolveReference(const std::string& base, const std::string& reference);

// The encoding named by the prolog among the first 1024 bytes, as written;
// empty without one.
std::string DeclaredXmlEncoding(const std::string& body);

// Parses body into document (comments dropped, references replaced).
// Documents declared ISO-8859-1 or US-ASCII are read as Windows-1252, as
// browsers read them (with latin1AsWindows1252 false: as ISO-8859-1, the
// way earlier versions read them). Raises kt::Exception with the parser's
// message on failure; then encodingRefused becomes true exactly when the
// failure is that the declared encoding is not one the parser reads
// (ConvertXmlToUtf8 can help), else false. A successful parse leaves it as
// it was.
// The message names the parser's reason, the line and the offset. With
// keepBlankText false, text of blanks alone between elements is dropped.
void ParseXmlBody(const std::string& body, pugi::xml_document& document, bool& encodingRefused,
                  bool latin1AsWindows1252 = true, bool keepBlankText = true);

// ParseXmlBody with the repairs every fetched document gets: a body the
// parser refuses is parsed again with lone carriage returns made line
// feeds, or, when its declared encoding is one the parser cannot read,
// re-encoded to UTF-8 (ConvertXmlToUtf8). body becomes the text parsed.
// Raises kt::Exception when no repair helps.
void ParseXmlWithRepairs(std::string& body, pugi::xml_document& document, bool& encodingRefused,
                         bool keepBlankText = true);

// Bytes as Windows-1252 text, in UTF-8.
std::string Windows1252ToUtf8(const std::string& bytes);
// The encoding name is ISO-8859-1 or US-ASCII under one of their names.
bool IsLatin1Name(const std::string& encoding);

// The charset parameter of the answer's content type, unquoted; empty
// without one. It counts whatever the media type: servers label lists and
// feeds text/x-opml, text/plain or text/html as often as text/xml.
std::string AnswerCharset(const std::string& contentType);

// The body in UTF-8, with its declaration naming UTF-8, when charset (the
// answer's, which overrides the document's declaration but not a byte-order
// mark) names an encoding the bytes follow, or when the body is UTF-16 or
// UTF-32 (byte-order mark, or the zero bytes around its first "<"); else the
// body unchanged.
// ISO-8859-1 and US-ASCII are read as Windows-1252.
std::string DecodeFeedBody(const std::string& body, const std::string& charset);

// A fetched body made ready for the parser, as every document is: decoded
// to UTF-8 (DecodeFeedBody, with the charset of contentType), bare ampersands escaped, a missing prolog put in front.
std::string PrepareXmlBody(const std::string& raw, const std::string& contentType);

// Every "&" that starts no entity or character reference becomes "&amp;"
// (CDATA sections, comments and processing instructions left alone); the
// body itself when there is none.
std::string EscapeBareAmpersands(const std::string& body);

}  // namespace tidewell
