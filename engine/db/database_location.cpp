// SPDX-License-Identifier: MIT
#include "engine/db/database_location.h"

#include <fcntl.h>
#include <ibase.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <string_view>
#include <system_error>
#include <vector>

#include "engine/db/database.h"
#include "engine/db/firebird_client.h"
#include "engine/db/firebird_error.h"
#include "engine/db/statement.h"
#include "engine/db/tidewell_schema_texts.h"
#include "engine/db/transaction.h"

namespace tidewell::db {
namespace {

constexpr const char* kProtocols[] = {"inet://", "inet4://", "inet6://", "xnet://", "wnet://"};

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size()) return false;
  return std::equal(prefix.begin(), prefix.end(), text.begin(),
                    [](char wanted, char given) { return std::tolower(static_cast<unsigned char>(given)) == wanted; });
}

// The length of the server part; 0 for a local name.
size_t ServerPartLength(const std::string& name) {
  if (name.empty()) return 0;
  for (const char* protocol : kProtocols) {
    const std::string prefix(protocol);
    if (!StartsWithNoCase(name, prefix)) continue;
    const auto slash = name.find('/', prefix.size());
    return slash == std::string::npos ? 0 : slash + 1;
  }
  // An IPv6 address is bracketed: its colons are not the separator.
  const auto bracket = name[0] == '[' ? name.find(']') : 0;
  if (bracket == std::string::npos) return 0;
  const auto colon = name.find(':', bracket);
  if (colon == std::string::npos || colon == 0) return 0;
  const std::string head = name.substr(0, colon);
  if (head.find('\\') != std::string::npos) return 0;
  // A lone letter before ":/" or ":\" is a drive, not a host.
  if (head.size() == 1 && colon + 1 < name.size() && (name[colon + 1] == '/' || name[colon + 1] == '\\')) return 0;
  const auto slash = head.find('/');
  if (slash == std::string::npos) return colon + 1;
  const bool hostAndPort = slash > 0 && slash + 1 < head.size() && head.find('/', slash + 1) == std::string::npos;
  return hostAndPort ? colon + 1 : 0;
}

void Apply(Database& database, const std::string& name, const std::string& user, const std::string& password) {
  database.SetDBFileName(name);
  database.SetUser(user.empty() ? "SYSDBA" : user);
  database.SetPassword(password);
  database.SetSQLDialect(3);
  database.SetCharSet("UTF8");
}

// The first column of the first row of sql, in a transaction of its own.
int64_t Count(Database& database, const std::string& sql) {
  Transaction transaction(&database);
  transaction.StartTransaction();
  Statement statement;
  statement.SetTransaction(&transaction);
  statement.SQL.Add(sql);
  statement.ExecQuery();
  const int64_t count = statement.Eof() || statement.Fields(0).IsNull() ? 0 : statement.Fields(0).AsInt64();
  statement.Close();
  transaction.Commit();
  return count;
}

// The names of the user tables and views.
std::vector<std::string> UserRelations(Database& database) {
  Transaction transaction(&database);
  transaction.StartTransaction();
  Statement statement;
  statement.SetTransaction(&transaction);
  statement.SQL.Add("select trim(rdb$relation_name) from rdb$relations where rdb$system_flag=0");
  statement.ExecQuery();
  std::vector<std::string> relations;
  for (; !statement.Eof(); statement.Next()) relations.push_back(statement.Fields(0).AsString());
  statement.Close();
  transaction.Commit();
  return relations;
}

bool SameNameNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
         });
}

bool IsSchemaTable(const std::string& name) {
  const auto& tables = SchemaTables();
  return std::any_of(tables.begin(), tables.end(),
                     [&](const TableDefinition& table) { return SameNameNoCase(name, table.name); });
}

// Made by someone else for this program: its owner is another user, or it
// holds roles, privileges of other users or relations that are not ours.
bool HoldsAnythingButOurTables(Database& database, const std::vector<std::string>& relations) {
  if (!std::all_of(relations.begin(), relations.end(), IsSchemaTable)) return true;
  return Count(database, "select count(*) from mon$database where mon$owner<>current_user") > 0 ||
         Count(database, "select count(*) from rdb$roles where coalesce(rdb$system_flag,0)=0") > 0 ||
         Count(database,
               "select count(*) from rdb$user_privileges where rdb$grantor is not null and rdb$user<>current_user") > 0;
}

