// SPDX-License-Identifier: MIT
#include "firebird_schedule_store.h"

#include <firebird/Interface.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "engine/db/tidewell_schema_texts.h"
#include "toolkit/exception.h"

namespace testing_support {

using Firebird::FbException;
using Firebird::ThrowStatusWrapper;
using tidewell::TDateTime;

namespace {

constexpr unsigned kDialect = 3;
// 1899-12-30, day 0 of a date-time, counted from Firebird's day 0.
constexpr int kDateTimeEpoch = 15018;
constexpr double kTimeUnitsPerDay = 864000000.0;

Firebird::IMaster* Master() { return Firebird::fb_get_master_interface(); }

// Runs a Firebird call, turning its failure into the general exception.
template <typename Call>
auto Guarded(Call call) {
  ThrowStatusWrapper status(Master()->getStatus());
  struct Disposer {
    ThrowStatusWrapper& status;
    ~Disposer() { status.dispose(); }
  } disposer{status};
  try {
    return call(&status);
  } catch (const FbException& error) {
    char text[1024];
    Master()->getUtilInterface()->formatStatus(text, sizeof text, error.getStatus());
    throw kt::Exception(text);
  }
}

std::string JoinLines(const tidewell::TtidewellScheduleStore::SqlLines& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

ISC_TIMESTAMP ToTimestamp(TDateTime value) {
  ISC_TIMESTAMP stamp;
  const double day = std::floor(value);
  stamp.timestamp_date = static_cast<ISC_DATE>(day) + kDateTimeEpoch;
  stamp.timestamp_time = static_cast<ISC_TIME>(std::llround((value - day) * kTimeUnitsPerDay));
  return stamp;
}

TDateTime FromTimestamp(const ISC_TIMESTAMP& stamp) {
  return (stamp.timestamp_date - kDateTimeEpoch) + stamp.timestamp_time / kTimeUnitsPerDay;
}

// A message of nullable integer and timestamp fields, for parameters and rows.
class Message {
 public:
  enum Kind { kInteger, kTimestamp };

  Message(ThrowStatusWrapper* status, const std::vector<Kind>& kinds) {
    Firebird::IMetadataBuilder* builder = Master()->getMetadataBuilder(status, static_cast<unsigned>(kinds.size()));
    for (unsigned i = 0; i < kinds.size(); ++i) {
      // An odd type is the nullable one.
      builder->setType(status, i, (kinds[i] == kInteger ? SQL_LONG : SQL_TIMESTAMP) + 1);
      builder->setLength(status, i, kinds[i] == kInteger ? sizeof(ISC_LONG) : sizeof(ISC_TIMESTAMP));
    }
    metadata_ = builder->getMetadata(status);
    builder->release();
    buffer_.assign(metadata_->getMessageLength(status), 0);
    for (unsigned i = 0; i < kinds.size(); ++i) {
      offsets_.push_back(metadata_->getOffset(status, i));
      null_offsets_.push_back(metadata_->getNullOffset(status, i));
    }
  }
  ~Message() { metadata_->release(); }
  Message(const Message&) = delete;
  Message& operator=(const Message&) = delete;

  Firebird::IMessageMetadata* Metadata() const { return metadata_; }
  unsigned char* Data() { return buffer_.data(); }

  bool IsNull(unsigned i) const { return Get<ISC_SHORT>(null_offsets_[i]) != 0; }
  void SetNull(unsigned i) { Put<ISC_SHORT>(null_offsets_[i], -1); }
  int32_t Integer(unsigned i) const { return Get<ISC_LONG>(offsets_[i]); }
  void SetInteger(unsigned i, int32_t value) { Set(i, static_cast<ISC_LONG>(value)); }
  TDateTime Timestamp(unsigned i) const { return FromTimestamp(Get<ISC_TIMESTAMP>(offsets_[i])); }
  void SetTimestamp(unsigned i, TDateTime value) { Set(i, ToTimestamp(value)); }

 private:
  template <typename T>
  T Get(unsigned offset) const {
    T value;
    std::memcpy(&value, buffer_.data() + offset, sizeof value);
    return value;
  }
  template <typename T>
  void Put(unsigned offset, T value) {
    std::memcpy(buffer_.data() + offset, &value, sizeof value);
  }
  template <typename T>
  void Set(unsigned i, T value) {
    Put<ISC_SHORT>(null_offsets_[i], 0);
    Put<T>(offsets_[i], value);
  }

  Firebird::IMessageMetadata* metadata_ = nullptr;
  std::vector<unsigned char> buffer_;
  std::vector<unsigned> offsets_;
  std::vector<unsigned> null_offsets_;
};

const tidewell::TableDefinition& Table(const std::string& name) {
  for (const auto& table : tidewell::SchemaTables())
    if (name == table.name) return table;
  throw kt::Exception("no table " + name);
}

}  // namespace

FirebirdScheduleStore::FirebirdScheduleStore(const std::string& path) {
  attachment_ = Guarded([&](ThrowStatusWrapper* status) {
    Firebird::IXpbBuilder* dpb =
        Master()->getUtilInterface()->getXpbBuilder(status, Firebird::IXpbBuilder::DPB, nullptr, 0);
    dpb->insertString(status, isc_dpb_user_name, "SYSDBA");
    dpb->insertString(status, isc_dpb_lc_ctype, "UTF8");
    dpb->insertString(status, isc_dpb_set_db_charset, "UTF8");
    dpb->insertInt(status, isc_dpb_sql_dialect, kDialect);
    Firebird::IAttachment* attachment = Master()->getDispatcher()->createDatabase(
        status, path.c_str(), dpb->getBufferLength(status), dpb->getBuffer(status));
    dpb->dispose();
    return attachment;
  });
  ExecuteAlone(tidewell::CreateTableSql(Table("Feeds")));
  ExecuteAlone(tidewell::CreateTableSql(Table("Articles")));
}

FirebirdScheduleStore::~FirebirdScheduleStore() {
  try {
    Rollback();
    Guarded([&](ThrowStatusWrapper* status) {
      attachment_->dropDatabase(status);
      attachment_ = nullptr;
      return 0;
    });
  } catch (...) {
  }
  if (attachment_ != nullptr) attachment_->release();
}

void FirebirdScheduleStore::StartTransaction() {
  if (transaction_ != nullptr) throw kt::Exception("Transaction already active");
  transaction_ = Guarded([&](ThrowStatusWrapper* status) { return attachment_->startTransaction(status, 0, nullptr); });
}

void FirebirdScheduleStore::Commit() {
  Guarded([&](ThrowStatusWrapper* status) {
    Current()->commit(status);
    return 0;
  });
  transaction_ = nullptr;
}

void FirebirdScheduleStore::Rollback() {
  if (transaction_ == nullptr) return;
  Guarded([&](ThrowStatusWrapper* status) {
    transaction_->rollback(status);
    return 0;
  });
  transaction_ = nullptr;
}

Firebird::ITransaction* FirebirdScheduleStore::Current() {
  if (transaction_ == nullptr) throw kt::Exception("No active transaction");
  return transaction_;
}

std::optional<int32_t> FirebirdScheduleStore::SelectFirstInteger(const SqlLines& sql) {
  statements_.push_back(sql);
  return Guarded([&](ThrowStatusWrapper* status) -> std::optional<int32_t> {
    Message row(status, {Message::kInteger});
    Firebird::IResultSet* rows = attachment_->openCursor(status, Current(), 0, JoinLines(sql).c_str(), kDialect,
                                                         nullptr, nullptr, row.Metadata(), nullptr, 0);
    std::optional<int32_t> value;
    if (rows->fetchNext(status, row.Data()) == Firebird::IStatus::RESULT_OK) value = row.IsNull(0) ? 0 : row.Integer(0);
    rows->close(status);
    return value;
  });
}

std::vector<std::optional<TDateTime>> FirebirdScheduleStore::SelectDates(const SqlLines& sql) {
  statements_.push_back(sql);
  return Guarded([&](ThrowStatusWrapper* status) {
    Message row(status, {Message::kTimestamp});
    Firebird::IResultSet* rows = attachment_->openCursor(status, Current(), 0, JoinLines(sql).c_str(), kDialect,
                                                         nullptr, nullptr, row.Metadata(), nullptr, 0);
    std::vector<std::optional<TDateTime>> dates;
    while (rows->fetchNext(status, row.Data()) == Firebird::IStatus::RESULT_OK)
      dates.push_back(row.IsNull(0) ? std::nullopt : std::optional<TDateTime>(row.Timestamp(0)));
    rows->close(status);
    return dates;
  });
}

void FirebirdScheduleStore::UpdateSchedule(const SqlLines& sql, TDateTime next, TDateTime last,
                                           std::optional<int32_t> skip, int32_t feedId) {
  statements_.push_back(sql);
  Guarded([&](ThrowStatusWrapper* status) {
    Message params(status, {Message::kTimestamp, Message::kTimestamp, Message::kInteger, Message::kInteger});
    params.SetTimestamp(0, next);
    params.SetTimestamp(1, last);
    if (skip)
      params.SetInteger(2, *skip);
    else
      params.SetNull(2);
    params.SetInteger(3, feedId);
    attachment_->execute(status, Current(), 0, JoinLines(sql).c_str(), kDialect, params.Metadata(), params.Data(),
                         nullptr, nullptr);
    return 0;
  });
}

void FirebirdScheduleStore::ExecuteAlone(const std::string& sql) {
  StartTransaction();
  try {
    Guarded([&](ThrowStatusWrapper* status) {
      attachment_->execute(status, transaction_, 0, sql.c_str(), kDialect, nullptr, nullptr, nullptr, nullptr);
      return 0;
    });
    Commit();
  } catch (...) {
    Rollback();
    throw;
  }
}

void FirebirdScheduleStore::AddFeed(int32_t feedId, int32_t updateInterval, const std::string& type, int32_t skipFeed) {
  ExecuteAlone("insert into feeds (feed_id, update_interval, type_, skipfeed) values (" + std::to_string(feedId) +
               ", " + std::to_string(updateInterval) + ", '" + type + "', " + std::to_string(skipFeed) + ")");
}

void FirebirdScheduleStore::AddArticle(int32_t id, int32_t feedId, std::optional<TDateTime> modified) {
  StartTransaction();
  try {
    Guarded([&](ThrowStatusWrapper* status) {
      Message params(status, {Message::kInteger, Message::kInteger, Message::kTimestamp});
      params.SetInteger(0, id);
      params.SetInteger(1, feedId);
      if (modified)
        params.SetTimestamp(2, *modified);
      else
        params.SetNull(2);
      attachment_->execute(status, transaction_, 0, "insert into articles (id, feed_id, modified) values (?, ?, ?)",
                           kDialect, params.Metadata(), params.Data(), nullptr, nullptr);
      return 0;
    });
    Commit();
  } catch (...) {
    Rollback();
    throw;
  }
}

FirebirdScheduleStore::Schedule FirebirdScheduleStore::ReadSchedule(int32_t feedId) {
  StartTransaction();
  Schedule schedule;
  try {
    Guarded([&](ThrowStatusWrapper* status) {
      Message row(status, {Message::kTimestamp, Message::kTimestamp, Message::kInteger});
      const std::string sql =
          "select next_feedupdate, last_feedupdate, skipfeed from feeds where feed_id=" + std::to_string(feedId);
      Firebird::IResultSet* rows = attachment_->openCursor(status, transaction_, 0, sql.c_str(), kDialect, nullptr,
                                                           nullptr, row.Metadata(), nullptr, 0);
      if (rows->fetchNext(status, row.Data()) != Firebird::IStatus::RESULT_OK) throw kt::Exception("no feed");
      schedule = {row.Timestamp(0), row.Timestamp(1), row.Integer(2)};
      rows->close(status);
      return 0;
    });
    Commit();
  } catch (...) {
    Rollback();
    throw;
  }
  return schedule;
}

}  // namespace testing_support
