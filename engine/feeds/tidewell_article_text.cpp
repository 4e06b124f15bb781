// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_article_text.h"

namespace tidewell {

std::u16string CapArticleText(std::u16string text) {
  if (text.size() <= kArticleTextLimit) return text;
  size_t keep = kArticleTextLimit;
  const char16_t last = text[keep - 1];
  if (last >= 0xD800 && last <= 0xDBFF) --keep;
  text.resize(keep);
  return text;
}

}  // namespace tidewell
