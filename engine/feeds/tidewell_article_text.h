// SPDX-License-Identifier: MIT
// What one article's text may take. A feed document is held to its quota,
// but all of it may sit in one article; its body is cut here so that one
// entry cannot fill the database, nor the memory of whoever shows it.
#pragma once

#include <cstddef>
#include <string>

namespace tidewell {

// UTF-16 code units of an article body that are kept.
constexpr size_t kArticleTextLimit = 1024 * 1024;

// text cut to kArticleTextLimit code units, never between the two halves
// of a surrogate pair.
std::u16string CapArticleText(std::u16string text);

}  // namespace tidewell
