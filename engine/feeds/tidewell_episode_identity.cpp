// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_episode_identity.h"

#include <array>
#include <cmath>
#include <string_view>

#include "engine/feeds/tidewell_feed_xml.h"
#include "engine/model/article_property.h"
#include "toolkit/kt_utils.h"
#include "toolkit/wide_string.h"

namespace tidewell {
namespace {

constexpr size_t kTitleCharacters = 512;
constexpr TDateTime kHalfSecond = 0.5 / 86400;

// Extensions of pages that hand out a file named by their query.
constexpr std::array<std::string_view, 18> kScriptExtensions = {
    "php", "php3", "php4", "php5", "phtml", "asp", "aspx", "ashx", "axd",
    "cgi", "pl",   "py",   "jsp",  "jspx",  "cfm", "do",   "action", "exe"};

// The part of a URL between its host and its query.
std::string PathOf(const std::string& url) {
  const size_t end = url.find_first_of("?#");
  const std::string address = url.substr(0, end);
  const size_t scheme = address.find("://");
  const size_t host = scheme == std::string::npos ? 0 : scheme + 3;
  const size_t path = address.find('/', host);
  return path == std::string::npos ? std::string() : address.substr(path);
}

// Whether the last segment of the path is a file name with an extension
// that is no script's.
bool PathNamesFile(const std::string& path) {
  const std::string segment = path.substr(path.rfind('/') + 1);
  const size_t dot = segment.rfind('.');
  if (dot == std::string::npos || dot + 1 == segment.size()) return false;
  const std::string extension = LowerAscii(segment.substr(dot + 1));
  for (std::string_view script : kScriptExtensions)
    if (extension == script) return false;
  return true;
}

}  // namespace

std::u16string StoredTitleOf(const std::u16string& title) {
  // The column counts characters; a pair of surrogates is one.
  size_t end = 0;
  for (size_t characters = 0; end < title.size() && characters < kTitleCharacters; ++characters) {
    const bool pair = end + 1 < title.size() && title[end] >= 0xD800 && title[end] <= 0xDBFF &&
                      title[end + 1] >= 0xDC00 && title[end + 1] <= 0xDFFF;
    end += pair ? 2 : 1;
  }
  return kt::TrimW(title.substr(0, end));
}

bool SameEpisode(const TArticleProperty& stored, const TKeylessItem& item) {
  const std::u16string title = StoredTitleOf(item.title);
  // Without a title nothing tells the next episode from this one.
  if (title.empty()) return false;
  if (!stored.Deleted || !kt::TrimW(stored.Title).empty()) return kt::TrimW(stored.Title) == title;
  // Deleted unheard, the article kept its date but not its title.
  return item.published && std::fabs(stored.Created - *item.published) < kHalfSecond;
}

bool NamedByQuery(const std::string& url) {
  const size_t query = url.find('?');
  if (query == std::string::npos || query > url.find('#')) return false;
  return !PathNamesFile(PathOf(url));
}

std::string EnclosureFileIdentity(const std::string& url) {
  const std::string withoutFragment = url.substr(0, url.find('#'));
  if (NamedByQuery(withoutFragment)) return withoutFragment;
  return withoutFragment.substr(0, withoutFragment.find('?'));
}

}  // namespace tidewell
