// SPDX-License-Identifier: MIT
// The engine's operations for applications: the database file and its
// tables, subscriptions, filters and the reset of unfinished downloads.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>
#include <vector>

#include <pugixml.hpp>

#include "engine/db/database_location.h"
#include "engine/db/tidewell_schema_texts.h"
#include "engine/db/tidewell_db_helper_instance.h"
#include "engine/db/tidewell_tables.h"
#include "engine/db/update_conflict.h"
#include "engine/addresses/feed_address.h"
#include "engine/addresses/feed_credentials_columns.h"
#include "engine/addresses/feed_link_length.h"
#include "engine/feeds/tidewell_list_feed_rows.h"
#include "engine/tidewell.h"
#include "engine/tidewell_date.h"
#include "engine/tidewell_msg.h"
#include "engine/tidewell_utilities.h"
#include "engine/addresses/url_parts.h"
#include "platform/file_ops.h"
#include "toolkit/exception.h"
#include "toolkit/wide_string.h"

namespace tidewell {
namespace {

constexpr int32_t kCreatedPageSize = 16392;
constexpr const char* kDefaultDatabaseName = "rssengine.fdb";
constexpr size_t kShortestOwnName = 3;
const char kFeedBeingUpdated[] = "Feed (%d) is being updated now: try again once that update has ended";

std::string TrimAscii(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

std::string LowerAscii(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// Both separators are accepted, since application settings may come from
// either kind of system. A server's name stays in front of the folder.
void SplitDatabasePath(const std::string& path, std::string& folder, std::string& name) {
  std::string server, local;
  db::SplitServerPart(path, server, local);
  const auto separator = local.find_last_of("/\\");
  folder = separator == std::string::npos ? std::string() : local.substr(0, separator);
  name = TrimAscii(separator == std::string::npos ? local : local.substr(separator + 1));
  folder = server + folder + (server.empty() || separator != std::string::npos ? "/" : "");
}

std::string DatabaseFileName(const std::string& name) {
  if (name.size() < kShortestOwnName) return kDefaultDatabaseName;
  std::string result = LowerAscii(name);
  const auto dot = result.find_last_of('.');
  if (dot != std::string::npos) result.erase(dot);
  return result + ".fdb";
}

void ForceFolder(const std::string& folder) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (!std::filesystem::is_directory(folder, error)) RaiseMessage(kCantCreateDirectory, folder);
}

std::string CurrentMessage() {
  try {
    throw;
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown error";
  }
}

constexpr int32_t kEnclosureDownloading = 1;
constexpr int32_t kEnclosureDownloaded = 2;

// A download row names its final file just before the file is moved there,
// and the move renames a complete file in one step: such a file that
// exists is the whole download, left by a run that ended before it could
// record the download's end.
bool IsFinishedDownload(const std::string& fileLocation);

// The row of a finished download that a crash left at "downloading".
void MarkDownloaded(TQueryWrapper& query, int32_t enclosureId, TDateTime nowUtc) {
  TQueryWrapper mark;
  mark.SetTransaction(query.GetTransaction());
  mark.SQL.Add("update enclosures");
  mark.SQL.Add("set download_status=?,downloadEnd=?,lasthttpcode=200");
  mark.SQL.Add("where enclosure_id=?");
  mark.Params(0).SetInteger(kEnclosureDownloaded);
  mark.Params(1).SetDateTime(nowUtc);
  mark.Params(2).SetInteger(enclosureId);
  ExecQueryTimed(&mark, false);
  mark.Close();
}

bool HasTmpExtension(const std::string& fileName) {
  const auto separator = fileName.find_last_of("/\\");
  const auto dot = fileName.find_last_of('.');
  if (dot == std::string::npos || (separator != std::string::npos && dot < separator)) return false;
  std::string extension = fileName.substr(dot);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return extension == ".TMP";
}

bool IsFinishedDownload(const std::string& fileLocation) {
  if (fileLocation.empty() || HasTmpExtension(fileLocation)) return false;
  struct stat info {};
  return ::stat(fileLocation.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0;
}

// Another episode's row naming the file makes it that episode's, whatever
// this row says (two rows that an earlier version gave one name).
bool IsNamedByAnotherRow(TQueryWrapper& query, int32_t enclosureId, const std::string& fileLocation) {
  TQueryWrapper look;
  look.SetTransaction(query.GetTransaction());
  look.SQL.Add("select first 1 enclosure_id from enclosures where filelocation=? and enclosure_id<>?");
  look.Params(0).SetString(fileLocation);
  look.Params(1).SetInteger(enclosureId);
  ExecQueryTimed(&look, true);
  const bool named = !look.Eof();
  look.Close();
  return named;
}

// The finished file that a row left under way names, and no other row does.
bool IsOwnFinishedDownload(TQueryWrapper& query, int32_t enclosureId, const std::string& fileLocation) {
  return IsFinishedDownload(fileLocation) && !IsNamedByAnotherRow(query, enclosureId, fileLocation);
}

std::string JoinIds(const TDynIntArray& ids) {
  std::string text;
  for (size_t i = 0; i < ids.size(); ++i) text += (i == 0 ? "" : ",") + std::to_string(ids[i]);
  return text;
}

// An "&" that no ";" closes before the next "&" is no reference: the XML
// parser refuses such a text.
bool HasOpenReference(const std::string& text) {
  for (size_t at = text.find('&'); at != std::string::npos; at = text.find('&', at + 1)) {
    const auto close = text.find(';', at + 1);
    const auto next = text.find('&', at + 1);
    if (close == std::string::npos || (next != std::string::npos && next < close)) return true;
  }
  return false;
}

}  // namespace

// A worker storing the same rows at that moment makes the database refuse
// the later writer; the work is then done again in a new transaction.
void Ttidewell::InEngineTransaction(const std::function<void(TQueryWrapper& query)>& work) {
  RetryOnUpdateConflict([&] { InOneEngineTransaction(work); });
}

void Ttidewell::InOneEngineTransaction(const std::function<void(TQueryWrapper& query)>& work) {
  TTranWrapper* transaction = NewTransaction(true);
  TQueryWrapper* query = NewQuery(true);
  try {
    transaction->SetDatabase(engineConnection_.get());
    query->SetTransaction(transaction);
    transaction->StartTransaction();
    work(*query);
    query->Close();
    transaction->Commit();
  } catch (...) {
    ReleaseQuery(query);
    ReleaseTransaction(transaction);
    throw;
  }
  ReleaseQuery(query);
  ReleaseTransaction(transaction);
}

// ---- The database file and its tables -----------------------------------------

bool Ttidewell::CreateDatabase(const std::string& path, const std::string& userName, const std::string& password,
                               std::string& fileName, std::string& errorText) {
  fileName.clear();
  errorText.clear();
  bool created = false;
  try {
    std::string folder, name;
    SplitDatabasePath(path, folder, name);
    const std::string fullName = folder + DatabaseFileName(name);
    // A server's folders are the server's own.
    if (!db::IsServerPath(fullName)) ForceFolder(folder);
    created = db::EnsureDatabase(fullName, userName, password, kCreatedPageSize,
                                 [&](const std::string& partialName) { MakeSchemaIn(partialName, userName, password); });
    SetDbFilePath(fullName);
    fileName = fullName;
  } catch (...) {
    errorText = CurrentMessage();
    fileName.clear();
  }
  return created;
}

// A new local database gets its whole schema before it takes its name.
void Ttidewell::MakeSchemaIn(const std::string& fileName, const std::string& userName, const std::string& password) {
  TDbConnWrapper connection;
  connection.SetDBFileName(fileName);
  connection.SetUser(userName.empty() ? "SYSDBA" : userName);
  connection.SetPassword(password);
  connection.SetCharSet("UTF8");
  connection.SetSQLDialect(3);
  connection.Connect();
  {
    TtidewellGenerateTables generator(&connection);
    generator.CreateMissingTables();
  }
  connection.Disconnect();
}

void Ttidewell::CreateTables(std::string& text) {
  text.clear();
  {
    TtidewellGenerateTables generator(mainConnection_.get());
    generator.CreateMissingTables();
  }
  ReadStoredState();
  ClearBuffer();
}

bool Ttidewell::ClearBuffer() {
  InEngineTransaction([](TQueryWrapper& query) {
    query.SQL.Add("delete from buffer");
    ExecQueryTimed(&query, false);
  });
  return true;
}

// ---- Subscriptions --------------------------------------------------------------

// The database narrows the rows down to those holding the address's
// look-up text, in any case; which of them name this feed is the address
// rule's to say.
int32_t Ttidewell::FeedIdOfAddress(TQueryWrapper& query, const std::string& link) {
  query.SQL.Clear();
  query.SQL.Add(std::string("select feed_id,link from Feeds where ") + kFeedAddressLookupCondition +
                " order by feed_id");
  query.Params(0).SetString(FeedAddressLookupText(link));
  ExecQueryTimed(&query, true);
  int32_t feedId = -1;
  for (; !query.Eof() && feedId == -1; query.Next())
    if (SameFeedAddress(query.Fields(1).AsString(), link)) feedId = query.Fields(0).AsInteger();
  query.Close();
  return feedId;
}

int32_t Ttidewell::AddFeed(const WideString& title, const std::string& url, const WideString& opmlDescription) {
  if (TrimAscii(url).empty()) return 0;
  // A user name and password in the address are the feed's credentials: they
  // are kept where passwords are kept, never in the link.
  const TFeedAddress address = FeedAddressForStorage(url);
  CheckFeedLinkLength(address.link);
  // One address, one feed: an address that a list is filing now is waited
  // for, and a feed stored with it already is the one added.
  const TFeedAddressClaim claim(addressClaims_, FeedAddressKey(address.link), engineTransaction_.get());
  int32_t feedId = 0;
  // Looked up and stored in one transaction: each commit costs a
  // synchronous write.
  InEngineTransaction([&](TQueryWrapper& query) {
    feedId = FeedIdOfAddress(query, address.link);
    // Credentials given now for a feed stored without them are its own.
    if (feedId >= 1 && address.withCredentials)
      StoreFeedCredentialsIfNone(query, feedId, address.link, address.userName, address.password);
    // The listener names it now: no list that drops it takes it out.
    if (feedId >= 1) KeepForListener(query, feedId);
    if (feedId >= 1) return;
    feedId = DbHelperInstance()->InsertFeed(&query, "NaN", "", address.link, title, 0, opmlDescription, 0);
    if (address.withCredentials)
      StoreFeedCredentials(query, feedId, address.link, address.userName, address.password);
  });
  return feedId;
}

// A list being merged holds its row for as long as that takes: writing it
// here would fail with a conflict after the retries. (An ordinary feed's job
// holds it for a moment, which the retries cover.)
void Ttidewell::UpdateFeed(int32_t feedId) {
  if (IsListJobRunning(feedId)) throw kt::Exception(FormatText(kFeedBeingUpdated, feedId));
  InEngineTransaction([&](TQueryWrapper& query) {
    query.SQL.Add("update feeds");
    query.SQL.Add("set next_feedupdate=?");
    query.SQL.Add("where feed_id=?");
    query.Params(0).SetDateTime(LocalTimeToUTC(Now()));
    query.Params(1).SetInteger(feedId);
    ExecQueryTimed(&query, false);
    if (query.RowsAffected() != 1) RaiseMessage(kFeedNotFound, feedId);
  });
  UpdateFeeds(TDynIntArray{feedId}, true);
}

bool Ttidewell::IsListJobRunning(int32_t feedId) {
  if (!PoolReady()) return false;
  for (const auto& worker : workers_)
    if (worker && worker->RunningFeedJobKind(feedId) == TQueueJobTypes::CgetOpmlData) return true;
  return false;
}

int32_t Ttidewell::FindFeedIdByUrl(const std::string& url, TTranWrapper* transaction) {
  std::string link = url;
  NormalizeUrl(link);
  int32_t feedId = -1;
  const auto find = [&](TQueryWrapper& query) { feedId = FeedIdOfAddress(query, link); };
  if (transaction == nullptr) {
    InEngineTransaction(find);
    return feedId;
  }
  TQueryWrapper* query = NewQuery(true);
  try {
    query->SetTransaction(transaction);
    find(*query);
  } catch (...) {
    ReleaseQuery(query);
    throw;
  }
  ReleaseQuery(query);
  return feedId;
}

// ---- Filters ----------------------------------------------------------------------

std::unique_ptr<TFilter> Ttidewell::NewFilter() {
  return std::make_unique<TFilter>(filterWorkShop_.get(), true, true);
}

TFilter* Ttidewell::CloneFilter(TFilter* source, TFilter* target, bool keepIds) {
  return filterWorkShop_->CloneFilter(source, target, keepIds);
}

void Ttidewell::GetArticlesByFilter(std::unique_ptr<TArticlesByFilter>& list, TFilter* filter,
                                    TFilterLoadRequest request, int32_t ownerId) {
  // A workshop of the load's own carries the owner id, so that loads for
  // other owners never change the engine's workshop under the main thread.
  TFilterWorkShop workShop(mainConnection_.get());
  workShop.UserId = ownerId > 0 ? ownerId : ownerId_;
  TFilter* clone = workShop.CloneFilter(filter, nullptr, true);
  try {
    list = std::make_unique<TArticlesByFilter>(mainConnection_.get());
    request.root = clone;
    TArticlesByFilter::LoadByFilter(list, request);
  } catch (...) {
    TFilterWorkShop::FreeFilter(clone);
    throw;
  }
  TFilterWorkShop::FreeFilter(clone);
}

// ---- Downloads ---------------------------------------------------------------------

void Ttidewell::DeleteFeeds(const TDynIntArray& feedIds, bool markOnly) {
  RequireConnection();
  InEngineTransaction([&](TQueryWrapper& query) {
    for (int32_t id : feedIds) TFeeds::DeleteFeed(&query, id, markOnly);
  });
}

void Ttidewell::DeleteArticles(const TDynIntArray& articleIds, bool purge) {
  RequireConnection();
  if (articleIds.empty()) return;
  InEngineTransaction([&](TQueryWrapper& query) { TArticles::DeleteArticles(&query, articleIds, -1, purge); });
}

void Ttidewell::ResetEnclosureDownloads(const TDynIntArray& enclosureIds) {
  RetryOnUpdateConflict([&] { ResetEnclosureDownloadsOnce(enclosureIds); });
}

void Ttidewell::ResetEnclosureDownloadsOnce(const TDynIntArray& enclosureIds) {
  struct Row {
    std::string fileLocation;
    int32_t id;
    bool downloading;
  };
  TTranWrapper* transaction = NewTransaction(true);
  TQueryWrapper* query = NewQuery(true);
  try {
    transaction->SetDatabase(workersConnection_.get());
    query->SetTransaction(transaction);
    transaction->StartTransaction();
    query->SQL.Add("select filelocation,enclosure_id,download_status");
    query->SQL.Add("from enclosures");
    query->SQL.Add("where download_status in (?,?)" +
                   (enclosureIds.empty() ? std::string(" and (coalesce(lasthttpcode,0)!=404)")
                                         : " and enclosure_id in (" + JoinIds(enclosureIds) + ")"));
    query->Params(0).SetInteger(1);
    query->Params(1).SetInteger(3);
    ExecQueryTimed(query, true);
    std::vector<Row> rows;
    for (; !query->Eof(); query->Next())
      rows.push_back({query->FieldByName("FILELOCATION").AsString(), query->FieldByName("ENCLOSURE_ID").AsInteger(),
                      query->FieldByName("DOWNLOAD_STATUS").AsInteger() == kEnclosureDownloading});
    query->Close();
    query->SQL.Clear();
    query->SQL.Add("update enclosures");
    query->SQL.Add("set download_status=?, filelocation='',valid=1,downloadStart=?,downloadEnd=?,lasthttpcode=0");
    query->SQL.Add("where enclosure_id=?");
    for (const Row& row : rows) {
      const TDateTime nowUtc = LocalTimeToUTC(Now());
      if (row.downloading && IsOwnFinishedDownload(*query, row.id, row.fileLocation)) {
        MarkDownloaded(*query, row.id, nowUtc);
        continue;
      }
      query->Params(0).SetInteger(0);
      query->Params(1).SetDateTime(nowUtc);
      query->Params(2).SetDateTime(nowUtc);
      query->Params(3).SetInteger(row.id);
      ExecQueryTimed(query, false);
      if (HasTmpExtension(row.fileLocation)) platform::DeleteFile(row.fileLocation);
    }
    transaction->Commit();
  } catch (...) {
    ReleaseQuery(query);
    ReleaseTransaction(transaction);
    throw;
  }
  ReleaseQuery(query);
  ReleaseTransaction(transaction);
}

// A row read as under way may have been ended by its job since: only a
// row still under way is changed. A job handed out meanwhile is for a row
// not under way (new, or failed and tried again), and holds its row from
// its start.
TDynIntArray Ttidewell::ResetDownloadsLeftWithoutJob() {
  RequireConnection();
  TDynIntArray putBack;
  std::vector<std::string> partialFiles;
  InEngineTransaction([&](TQueryWrapper& query) {
    putBack.clear();
    partialFiles.clear();
    query.SQL.Add("select enclosure_id,filelocation from enclosures where download_status=?");
    query.Params(0).SetInteger(kEnclosureDownloading);
    ExecQueryTimed(&query, true);
    std::vector<std::pair<int32_t, std::string>> rows;
    for (; !query.Eof(); query.Next()) {
      const int32_t id = query.FieldByName("ENCLOSURE_ID").AsInteger();
      if (HandedOut(id) && !IsEnclosureQueued(id))
        rows.emplace_back(id, query.FieldByName("FILELOCATION").AsString());
    }
    query.Close();
    for (const auto& [id, fileLocation] : rows) {
      const bool finished = IsOwnFinishedDownload(query, id, fileLocation);
      if (!EndDownloadLeftWithoutJob(query, id, finished) || finished) continue;
      putBack.push_back(id);
      if (HasTmpExtension(fileLocation)) partialFiles.push_back(fileLocation);
    }
  });
  for (const std::string& file : partialFiles) platform::DeleteFile(file);
  return putBack;
}

bool Ttidewell::HandedOut(int32_t enclosureId) {
  std::lock_guard<std::mutex> lock(enclosuresHandedOutMutex_);
  return enclosuresHandedOut_.count(enclosureId) > 0;
}

// Whether the row was still under way.
bool Ttidewell::EndDownloadLeftWithoutJob(TQueryWrapper& query, int32_t enclosureId, bool finished) {
  const TDateTime nowUtc = LocalTimeToUTC(Now());
  query.SQL.Clear();
  query.SQL.Add("update enclosures");
  query.SQL.Add(finished ? "set download_status=?,downloadEnd=?,lasthttpcode=200"
                         : "set download_status=?,filelocation='',valid=1,downloadStart=?,downloadEnd=?,lasthttpcode=0");
  query.SQL.Add("where enclosure_id=? and download_status=?");
  int index = 0;
  query.Params(index++).SetInteger(finished ? kEnclosureDownloaded : 0);
  if (!finished) query.Params(index++).SetDateTime(nowUtc);
  query.Params(index++).SetDateTime(nowUtc);
  query.Params(index++).SetInteger(enclosureId);
  query.Params(index).SetInteger(kEnclosureDownloading);
  ExecQueryTimed(&query, false);
  return query.RowsAffected() == 1;
}

// Rows of downloads in progress are only ever left by an ended process when
// no worker runs yet; those whose file is gone stop naming it. The status
// stays, so that the reset of unfinished downloads still finds them.
void Ttidewell::ForgetMissingDownloadFiles() {
  if (AnyThreadWorking() || QueuedJobCount() > 0) return;
  InEngineTransaction([](TQueryWrapper& query) {
    query.SQL.Add("select enclosure_id,filelocation from enclosures where download_status=1 and filelocation<>''");
    ExecQueryTimed(&query, true);
    std::vector<int32_t> gone;
    for (; !query.Eof(); query.Next()) {
      const std::string file = query.FieldByName("FILELOCATION").AsString();
      if (!platform::FileExists(file)) gone.push_back(query.FieldByName("ENCLOSURE_ID").AsInteger());
    }
    query.Close();
    query.SQL.Clear();
    query.SQL.Add("update enclosures set filelocation='' where download_status=1 and enclosure_id=?");
    for (const int32_t id : gone) {
      query.Params(0).SetInteger(id);
      ExecQueryTimed(&query, false);
    }
  });
}

// ---- Helpers for applications -----------------------------------------------------

void Ttidewell::UnescapeXmlText(const WideString& text, bool /*option*/, WideString& result) {
  result = text;
  const std::string utf8 = kt::WideToUtf8(text);
  if (utf8.find('&') == std::string::npos || HasOpenReference(utf8)) return;
  pugi::xml_document document;
  const std::string wrapped = "<t>" + utf8 + "</t>";
  const auto parsed = document.load_buffer(wrapped.data(), wrapped.size(), pugi::parse_escapes, pugi::encoding_utf8);
  if (!parsed) return;
  const pugi::xml_node root = document.child("t");
  const pugi::xml_node only = root.first_child();
  // Anything but one text node means the text held markup of its own.
  if (!only || only.next_sibling() || only.type() != pugi::node_pcdata) return;
  result = kt::Utf8ToWide(only.value());
}

TDbConnWrapper* Ttidewell::BindTransaction(TTranWrapper* transaction, bool doNotStart) {
  transaction->SetDatabase(engineConnection_.get());
  if (!doNotStart) transaction->StartTransaction();
  return engineConnection_.get();
}

}  // namespace tidewell
