// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_feed_xml.h"

#include <vector>

#include "engine/model/new_custom_tags_class.h"
#include "engine/tidewell_utilities.h"
#include "engine/utf8_text.h"
#include "toolkit/exception.h"
#include "toolkit/kt_utils.h"
#include "toolkit/wide_string.h"

namespace tidewell {

namespace {

template <typename Text>
Text CollapseWhiteSpace(const Text& text) {
  auto isSpace = [](auto c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  Text result;
  bool pendingBlank = false;
  for (auto c : text) {
    if (isSpace(c)) {
      pendingBlank = !result.empty();
      continue;
    }
    if (pendingBlank) result.push_back(' ');
    pendingBlank = false;
    result.push_back(c);
  }
  return result;
}

// Runs of XML white space become one blank; the ends keep theirs (as one
// blank) so that words beside inline elements stay apart.
std::u16string CollapseInnerWhiteSpace(const std::u16string& text) {
  auto isSpace = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; };
  std::u16string result;
  for (char16_t c : text) {
    if (isSpace(c)) {
      if (result.empty() || result.back() != u' ') result.push_back(u' ');
      continue;
    }
    result.push_back(c);
  }
  return result;
}

// Hostile documents nest elements deep enough to exhaust the stack of a
// recursive walk; content below this depth is left out. Feeds never come
// near it.
constexpr int kMaxNesting = 256;

// Documents keep their white space between elements so that inline markup
// can be written back as it reads. Text content and the key markup leave it
// out, as they always did.
bool IsBlankText(const pugi::xml_node& node) {
  if (node.type() != pugi::node_pcdata) return false;
  for (const char* c = node.value(); *c != '\0'; ++c)
    if (*c != ' ' && *c != '\t' && *c != '\r' && *c != '\n') return false;
  return true;
}

void AppendTextContent(const pugi::xml_node& node, std::string& out, int depth) {
  if (depth > kMaxNesting) return;
  for (pugi::xml_node child : node.children()) {
    if (IsBlankText(child)) continue;
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata)
      out += child.value();
    else if (child.type() == pugi::node_element)
      AppendTextContent(child, out, depth + 1);
  }
}

std::u16string TextChildMarkup(const pugi::xml_node& child, bool preserve, bool whitespaceOn) {
  std::u16string text = kt::Utf8ToWide(child.value());
  if (preserve) return text;
  if (whitespaceOn) return NormalizeXmlWhiteSpace(text);
  return kt::TrimW(text);
}

}  // namespace

void RaiseWhenStopping(const TStopTest& stopping) {
  if (stopping && stopping()) throw kt::EAbort();
}

std::string MakeMD5Key(const std::u16string& a, const std::u16string& b) {
  std::string bytes;
  bytes.reserve(2 * (a.size() + b.size()));
  for (const std::u16string* text : {&a, &b}) {
    for (char16_t unit : *text) {
      bytes.push_back(static_cast<char>(unit & 0xFF));
      bytes.push_back(static_cast<char>(unit >> 8));
    }
  }
  return "MD5-" + BytesMD5Hex(bytes);
}

