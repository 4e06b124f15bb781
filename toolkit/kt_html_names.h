// SPDX-License-Identifier: MIT
// The process-wide name tables of the HTML reader: element names and
// attribute names to their numeric IDs (0 when a name is unknown), and named
// character references to their text.
//
// Threads: the registration routines write the tables and must run before
// any other thread reads them (the engine calls them once at start-up); from
// then on every reader looks names up without a lock. The entity table is
// filled when it is first used and only read afterwards.
#pragma once

#include <cstdint>

#include "toolkit/wide_string.h"

namespace kt {

// Store ID under the name; an existing name gets the new ID.
void RegisterHtmlTag(const WideString& name, uint32_t id);
void RegisterHtmlAttrib(const WideString& name, uint32_t id);
// The 96 element names (upper case, IDs 1-108) and the attribute names
// (lower case, IDs 1-130, "encoding" under 41). Running them again keeps
// the same IDs.
void RegisterHtmlTagNames();
void RegisterHtmlAttribNames();

// Lookups ignore case; 0 when the name is not registered.
uint32_t HtmlTagID(const WideChar* name, int32_t length);
uint32_t HtmlAttribID(const WideChar* name, int32_t length);
inline uint32_t HtmlTagID(const WideString& name) {
  return HtmlTagID(name.data(), static_cast<int32_t>(name.size()));
}
inline uint32_t HtmlAttribID(const WideString& name) {
  return HtmlAttribID(name.data(), static_cast<int32_t>(name.size()));
}

// The text of a named character reference (case-sensitive name, without
// "&" and ";"): the HTML 4 entities and "apos". Null when unknown; the
// text lives as long as the program.
const WideString* FindHtmlEntity(const WideChar* name, int32_t length);

}  // namespace kt