// A database this program was making when its first start was cut short:
// some of its tables but not all, none holding a row, and nothing else. Any
// other database is kept, and the schema is made inside it: one that an
// administrator made for the program (with its page size, roles and grants,
// and no tables) must stay as made.
bool WasCutShortWhileMade(Database& database) {
  const std::vector<std::string> relations = UserRelations(database);
  if (relations.empty() || relations.size() >= SchemaTables().size()) return false;
  if (HoldsAnythingButOurTables(database, relations)) return false;
  for (const std::string& table : relations)
    if (Count(database, "select count(*) from (select first 1 1 as one from \"" + table + "\")") > 0) return false;
  return true;
}

// An attachment that switches the database's forced writes on and ends.
void SwitchForcedWritesOn(const Database& database) {
  Firebird::IXpbBuilder* block = fb::Invoke([](Firebird::ThrowStatusWrapper* status) {
    return fb::Util()->getXpbBuilder(status, Firebird::IXpbBuilder::DPB, nullptr, 0);
  });
  struct Disposer {
    Firebird::IXpbBuilder* block;
    ~Disposer() { block->dispose(); }
  } disposer{block};
  fb::Ref<Firebird::IAttachment> attachment(fb::Invoke([&](Firebird::ThrowStatusWrapper* status) {
    block->insertString(status, isc_dpb_user_name, database.User().c_str());
    if (!database.Password().empty()) block->insertString(status, isc_dpb_password, database.Password().c_str());
    block->insertInt(status, isc_dpb_force_write, 1);
    return fb::Provider()->attachDatabase(status, database.DBFileName().c_str(), block->getBufferLength(status),
                                          block->getBuffer(status));
  }));
  fb::Invoke([&](Firebird::ThrowStatusWrapper* status) { attachment->detach(status); });
  attachment.Forget();
}

void FlushToDisk(const std::string& file) {
  const int handle = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  const bool flushed = handle >= 0 && ::fsync(handle) == 0;
  if (handle >= 0) ::close(handle);
  if (!flushed) throw kt::Exception("Cannot write \"" + file + "\" to disk");
}

// Made under a name of its own, with its schema, and moved into place only
// when complete: a start killed on the way leaves no database by the name,
// and the next one makes it again. Nothing relies on the partial file until
// then, so it is made without forced writes (with them, its synchronous page
// writes took two to four times as long as the rest of the making); they are
// switched on and the file is on the disk before it takes its name.
void CreateLocalFile(Database& database, const std::string& name, int32_t pageSize, const SchemaMaker& makeSchema) {
  const std::string partial = name + ".partial";
  std::error_code ignored;
  std::filesystem::remove(partial, ignored);
  database.SetDBFileName(partial);
  database.SetForcedWrites(false);
  database.CreateDatabase(pageSize);
  database.Disconnect();
  database.SetForcedWrites(true);
  if (makeSchema) makeSchema(partial);
  SwitchForcedWritesOn(database);
  FlushToDisk(partial);
  std::error_code error;
  std::filesystem::rename(partial, name, error);
  if (error) throw kt::Exception("Cannot move \"" + partial + "\" to \"" + name + "\": " + error.message());
  database.SetDBFileName(name);
}

void Create(Database& database, const std::string& name, int32_t pageSize, const SchemaMaker& makeSchema) {
  if (IsServerPath(name)) {
    database.CreateDatabase(pageSize);
    database.Disconnect();
  } else {
    CreateLocalFile(database, name, pageSize, makeSchema);
  }
}

// Attaches when the database exists; false when there is none.
bool AttachIfExists(Database& database, const std::string& name) {
  if (!IsServerPath(name) && !std::filesystem::exists(name)) return false;
  try {
    database.Connect();
    return true;
  } catch (const EFirebirdError& error) {
    // The server says "I/O error ... open" for a file it does not have; any
    // other refusal (login, network) is the caller's to see.
    if (IsServerPath(name) && error.GdsCode() == isc_io_error) return false;
    throw;
  }
}

}  // namespace

bool IsServerPath(const std::string& name) { return ServerPartLength(name) > 0; }

void SplitServerPart(const std::string& name, std::string& server, std::string& path) {
  const size_t length = ServerPartLength(name);
  server = name.substr(0, length);
  path = name.substr(length);
}

bool EnsureDatabase(const std::string& name, const std::string& user, const std::string& password,
                    int32_t pageSize, const SchemaMaker& makeSchema) {
  Database database;
  Apply(database, name, user, password);
  if (AttachIfExists(database, name)) {
    if (!WasCutShortWhileMade(database)) {
      database.Disconnect();
      return false;
    }
    database.DropDatabase();
    Create(database, name, pageSize, makeSchema);
    return false;
  }
  Create(database, name, pageSize, makeSchema);
  return true;
}

}  // namespace tidewell::db
