// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_episode_identity.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string_view>

#include "engine/feeds/tidewell_feed_xml.h"
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

// Query parameters that sign or time a fetch rather than name a file.
constexpr std::array<std::string_view, 20> kTokenParameters = {
    "token", "signature", "sig",  "expires", "policy", "key-pair-id", "hdnts", "hdnea", "auth", "t",
    "ts",    "timestamp", "nonce", "hash",   "hmac",   "st",          "e",     "session", "sid", "verify"};

bool IsTokenParameter(const std::string& name) {
  const std::string lower = LowerAscii(name);
  if (lower.rfind("x-amz-", 0) == 0 || lower.rfind("x-goog-", 0) == 0) return true;
  for (std::string_view token : kTokenParameters)
    if (lower == token) return true;
  return false;
}

// The part of a URL between its host and its query.
std::string PathOf(const std::string& url) {
  const size_t end = url.find_first_of("?#");
  const std::string address = url.substr(0, end);
  const size_t scheme = address.find("://");
  const size_t host = scheme == std::string::npos ? 0 : scheme + 3;
  const size_t path = address.find('/', host);
  return path == std::string::npos ? std::string() : address.substr(path);
}

// Extensions of media files: a segment with one is no host.
constexpr std::array<std::string_view, 14> kMediaExtensions = {
    "mp3", "m4a", "mp4", "m4v", "aac", "ogg", "oga", "opus", "wav", "flac", "mov", "webm", "mpga", "mpeg"};

bool ExtensionIn(const std::string& segment, const auto& extensions) {
  const std::string extension = LowerAscii(segment.substr(segment.rfind('.') + 1));
  for (std::string_view known : extensions)
    if (extension == known) return true;
  return false;
}

// A path segment that is provably a host name (a counter's prefix puts the
// file's own address behind its path: /redirect.mp3/media.example/show/ep1.mp3):
// labels of letters, digits and hyphens, the last one of letters only. A
// folder named by a dotted date (2026.12.07) or a version (v1.2) is none.
bool IsHostSegment(const std::string& segment) {
  if (ExtensionIn(segment, kMediaExtensions) || ExtensionIn(segment, kScriptExtensions)) return false;
  const std::string host = segment.substr(0, segment.find(':'));
  size_t labels = 0;
  for (size_t start = 0; start <= host.size(); ++labels) {
    const size_t end = std::min(host.find('.', start), host.size());
    const std::string label = host.substr(start, end - start);
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-' ||
        label.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-") != std::string::npos)
      return false;
    const bool last = end == host.size();
    if (last && (label.size() < 2 || label.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ") !=
                                         std::string::npos))
      return false;
    start = end + 1;
  }
  return labels >= 2;
}

// The path behind the last host named in it, or the path.
std::string PathBehindHosts(const std::string& path) {
  size_t behind = 0;
  for (size_t start = 1, end; start < path.size(); start = end + 1) {
    end = path.find('/', start);
    if (end == std::string::npos) break;
    if (IsHostSegment(path.substr(start, end - start))) behind = end;
  }
  return path.substr(behind);
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

// The query without the parameters that sign or time the fetch.
std::string QueryWithoutTokens(const std::string& query) {
  std::string kept;
  for (size_t start = 0; start <= query.size();) {
    size_t end = query.find('&', start);
    if (end == std::string::npos) end = query.size();
    const std::string parameter = query.substr(start, end - start);
    const std::string name = parameter.substr(0, parameter.find('='));
    if (!parameter.empty() && !IsTokenParameter(name)) kept += (kept.empty() ? "" : "&") + parameter;
    start = end + 1;
  }
  return kept;
}

bool SameLink(const TEpisodeFacts& item, const TEpisodeFacts& stored) {
  const std::string link = ComparableAddress(stored.link);
  return ComparableAddress(item.link) == link ||
         (!item.relativeLink.empty() && ComparableAddress(item.relativeLink) == link);
}

bool SameTextKey(const TEpisodeFacts& item, const TEpisodeFacts& stored) {
  return !item.textKey.empty() && LowerAscii(item.textKey) == LowerAscii(stored.textKey);
}

bool SameDate(const TEpisodeFacts& item, const TEpisodeFacts& stored) {
  return item.date && stored.date && std::fabs(*item.date - *stored.date) < kHalfSecond;
}

bool DatesApart(const TEpisodeFacts& item, const TEpisodeFacts& stored) {
  return item.date && stored.date && !SameDate(item, stored);
}

// The item's page is its own, the article's is another, and no date they
// share tells an episode given its own page since.
bool OwnLinkApart(const TEpisodeFacts& item, const TEpisodeFacts& stored, const TEpisodeShares& shares) {
  return shares.ownLink && !item.link.empty() && !stored.link.empty() && !SameLink(item, stored) &&
         !SameDate(item, stored);
}

// Texts and date as they were: only where both sides give a date, since
// without one nothing tells a moved file from the next episode's.
bool Unchanged(const TEpisodeFacts& item, const TEpisodeFacts& stored) {
  return SameTextKey(item, stored) && SameDate(item, stored);
}

TFileMoves MovesOf(const TEpisodeFacts& item, const TEpisodeFacts& stored) {
  return Unchanged(item, stored) ? TFileMoves::sameName : TFileMoves::none;
}

bool AnySameFile(const TEpisodeFacts& item, const TEpisodeFacts& stored, TFileMoves moves) {
  for (const TEpisodeFile& a : item.files)
    for (const TEpisodeFile& b : stored.files)
      if (SameFile(a, b, moves)) return true;
  return false;
}

// Both name files, and none of the item's is one of the row's.
bool FilesApart(const TEpisodeFacts& item, const TEpisodeFacts& stored) {
  if (item.files.empty() || !stored.filesKnown || stored.files.empty()) return false;
  return !AnySameFile(item, stored, MovesOf(item, stored));
}

std::u16string DigitsOf(const std::u16string& text) {
  std::u16string digits;
  for (char16_t c : text)
    if (c >= u'0' && c <= u'9') digits += c;
  return digits;
}

// A letter of a compared (case-folded) title: ASCII letters, and beyond
// ASCII all but white space.
bool IsLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= 0x80 && !kt::IsCharWhiteSpaceW(c)); }

