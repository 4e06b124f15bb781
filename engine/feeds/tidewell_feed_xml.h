// SPDX-License-Identifier: MIT
// Reading feed elements: node text, element content back to markup, child
// look-up by upper-cased name, unknown elements as custom tags, article keys
// and the small tests on element and language names that the RSS/RDF and
// Atom processors share.
//
// Element names are compared upper-cased (ASCII) with their prefixes
// ("DC:DATE"); attribute names are looked up exactly ("xml:base").
// Threads: the worker's thread; nothing here keeps state.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include <pugixml.hpp>

namespace tidewell {

class TNewCustomTagsClass;

// The stop test of the walks below: raises kt::EAbort when it returns true.
using TStopTest = std::function<bool()>;
void RaiseWhenStopping(const TStopTest& stopping);

// "MD5-" and the 32 upper-case hexadecimal digits of the MD5 of the UTF-16
// little-endian code units of a followed by b.
std::string MakeMD5Key(const std::u16string& a, const std::u16string& b);

// The name with ASCII letters upper-cased.
std::string UpperAscii(std::string text);
std::string LowerAscii(std::string text);
// Ends dropped and inner runs collapsed to one blank (XML white space:
// blank, tab, carriage return, line feed).
std::string NormalizeXmlWhiteSpace(const std::string& text);
std::u16string NormalizeXmlWhiteSpace(const std::u16string& text);

// The node's text content (its own value for text and CDATA nodes, every
// descendant text of an element); empty for an absent node. Content nested
// more than 256 elements deep is left out. The UTF-8 forms below are always
// valid UTF-8: a reference to a surrogate pair becomes its character, a lone
// surrogate U+FFFD (RepairUtf8).
std::u16string NodeText(const pugi::xml_node& node);
std::string NodeTextUtf8(const pugi::xml_node& node);
// The attribute's value, empty when the element has none of that name.
std::string AttributeText(const pugi::xml_node& node, const char* name);

// The first child element whose upper-cased name equals upperName; an
// empty node when there is none.
pugi::xml_node FindChildElement(const pugi::xml_node& parent, const std::string& upperName,
                                const TStopTest& stopping);

// The element's "xml:space" is "preserve" (case and blanks ignored).
bool IsXmlSpacePreserve(const pugi::xml_node& element);

// The content of the node as markup. Text alone (the escaped HTML of most
// feeds) and CDATA come back as their text: trimmed, or normalised when
// whitespaceOn, or unchanged with preserve. Content holding elements (XHTML,
// inline markup) is written back so that it reads as the same text: white
// space between words and elements kept (runs collapsed when whitespaceOn),
// text and attribute values escaped, only the ends of the whole trimmed
// (not with preserve). Only elements and documents have content; content
// nested more than 256 elements deep is left out. Raises kt::EAbort when
// stopping.
std::u16string NodeToMarkup(const pugi::xml_node& node, bool preserve, bool whitespaceOn, const TStopTest& stopping);

// The markup that article keys and content digests are made of: every text
// piece trimmed (or normalised, or unchanged with preserve), elements and
// attributes written unescaped. It never changes, so that stored articles
// keep matching their items.
std::u16string LegacyKeyMarkup(const pugi::xml_node& node, bool preserve, bool whitespaceOn,
                               const TStopTest& stopping);

// Whether the node has an element among its children.
bool HasElementChild(const pugi::xml_node& node);

// Adds the element as a custom tag (name, markup, attributes) owned by
// ownerId; nothing for a node without name.
void AddCustomTag(const pugi::xml_node& node, TNewCustomTagsClass& tags, int32_t ownerId, bool whitespaceOn,
                  const TStopTest& stopping);

// RSS 1.0 elements written with a prefix bound to the RSS 1.0 namespace on
// the root ("rss:item") lose it, so that they read like unprefixed ones.
void DropRss10Prefixes(const pugi::xml_node& root, const TStopTest& stopping);

// The key as the guid column keeps it: its first 255 characters.
std::string StoredGuid(const std::string& key);

// "FA", "AR" or "HE" after trimming, any case.
bool IsRtlLanguage(const std::string& language);
// "wfw:commentrss", any case.
bool IsCommentRssElement(const std::string& name);

}  // namespace tidewell
