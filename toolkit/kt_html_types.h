// SPDX-License-Identifier: MIT
// The small shared vocabulary of the HTML reader, its filters, plugins and
// writer: piece kinds, filter settings and attribute quoting modes.
#pragma once

#include <cstdint>

namespace kt {

// What a piece of markup is. The order is also the order of the filter
// properties and of the plugin handlers.
enum class TKtHtmlPieceKind : uint8_t {
  pkNone = 0,
  pkASP = 1,
  pkCDataSection = 2,
  pkComment = 3,
  pkCustomTag = 4,
  pkDTD = 5,
  pkExclamationMarkup = 6,
  pkHtmlPI = 7,
  pkHtmlTag = 8,
  pkPHP = 9,
  pkScript = 10,
  pkSsiTag = 11,
  pkStyle = 12,
  pkText = 13,
  pkTitle = 14,
  pkXmlPI = 15,
};
constexpr int kHtmlPieceKindCount = 16;

// Who receives a piece, for one party (the caller or one plugin):
// fiHide never; fiShow always, and the piece counts as shown; fiShowLocal
// always, without making it count as shown; fiShowHidden only pieces that
// nobody shows; fiShowShown only pieces that somebody shows.
enum class TKtFilter : uint8_t {
  fiHide = 0,
  fiShowHidden = 1,
  fiShowShown = 2,
  fiShowLocal = 3,
  fiShow = 4,
};

// How attribute values are quoted when tags are written out.
enum class TKtQuoteTags : uint8_t {
  qtAlways = 0,
  qtSpecialChars = 1,
  qtWhiteSpace = 2,
};

// The fixed element and attribute IDs the reader itself relies on.
namespace html_id {
constexpr uint32_t kMeta = 70;
constexpr uint32_t kPre = 81;
constexpr uint32_t kScript = 86;
constexpr uint32_t kStyle = 93;
constexpr uint32_t kTitle = 103;
constexpr uint32_t kAttribCharset = 19;
constexpr uint32_t kAttribContent = 33;
constexpr uint32_t kAttribEncoding = 41;
constexpr uint32_t kAttribHttpEquiv = 55;
constexpr uint32_t kAttribLanguage = 60;
constexpr uint32_t kAttribType = 120;
}  // namespace html_id

}  // namespace kt
