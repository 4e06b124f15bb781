// SPDX-License-Identifier: MIT
#include "engine/model/feed_property.h"

#include <cmath>

#include "engine/db/update_conflict.h"
#include "engine/model/articles.h"
#include "engine/model/base_class.h"
#include "engine/model/custom_tag_base.h"
#include "engine/model/model_support.h"
#include "engine/settings/value_scrambling.h"
#include "engine/tidewell_msg.h"

namespace tidewell {
namespace {

constexpr int32_t kSkipInterval = -2;
constexpr int32_t kMaxInterval = 20000;
constexpr double kMinutesPerDay = 1440.0;
// A stored last update this many whole minutes away from now becomes the
// base of the next update.
constexpr int32_t kBaseShiftMinutes = 11;

TBaseClass* FeedRowOwner(TBaseClass* owner) {
  if (owner == nullptr || !owner->AcceptsFeedRows()) RaiseMessage(kParentClassInvalid);
  return owner;
}

}  // namespace

TFeedProperty::TFeedProperty(TBaseClass* owner, int32_t feedId) : TBaseProperty(FeedRowOwner(owner)), FeedId(feedId) {
  Articles = std::make_unique<TArticles>(this, feedId);
  FeedCustomTags = std::make_unique<TFeedCustomTags>(this, feedId);
}

TFeedProperty::~TFeedProperty() = default;

std::string TFeedProperty::GetPassword() const { return UnscrambleText(Password); }

void TFeedProperty::SetUpdateInterval(int32_t minutes) {
  if (minutes == UpdateInterval) return;
  if (Owner == nullptr || FeedId < 1) RaiseMessage(kParentClassInvalid);
  if (minutes != kSkipInterval && (minutes < 0 || minutes > kMaxInterval)) RaiseMessage(kInvalidUpdateInterval);
  if (Owner->Query->Open()) RaiseMessage(kQueryOpen);
  StoreUpdateInterval(minutes);
  UpdateInterval = minutes;
  if (OnChange) OnChange(this, Tag, kUpdateIntervalChanged);
}

TDateTime TFeedProperty::UpdateBase() {
  TQueryWrapper* query = Owner->Query;
  TDateTime base = model::UtcNow();
  model::SetSqlLines(query, {"select last_feedupdate from feeds  where  feed_id=?"});
  query->Params(0).SetInteger(FeedId);
  ExecQueryTimed(query, true);
  if (!query->Eof() && !query->Fields(0).IsNull()) {
    const TDateTime stored = query->Fields(0).AsDateTime();
    if (std::trunc(std::fabs(stored - base) * kMinutesPerDay) >= kBaseShiftMinutes) base = stored;
  }
  SafeCloseQuery(query);
  return base;
}

void TFeedProperty::StoreUpdateInterval(int32_t minutes) {
  // A worker storing the feed holds its row now and then: in a transaction
  // of its own the write is done again after an update conflict; the
  // caller's transaction is the caller's to repeat.
  if (Owner->Transaction->InTransaction()) return StoreUpdateIntervalOnce(minutes);
  RetryOnUpdateConflict([&] { StoreUpdateIntervalOnce(minutes); });
}

void TFeedProperty::StoreUpdateIntervalOnce(int32_t minutes) {
  TTranWrapper* transaction = Owner->Transaction;
  TQueryWrapper* query = Owner->Query;
  const bool started = !transaction->InTransaction();
  if (started) transaction->StartTransaction();
  try {
    const TDateTime next = UpdateBase() + minutes / kMinutesPerDay;
    model::SetSqlLines(query, {"update feeds set update_interval=?,next_feedupdate=?,skipFeed=? where feed_id=?"});
    query->Params(0).SetInteger(minutes < 1 ? 0 : minutes);
    query->Params(1).SetDateTime(next);
    query->Params(2).SetInteger(minutes == kSkipInterval ? 1 : 0);
    query->Params(3).SetInteger(FeedId);
    ExecQueryTimed(query, false);
    query->SQL.Clear();
    if (started) transaction->Commit();
  } catch (...) {
    SafeCloseQuery(query);
    try {
      if (transaction->InTransaction()) transaction->Rollback();
    } catch (...) {
      // A failing rollback still ends the transaction; the first failure counts.
    }
    throw;
  }
}

}  // namespace tidewell