// The word of text around position at: its letters.
std::u16string WordAt(const std::u16string& text, size_t at) {
  size_t start = std::min(at, text.size()), end = start;
  while (start > 0 && IsLetter(text[start - 1])) --start;
  while (end < text.size() && IsLetter(text[end])) ++end;
  return text.substr(start, end - start);
}

// A part's number written as a roman numeral (Part II) or its letter (Part B).
bool IsPartMark(const std::u16string& word) {
  return word.size() <= 1 || word.find_first_not_of(u"ivxlcdm") == std::u16string::npos;
}

// At most one character put in, left out, changed or two swapped, none of
// them a digit or in a part's numeral or letter: a corrected typo, not the
// next episode's number or name.
bool CorrectedTitle(const std::u16string& a, const std::u16string& b) {
  if (a == b) return true;
  if (DigitsOf(a) != DigitsOf(b)) return false;
  const size_t la = a.size(), lb = b.size();
  if ((la > lb ? la - lb : lb - la) > 1) return false;
  size_t head = 0;
  while (head < la && head < lb && a[head] == b[head]) ++head;
  size_t tail = 0;
  while (tail < la - head && tail < lb - head && a[la - 1 - tail] == b[lb - 1 - tail]) ++tail;
  const size_t restA = la - head - tail, restB = lb - head - tail;
  if (IsPartMark(WordAt(a, head)) || IsPartMark(WordAt(b, head))) return false;
  if (restA <= 1 && restB <= 1) return true;
  return restA == 2 && restB == 2 && a[head] == b[head + 1] && a[head + 1] == b[head];
}

// The same title, or one corrected; an article deleted unheard has lost its
// title, and agrees only while no date moved. A live one without title
// agrees with no titled item.
bool TitlesAgree(const TEpisodeFacts& item, const TEpisodeFacts& stored) {
  if (stored.titleKnown) return CorrectedTitle(item.title, stored.title);
  return stored.deleted ? !DatesApart(item, stored) : item.title.empty();
}

}  // namespace

