// SPDX-License-Identifier: MIT
// The pages a database has written since it was opened, from Firebird's
// monitoring tables: with forced writes on, each is one synchronous write
// (the file is opened with O_DSYNC), which is what a busy disk charges for.
// Read before and after the work to be measured; the reading itself costs a
// page write or two (its transaction), negligible over a pass.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/db/tidewell_compability.h"

namespace bench_support {

class PageWriteMeter {
 public:
  // An attachment of its own to the database, so that the engine's handles
  // are left alone.
  PageWriteMeter(const std::string& fileName, const std::string& user, const std::string& password) {
    connection_.SetDBFileName(fileName);
    connection_.SetUser(user);
    connection_.SetPassword(password);
    connection_.Connect();
    transaction_.SetDatabase(&connection_);
    query_.SetTransaction(&transaction_);
  }

  int64_t PageWrites() { return Read("select mon$page_writes from mon$io_stats where mon$stat_group=0"); }
  // The number the next transaction will get: every transaction started
  // (read-only ones too) takes one.
  int64_t NextTransaction() { return Read("select mon$next_transaction from mon$database"); }
  // The ids of the subscribed feeds, as an application reads them at start.
  std::vector<int32_t> FeedIds() {
    transaction_.StartTransaction(true);
    query_.Close();
    query_.SQL.Clear();
    query_.SQL.Add("select feed_id from feeds order by feed_id");
    tidewell::ExecQueryTimed(&query_, true);
    std::vector<int32_t> ids;
    for (; !query_.Eof(); query_.Next()) ids.push_back(query_.Fields(0).AsInteger());
    query_.Close();
    transaction_.Commit();
    return ids;
  }

 private:
  int64_t Read(const char* sql) {
    transaction_.StartTransaction(true);
    query_.Close();
    query_.SQL.Clear();
    query_.SQL.Add(sql);
    tidewell::ExecQueryTimed(&query_, true);
    const int64_t value = query_.Eof() ? 0 : query_.Fields(0).AsInt64();
    query_.Close();
    transaction_.Commit();
    return value;
  }


  tidewell::TDbConnWrapper connection_;
  tidewell::TTranWrapper transaction_;
  tidewell::TQueryWrapper query_;
};

}  // namespace bench_support