std::string UpperAscii(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

std::string LowerAscii(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::string NormalizeXmlWhiteSpace(const std::string& text) { return CollapseWhiteSpace(text); }
std::u16string NormalizeXmlWhiteSpace(const std::u16string& text) { return CollapseWhiteSpace(text); }

namespace {

// The parser's bytes: a character reference to a surrogate stands in them
// as a three-byte sequence, which is no valid UTF-8.
std::string ParsedNodeText(const pugi::xml_node& node) {
  if (!node) return {};
  if (IsBlankText(node)) return {};
  if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) return node.value();
  std::string out;
  AppendTextContent(node, out, 0);
  return out;
}

}  // namespace

// Titles read this way make the keys of items without guid and link, so
// their decoding stays as it was: each byte of a surrogate is one U+FFFD.
std::u16string NodeText(const pugi::xml_node& node) { return kt::Utf8ToWide(ParsedNodeText(node)); }

std::string NodeTextUtf8(const pugi::xml_node& node) { return RepairUtf8(ParsedNodeText(node)); }

std::string AttributeText(const pugi::xml_node& node, const char* name) {
  return RepairUtf8(node.attribute(name).value());
}

pugi::xml_node FindChildElement(const pugi::xml_node& parent, const std::string& upperName,
                                const TStopTest& stopping) {
  for (pugi::xml_node child : parent.children()) {
    RaiseWhenStopping(stopping);
    if (child.type() == pugi::node_element && UpperAscii(child.name()) == upperName) return child;
  }
  return {};
}

bool IsXmlSpacePreserve(const pugi::xml_node& element) {
  pugi::xml_attribute space = element.attribute("xml:space");
  if (!space) return false;
  return LowerAscii(kt::WideToUtf8(kt::TrimW(kt::Utf8ToWide(space.value())))) == "preserve";
}

namespace {

std::u16string MarkupOf(const pugi::xml_node& node, bool preserve, bool whitespaceOn, const TStopTest& stopping,
                        int depth) {
  std::u16string text;
  if (depth > kMaxNesting) return text;
  if (node.type() != pugi::node_element && node.type() != pugi::node_document) return text;
  for (pugi::xml_node child : node.children()) {
    RaiseWhenStopping(stopping);
    switch (child.type()) {
      case pugi::node_cdata:
        text += kt::TrimW(kt::Utf8ToWide(child.value()));
        break;
      case pugi::node_pcdata:
        if (!IsBlankText(child)) text += TextChildMarkup(child, preserve, whitespaceOn);
        break;
      case pugi::node_element: {
        std::u16string name = kt::Utf8ToWide(child.name());
        text += u"<" + name;
        for (pugi::xml_attribute attribute : child.attributes())
          text += u" " + kt::Utf8ToWide(attribute.name()) + u"=\"" + kt::Utf8ToWide(attribute.value()) + u"\"";
        text += u">" + MarkupOf(child, preserve, whitespaceOn, stopping, depth + 1) + u"</" + name + u">";
        break;
      }
      default:
        break;
    }
  }
  return text;
}

void AppendEscaped(std::u16string& out, const std::u16string& text, bool inAttribute) {
  for (char16_t c : text) {
    if (c == u'&') out += u"&amp;";
    else if (c == u'<') out += u"&lt;";
    else if (c == u'>') out += u"&gt;";
    else if (c == u'"' && inAttribute) out += u"&quot;";
    else out.push_back(c);
  }
}

// Mixed content written back as markup that reads as the same text: white
// space between words and elements stays (runs collapsed when
// whitespaceOn), text and attribute values are escaped.
void AppendInlineMarkup(const pugi::xml_node& node, bool whitespaceOn, const TStopTest& stopping, int depth,
                        std::u16string& out) {
  if (depth > kMaxNesting) return;
  for (pugi::xml_node child : node.children()) {
    RaiseWhenStopping(stopping);
    switch (child.type()) {
      case pugi::node_cdata: {
        const std::u16string text = kt::Utf8ToWide(child.value());
        out += whitespaceOn ? CollapseInnerWhiteSpace(text) : text;
        break;
      }
      case pugi::node_pcdata: {
        const std::u16string text = kt::Utf8ToWide(child.value());
        AppendEscaped(out, whitespaceOn ? CollapseInnerWhiteSpace(text) : text, false);
        break;
      }
      case pugi::node_element: {
        const std::u16string name = kt::Utf8ToWide(child.name());
        out += u"<" + name;
        for (pugi::xml_attribute attribute : child.attributes()) {
          out += u" " + kt::Utf8ToWide(attribute.name()) + u"=\"";
          AppendEscaped(out, kt::Utf8ToWide(attribute.value()), true);
          out += u"\"";
        }
        out += u">";
        AppendInlineMarkup(child, whitespaceOn, stopping, depth + 1, out);
        out += u"</" + name + u">";
        break;
      }
      default:
        break;
    }
  }
}

}  // namespace

bool HasElementChild(const pugi::xml_node& node) {
  for (pugi::xml_node child : node.children())
    if (child.type() == pugi::node_element) return true;
  return false;
}

std::u16string NodeToMarkup(const pugi::xml_node& node, bool preserve, bool whitespaceOn,
                            const TStopTest& stopping) {
  // Text alone (escaped HTML, CDATA) is stored as it always was.
  if (!HasElementChild(node)) return MarkupOf(node, preserve, whitespaceOn, stopping, 0);
  std::u16string text;
  AppendInlineMarkup(node, whitespaceOn && !preserve, stopping, 0, text);
  return preserve ? text : kt::TrimW(text);
}

std::u16string LegacyKeyMarkup(const pugi::xml_node& node, bool preserve, bool whitespaceOn,
                               const TStopTest& stopping) {
  return MarkupOf(node, preserve, whitespaceOn, stopping, 0);
}

void AddCustomTag(const pugi::xml_node& node, TNewCustomTagsClass& tags, int32_t ownerId, bool whitespaceOn,
                  const TStopTest& stopping) {
  if (std::string(node.name()).empty()) return;
  TNewCustomTagBaseProperty* tag =
      tags.Add(node.name(), NodeToMarkup(node, IsXmlSpacePreserve(node), whitespaceOn, stopping));
  tag->OwnerId = ownerId;
  for (pugi::xml_attribute attribute : node.attributes()) {
    RaiseWhenStopping(stopping);
    tag->Children().Add(attribute.name(), kt::Utf8ToWide(attribute.value()));
  }
}

namespace {

void DropPrefixes(pugi::xml_node node, const std::vector<std::string>& prefixes, const TStopTest& stopping,
                  int depth) {
  if (depth > kMaxNesting) return;
  for (pugi::xml_node child : node.children()) {
    if (child.type() != pugi::node_element) continue;
    RaiseWhenStopping(stopping);
    const std::string name = child.name();
    for (const std::string& prefix : prefixes)
      if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0)
        child.set_name(name.substr(prefix.size()).c_str());
    DropPrefixes(child, prefixes, stopping, depth + 1);
  }
}

}  // namespace

void DropRss10Prefixes(const pugi::xml_node& root, const TStopTest& stopping) {
  std::vector<std::string> prefixes;
  for (pugi::xml_attribute attribute : root.attributes()) {
    const std::string name = attribute.name();
    if (name.size() > 6 && name.compare(0, 6, "xmlns:") == 0 &&
        std::string(attribute.value()) == "http://purl.org/rss/1.0/")
      prefixes.push_back(name.substr(6) + ":");
  }
  if (!prefixes.empty()) DropPrefixes(root, prefixes, stopping, 0);
}

std::string StoredGuid(const std::string& key) {
  const std::u16string wide = kt::Utf8ToWide(key);
  return wide.size() <= 255 ? key : kt::WideToUtf8(wide.substr(0, 255));
}

bool IsRtlLanguage(const std::string& language) {
  std::string code = UpperAscii(kt::WideToUtf8(kt::TrimW(kt::Utf8ToWide(language))));
  return code == "FA" || code == "AR" || code == "HE";
}

bool IsCommentRssElement(const std::string& name) { return LowerAscii(name) == "wfw:commentrss"; }

}  // namespace tidewell
