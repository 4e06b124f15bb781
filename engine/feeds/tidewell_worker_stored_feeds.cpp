// SPDX-License-Identifier: MIT
// The feed worker's handling of a stored feed row whose address does not
// lead to a feed document: a page that announces feeds, an OPML list, or a
// feed that moved for good; and an address that holds credentials.
#include <pugixml.hpp>

#include <optional>
#include <string>

#include "engine/addresses/feed_address.h"
#include "engine/addresses/feed_credentials_columns.h"
#include "engine/addresses/feed_link_length.h"
#include "engine/feeds/tidewell_feed_document.h"
#include "engine/feeds/tidewell_worker_text.h"
#include "engine/feeds/tidewell_worker_thread_pr_atom_rss_feeds.h"
#include "engine/model/feed_yields.h"
#include "engine/settings/value_scrambling.h"
#include "engine/tidewell.h"
#include "engine/tidewell_date.h"
#include "engine/tidewell_msg.h"
#include "engine/tidewell_utilities.h"
#include "engine/addresses/url_parts.h"
#include "toolkit/stream.h"

namespace tidewell {
namespace {

constexpr size_t kSniffLength = 4096;

std::string BodyText(TtidewellTrdJobPropClass& result) {
  kt::TStream& body = *result.Stream();
  std::string text(static_cast<size_t>(body.Size()), '\0');
  body.SetPosition(0);
  if (!text.empty()) body.ReadBuffer(text.data(), static_cast<int64_t>(text.size()));
  body.SetPosition(0);
  return text;
}

// Told in any encoding the body's byte-order mark, its declaration or the
// answer's charset names; a list that is not well-formed is one too, so
// that its job reports why it is refused.
bool IsOpmlDocument(const std::string& text, const std::string& contentType) {
  const std::string decoded = DecodeFeedBody(text, AnswerCharset(contentType));
  if (LowerCaseAscii(decoded.substr(0, kSniffLength)).find("<opml") == std::string::npos) return false;
  pugi::xml_document document;
  document.load_buffer(decoded.data(), decoded.size());
  return UpperCaseAscii(document.document_element().name()) == "OPML";
}

}  // namespace

bool TtidewellWorkerThreadPrAtomRssFeeds::IsDiscoveryPage(const TtidewellTrdJobPropClass& result,
                                                          const std::string& text) const {
  if (LowerCaseAscii(result.contentType).find("text/html") == std::string::npos) return false;
  const std::string upperUrl = UpperCaseAscii(url_);
  const bool namedAsFeed = upperUrl.find(".XML") != std::string::npos || upperUrl.find(".ATOM") != std::string::npos;
  return !namedAsFeed && !LooksLikeFeed(DecodeFeedBody(text, AnswerCharset(result.contentType)));
}

bool TtidewellWorkerThreadPrAtomRssFeeds::ProcessStoredDocument(TtidewellTrdJobPropClass& result,
                                                               const TFeedProperty& feedRecord) {
  if (result.httpCode != 200 || result.error || result.Stream() == nullptr) return false;
  // Only a subscription that never brought a feed document is redirected: a
  // feed whose server answers with a page for once keeps its address.
  if (!feedRecord.FeedMD5.empty()) return false;
  const std::string text = BodyText(result);
  if (IsOpmlDocument(text, result.contentType)) {
    // Processed as a list that is new, in the row it was given.
    ProcessOPML(result, nullptr, nullptr);
    return true;
  }
  if (!IsDiscoveryPage(result, text)) return false;
  AdoptDiscoveredFeed(result.finalUrl.empty() ? url_ : result.finalUrl, text);
  return true;
}

void TtidewellWorkerThreadPrAtomRssFeeds::AdoptDiscoveredFeed(const std::string& pageUrl, const std::string& page) {
  try {
    kt::TMemoryStream copy;
    if (!page.empty()) copy.WriteBuffer(page.data(), static_cast<int64_t>(page.size()));
    copy.SetPosition(0);
    DiscoverFeeds(pageUrl, copy, discoveredUrls_, discoveredTitles_);
    if (discoveredUrls_.empty()) RaiseMessage(kNoRssUrlsFound, pageUrl);
    // The subscription follows the page's first feed from its next update on,
    // which is due at once; credentials go along only to their own place.
    const bool withCredentials = !userName_.empty() || !password_.empty();
    const TAddressMove move =
        DecideAddressMove(TAddressChange::kAdoptedAddress, url_, discoveredUrls_[0], withCredentials);
    StoreFeedAddress(itemId_, discoveredUrls_[0], true, move == TAddressMove::kMoveWithoutCredentials);
    SyncFeedAutoDiscovery();
  } catch (...) {
    discoveredUrls_.clear();
    discoveredTitles_.clear();
    throw;
  }
  discoveredUrls_.clear();
  discoveredTitles_.clear();
}

void TtidewellWorkerThreadPrAtomRssFeeds::StoreMovedAddress(const TtidewellTrdJobPropClass& result) {
  if (!moved_ || result.url.empty() || result.error || errorCategory_ != TErrorCategory::noErrors) return;
  if (result.httpCode != 200 && result.httpCode != 304) return;
  if (itemId_ < 1 || GetJobType() != TQueueJobTypes::CfeedOperation) return;
  // Kept at its address, which still leads there, rather than cut short.
  if (!FitsFeedLinkColumn(result.url)) {
    feedNotice_ = FormatText(kMovedTooFar, FeedLinkLength(result.url), FeedLinkLimit());
    return;
  }
  StoreFeedAddress(itemId_, result.url, false, false);
}

// One address, one feed: a feed does not move to an address that another
// feed has, nor to one that a list files at this moment (it is waited for).
void TtidewellWorkerThreadPrAtomRssFeeds::StoreFeedAddress(int32_t feedId, const std::string& address, bool dueNow,
                                                          bool leaveCredentials) {
  CheckFeedLinkLength(address);
  std::optional<TFeedAddressClaim> claim;
  if (owner_ != nullptr) {
    claim.emplace(owner_->AddressClaims(), FeedAddressKey(address), &transaction_,
                  [this] { return GetStopRequested(); });
    if (AddressNamesAnotherFeed(feedId, address)) return;
  }
  ExecuteAndCommit([&] {
    query_.SQL.Add("update feeds");
    query_.SQL.Add(dueNow ? "set link=substring(? from 1 for 1000),next_feedupdate=?"
                          : "set link=substring(? from 1 for 1000)");
    if (leaveCredentials) query_.SQL.Add(",username_='',password_=''");
    query_.SQL.Add("where feed_id=?");
    int index = 0;
    query_.Params(index++).SetString(address);
    if (dueNow) query_.Params(index++).SetDateTime(LocalTimeToUTC(Now()));
    query_.Params(index).SetInteger(feedId);
  });
}

void TtidewellWorkerThreadPrAtomRssFeeds::NoteReachedAddress(const TtidewellTrdJobPropClass& result) {
  if (moved_ || permanentTarget_.empty() || result.error || errorCategory_ != TErrorCategory::noErrors) return;
  if (result.httpCode != 200 && result.httpCode != 304) return;
  if (itemId_ < 1 || GetJobType() != TQueueJobTypes::CfeedOperation) return;
  try {
    StartOwnTransaction();
    ResetQuery();
    RecordReach(&query_, itemId_, permanentTarget_);
    ResetQuery();
    transaction_.Commit();
  } catch (...) {
    // The pass stands; the next one notes it.
    ResetQuery();
    RollbackQuietly();
  }
}

bool TtidewellWorkerThreadPrAtomRssFeeds::AddressNamesAnotherFeed(int32_t feedId, const std::string& address) {
  return OtherFeedAt(feedId, address) >= 1;
}

// A look-up only: its transaction ends here whatever it finds, since what
// follows (a list's merge, the feed's document) starts its own.
int32_t TtidewellWorkerThreadPrAtomRssFeeds::OtherFeedAt(int32_t feedId, const std::string& address) {
  int32_t named = -1;
  try {
    StartOwnTransaction();
    named = owner_->FindFeedIdByUrl(address, &transaction_);
    if (named < 1 || named == feedId) {
      ResetQuery();
      named = FeedReaching(&query_, feedId, address);
      ResetQuery();
    }
  } catch (...) {
    RollbackQuietly();
    throw;
  }
  RollbackQuietly();
  return named < 1 || named == feedId ? -1 : named;
}

// A feed whose address moved for good to another stored feed's is that
// feed: its document is not stored a second time (every episode would come
// twice), the row leaves timed updates as a feed never updated does, and
// the feed there takes its credentials when it holds none and the move
// stays at their place. Its articles and its place in lists stay, and it is
// fetched again once that feed is deleted or yields in turn.
bool TtidewellWorkerThreadPrAtomRssFeeds::YieldToFeedAtMovedAddress(const TtidewellTrdJobPropClass& result) {
  if (permanentTarget_.empty() || owner_ == nullptr || itemId_ < 1) return false;
  if (GetJobType() != TQueueJobTypes::CfeedOperation || result.error) return false;
  if (result.httpCode != 200 && result.httpCode != 304) return false;
  // No stored feed has an address longer than the column.
  if (!FitsFeedLinkColumn(permanentTarget_)) return false;
  const int32_t other = OtherFeedAt(itemId_, permanentTarget_);
  if (other < 1) return false;
  const bool withCredentials = (!userName_.empty() || !password_.empty()) && SamePlace(url_, permanentTarget_);
  ExecuteAndCommit([&] {
    if (withCredentials) StoreFeedCredentialsIfNone(query_, other, url_, userName_, password_);
    RecordYield(&query_, itemId_, other);
    ResetQuery();
    query_.SQL.Add("update feeds set skipfeed=1 where feed_id=?");
    query_.Params(0).SetInteger(itemId_);
  });
  feedNotice_ = FormatText(kMovedToStoredFeed, other);
  SyncFeedProcessed();
  return true;
}

void TtidewellWorkerThreadPrAtomRssFeeds::TakeAddressCredentials() {
  // Shown without the password it holds, and never requested.
  if (UserInfoNeedsEscaping(url_)) {
    url_ = UrlWithoutCredentials(url_);
    addressRefusal_ = kUserInfoNotEscaped;
    return;
  }
  std::string userName, password;
  if (!ExtractUrlCredentials(url_, userName, password)) return;
  if (userName_.empty() && password_.empty()) {
    userName_ = userName;
    password_ = password;
  }
  if (itemId_ < 1 || feedRecord_ == nullptr) return;
  try {
    ExecuteAndCommit([&] {
      query_.SQL.Add("update feeds");
      query_.SQL.Add("set link=substring(? from 1 for 1000),username_=?,password_=?");
      query_.SQL.Add("where feed_id=?");
      query_.Params(0).SetString(url_);
      query_.Params(1).SetString(userName_);
      query_.Params(2).SetString(ScrambleText(password_));
      query_.Params(3).SetInteger(itemId_);
    });
    feedRecord_->Link = url_;
  } catch (...) {
    // The job still runs with the credentials; the row is mended at a later pass.
  }
}

}  // namespace tidewell