TEpisodeVerdict JudgeEpisode(const TEpisodeFacts& item, const TEpisodeFacts& stored, const TEpisodeShares& shares) {
  using R = TEpisodeRow;
  // A date that every item of the document moved alike is the feed's
  // stamp, not the episode's: a keyed item is judged as undated. Without
  // a key, texts and file stay alike from one edition of a bulletin at
  // one address to the next: there only the date tells the next edition.
  if (shares.stampedDate && item.date && item.keyed) {
    TEpisodeFacts undated = item;
    undated.date.reset();
    TEpisodeShares rest = shares;
    rest.stampedDate = false;
    return JudgeEpisode(undated, stored, rest);
  }
  const TFileMoves moves = MovesOf(item, stored);
  // A key several items of the document carry (the site's address on
  // every item) decides nothing on its own: the rows below decide.
  const bool keyed = item.keyed && !shares.sharedKey;
  // A deleted article is never written again: a key the publisher gives
  // a new episode would keep that one deleted, so there a moved date or
  // other files, and new texts decide (a date alone moves in feeds that
  // stamp every fetch).
  if (keyed && item.key == stored.key) {
    if (stored.deleted && (DatesApart(item, stored) || FilesApart(item, stored)) && !SameTextKey(item, stored))
      return {false, R::keyedApart};
    // Its key and texts tell the episode: a file renamed in place (a new
    // folder) under its known length is moved, though the feed gives no
    // date; another length there is another file.
    const bool sameTexts = SameTextKey(item, stored) && !DatesApart(item, stored);
    return {true, R::byKey, moves != TFileMoves::none || !sameTexts ? moves : TFileMoves::sameNameAndLength};
  }
  // A key against another key: only a new guid on unchanged content is the
  // same episode, and only while its date did not move. A key on one side
  // only (guids written or dropped) tells nothing: the rows below decide.
  if (keyed && stored.keyed) {
    const bool sameContent =
        SameTextKey(item, stored) && SameLink(item, stored) && !DatesApart(item, stored) && !FilesApart(item, stored);
    return {sameContent, sameContent ? R::byTextKey : R::keyedApart, moves};
  }
  if (FilesApart(item, stored)) return {false, R::fileApart};
  // The same texts under a date of its own that moved, or on a page of its
  // own that is another: the next edition of a bulletin at one address.
  if (SameTextKey(item, stored))
    return {!DatesApart(item, stored) && !OwnLinkApart(item, stored, shares), R::byTextKey, moves};
  // Without a title nothing tells the next episode from a new counter.
  if (item.title.empty()) return {false, R::none};
  // One place held by one episode after another (a feed of its latest
  // episode) is not its own: there a new title is a new episode.
  if (!item.link.empty() && shares.ownLink && SameLink(item, stored) && TitlesAgree(item, stored))
    return {true, R::byOwnLink};
  if (shares.ownFile && AnySameFile(item, stored, TFileMoves::none) && TitlesAgree(item, stored))
    return {true, R::byOwnFile};
  if (shares.ownDate && SameDate(item, stored) && SameLink(item, stored) && TitlesAgree(item, stored))
    return {true, R::byOwnDate};
  const bool sharedPlace =
      (!item.link.empty() && SameLink(item, stored)) || AnySameFile(item, stored, TFileMoves::none);
  if (stored.titleKnown && shares.ownTitle && item.title == stored.title && sharedPlace && !DatesApart(item, stored))
    return {true, R::byTitle};
  return {false, R::none};
}

std::u16string ComparableTitle(const std::u16string& title) {
  // The column counts characters; a pair of surrogates is one.
  size_t end = 0;
  for (size_t characters = 0; end < title.size() && characters < kTitleCharacters; ++characters) {
    const bool pair = end + 1 < title.size() && title[end] >= 0xD800 && title[end] <= 0xDBFF &&
                      title[end + 1] >= 0xDC00 && title[end + 1] <= 0xDFFF;
    end += pair ? 2 : 1;
  }
  std::u16string comparable;
  bool blank = false;
  for (char16_t c : kt::TrimW(title.substr(0, end))) {
    if (kt::IsCharWhiteSpaceW(c)) {
      blank = true;
      continue;
    }
    if (blank) comparable += u' ';
    blank = false;
    comparable += kt::CharFoldW(c);
  }
  return comparable;
}

bool NamedByQuery(const std::string& url) {
  const size_t query = url.find('?');
  if (query == std::string::npos || query > url.find('#')) return false;
  return !PathNamesFile(PathOf(url));
}

std::string EnclosureFileIdentity(const std::string& url) {
  const std::string withoutFragment = url.substr(0, url.find('#'));
  const std::string path = PathBehindHosts(PathOf(withoutFragment));
  if (!NamedByQuery(withoutFragment)) return path;
  const std::string query = QueryWithoutTokens(withoutFragment.substr(withoutFragment.find('?') + 1));
  return query.empty() ? path : path + '?' + query;
}

bool SameFile(const TEpisodeFile& a, const TEpisodeFile& b, TFileMoves moves) {
  if (SameAnnouncedLength(a.length, b.length) && EnclosureFileIdentity(a.url) == EnclosureFileIdentity(b.url))
    return true;
  // Many hosts give every episode's file one name in a folder of its own,
  // and bulletins one length: only the episode tells a move from the next.
  const std::string name = FileNameOf(a.url);
  if (moves == TFileMoves::none || name.empty() || name != FileNameOf(b.url)) return false;
  return moves == TFileMoves::sameName || (a.length > 0 && a.length == b.length);
}

std::string FileNameOf(const std::string& url) {
  const std::string path = PathOf(url.substr(0, url.find('#')));
  return PathNamesFile(path) ? path.substr(path.rfind('/') + 1) : std::string();
}

std::string ComparableAddress(const std::string& url) {
  const std::string lower = LowerAscii(url);
  if (lower.rfind("https://", 0) == 0) return lower.substr(8);
  if (lower.rfind("http://", 0) == 0) return lower.substr(7);
  return lower;
}

}  // namespace tidewell
