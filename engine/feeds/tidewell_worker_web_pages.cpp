// SPDX-License-Identifier: MIT
// The feed worker's processors for article web pages (stored in table
// webpages) and raw-data requests (handed back to the application, or kept
// as files in the on-disk cache and recorded in table filecache).
#include <filesystem>
#include <fstream>
#include <system_error>

#include "engine/feeds/tidewell_worker_text.h"
#include "engine/feeds/tidewell_worker_thread_pr_atom_rss_feeds.h"
#include "engine/net/file_stream_ext.h"
#include "engine/settings/tidewell_globvars.h"
#include "engine/tidewell_date.h"
#include "engine/tidewell_msg.h"
#include "engine/tidewell_utilities.h"
#include "toolkit/exception.h"

namespace tidewell {
namespace {

constexpr TDateTime kCacheDefaultLastModified = 29221.0;  // 1980-01-01 00:00
constexpr size_t kContentSniffLength = 4096;
const char kCacheNameEmpty[] = "Filecache error dir/filename empty !";

bool IsDeliveredCode(int32_t code) { return code == 200 || code == 302 || code == 304; }

std::string ReadPrefix(kt::TStream* stream, size_t length) {
  if (stream == nullptr) return {};
  stream->SetPosition(0);
  std::string bytes(static_cast<size_t>(std::min<int64_t>(stream->Size(), static_cast<int64_t>(length))), '\0');
  stream->ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  return bytes;
}

std::string WithoutBlanks(const std::string& text) {
  std::string kept;
  for (char c : text) {
    if (c != ' ' && c != '\t') kept += c;
  }
  return kept;
}

// A host that names a folder below the cache folder: not empty, no
// separators and not "." or "..".
bool IsSafeHostFolder(const std::string& host) {
  return !host.empty() && host != "." && host != ".." && host.find_first_of("/\\") == std::string::npos;
}

TDateTime LastModifiedOf(const TtidewellTrdJobPropClass& result) {
  if (result.lastModified.empty()) return kCacheDefaultLastModified;
  try {
    double offset = 0;
    std::string zone;
    const TDateTime written = ParseRFC822Date(result.lastModified, offset, zone);
    return NormalizeToUTC(zone, offset, written);
  } catch (...) {
    return kCacheDefaultLastModified;
  }
}

void WriteBodyFile(kt::TStream& body, const std::string& path) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) throw kt::Exception("Can't create file " + path);
  body.SetPosition(0);
  char buffer[65536];
  for (int64_t read = body.Read(buffer, sizeof buffer); read > 0; read = body.Read(buffer, sizeof buffer)) {
    file.write(buffer, read);
  }
  if (!file.flush()) throw kt::Exception("Can't write file " + path);
}

}  // namespace

// ---- Web pages -----------------------------------------------------------------

void TtidewellWorkerThreadPrAtomRssFeeds::ProcessWebPage(TtidewellTrdJobPropClass& result, PHttpRawDataReq, void*) {
  if (httpCode_ == 200 && !result.error) {
    try {
      StoreWebPage(result);
    } catch (...) {
      const std::string message = CurrentExceptionMessage();
      ResetQuery();
      RollbackQuietly();
      errorCategory_ = TErrorCategory::ErrDatabaseOp;
      errorText_ = message;
    }
  } else {
    errorCategory_ = TErrorCategory::ErrHttpGet;
    // A quota failure carries its message as the transfer's error text.
    errorText_ = result.errorText;
    if (errorText_.empty()) errorText_ = "HTTP ERROR " + std::to_string(httpCode_);
  }
  SyncArticleWebPageDownLoaded();
}

void TtidewellWorkerThreadPrAtomRssFeeds::StoreWebPage(TtidewellTrdJobPropClass& result) {
  StartOwnTransaction();
  ResetQuery();
  query_.SQL.Add("select x.article_id");
  query_.SQL.Add("from Webpages x");
  query_.SQL.Add("where x.article_id=?");
  query_.Params(0).SetInteger(itemId_);
  ExecQueryTimed(&query_, true);
  const bool stored = !query_.Eof();
  ResetQuery();
  const TDateTime nowUtc = LocalTimeToUTC(Now());
  if (!stored) {
    query_.SQL.Add("insert into webpages(article_id,link_id,content,last_updated)");
    query_.SQL.Add("values(?,0,?,?)");
    query_.Params(0).SetInteger(itemId_);
    query_.Params(1).SetBlobFromStream(*result.Stream());
    query_.Params(2).SetDateTime(nowUtc);
  } else {
    query_.SQL.Add("update webpages");
    query_.SQL.Add("set link_id=0,content=?,last_updated=?");
    query_.SQL.Add("where article_id=?");
    query_.Params(0).SetBlobFromStream(*result.Stream());
    query_.Params(1).SetDateTime(nowUtc);
    query_.Params(2).SetInteger(itemId_);
  }
  ExecQueryTimed(&query_, false);
  ResetQuery();
  transaction_.Commit();
}

// ---- Raw data ------------------------------------------------------------------

void TtidewellWorkerThreadPrAtomRssFeeds::ProcessRawData(TtidewellTrdJobPropClass& result, PHttpRawDataReq request,
                                                         void*) {
  userData_ = request;
  if (request == nullptr) return;
  try {
    DeliverRawData(result, request);
  } catch (...) {
  }
  localFileName_.clear();
  DisposeRequest(request);
}

void TtidewellWorkerThreadPrAtomRssFeeds::DeliverRawData(TtidewellTrdJobPropClass& result, PHttpRawDataReq request) {
  // The request keeps its own stream: pointing it at the result's one would
  // leave it holding a stream that the result frees.
  auto* file = dynamic_cast<kt::TFileStream*>(request->stream);
  const bool ownsFile = file != nullptr && (request->flags & THttpRawDataReq::kOwnsStream) != 0;
  if (ownsFile && dynamic_cast<TFileStreamExt*>(file) != nullptr) localFileName_ = kt::Utf8ToWide(file->FileName());
  if (request->deliveryKind == THttpRawDataReq::kDeliverToApplication) {
    // The file is closed before the application is told about it.
    if (ownsFile) {
      delete request->stream;
      request->stream = nullptr;
    }
    if (WorkerEvents().Snapshot().OnRawDataDownloaded) SyncRawDataDownloaded();
  } else if (request->deliveryKind == THttpRawDataReq::kStoreInFileCache) {
    // The body may be that file: it is stored before the file is closed.
    StoreInFileCache(result, request);
  }
}

void TtidewellWorkerThreadPrAtomRssFeeds::DisposeRequest(PHttpRawDataReq request) {
  try {
    if ((request->flags & THttpRawDataReq::kOwnsStream) != 0 && request->stream != nullptr) {
      delete request->stream;
    }
    request->stream = nullptr;
    if (request == pendingRequest_.get()) {
      rawDataReq_ = nullptr;
      pendingRequest_.reset();
    } else {
      delete request;
    }
  } catch (...) {
  }
}

// ---- The file cache ------------------------------------------------------------

std::string TtidewellWorkerThreadPrAtomRssFeeds::CacheDirectory() const {
  return GlobalVars != nullptr ? GlobalVars->GetCacheDirectory() : std::string();
}

void TtidewellWorkerThreadPrAtomRssFeeds::StoreInFileCache(TtidewellTrdJobPropClass& result,
                                                           PHttpRawDataReq request) {
  itemId_ = static_cast<int32_t>(request->articleId);
  bool success = IsDeliveredCode(httpCode_);
  if (LowerCaseAscii(errorText_).find("socket error") != std::string::npos) return;
  const TDateTime lastModified = LastModifiedOf(result);
  std::string cacheFolder = CacheDirectory();
  const std::string host = UrlHostLower(url_);
  // Without a cache folder, or for a host that would lead out of it, nothing
  // is stored.
  if (cacheFolder.empty() || !IsSafeHostFolder(host)) return;
  if (cacheFolder.back() != '/') cacheFolder += '/';
  const std::string hostFolder = cacheFolder + host + "/";
  const std::string normalized = WithoutBlanks(TrimBlanks(LowerCaseAscii(PercentDecode(url_))));
  const std::string path = hostFolder + LowerCaseAscii(BytesMD5Hex(normalized));
  if (request->cacheMode != 2) return;
  try {
    StoreCacheRow(result, hostFolder, path, lastModified, success);
  } catch (...) {
    ResetQuery();
    RollbackQuietly();
  }
}

void TtidewellWorkerThreadPrAtomRssFeeds::StoreCacheRow(TtidewellTrdJobPropClass& result,
                                                        const std::string& hostFolder, std::string path,
                                                        TDateTime lastModified, bool success) {
  StartOwnTransaction();
  ResetQuery();
  std::string clause;
  ClearSqlClause(clause);
  query_.SQL.Add("select id,status,hostdir,filename");
  query_.SQL.Add("from filecache " + clause);
  query_.SQL.Add("where articleId=?");
  query_.Params(0).SetInteger(itemId_);
  ExecQueryTimed(&query_, true);
  const int32_t cachedId = query_.Eof() ? 0 : query_.FieldByName("ID").AsInteger();
  ResetQuery();
  if (cachedId >= 1) {
    cachedItemId_ = cachedId;
    query_.SQL.Add("update filecache");
    query_.SQL.Add("set lastHTTPCode=?");
    query_.SQL.Add("where articleId=?");
    query_.Params(0).SetInteger(httpCode_);
    query_.Params(1).SetInteger(itemId_);
    ExecQueryTimed(&query_, false);
    ResetQuery();
    transaction_.Commit();
    return;
  }
  std::string extension = GetExtensionForContentType(LowerCaseAscii(TrimBlanks(contentType_)));
  if (extension.empty()) {
    if (LowerCaseAscii(ReadPrefix(result.Stream(), kContentSniffLength)).find("<html") != std::string::npos) {
      extension = ".html";
    } else {
      result.errorText = result.errorText + "|" + MessageText(kCantDetermineContentType);
      success = false;
    }
  }
  path += extension;
  const bool storeFile = success && !result.error;
  if (storeFile) {
    std::error_code failure;
    std::filesystem::create_directories(hostFolder, failure);
    if (failure && !std::filesystem::is_directory(hostFolder)) {
      throw kt::Exception(std::string(MessageText(kCantCreateCacheDirectory)) + "\r\n" +
                          kt::WideToUtf8(localFileName_));
    }
  }
  const std::string dir = ExtractLastPathPart(hostFolder);
  std::string name = ExtractLastPathPart(path);
  if (dir.empty() || name.empty()) throw kt::Exception(kCacheNameEmpty);
  if (storeFile && result.Stream() != nullptr) {
    WriteBodyFile(*result.Stream(), path);
  } else {
    name = "Error:" + result.errorText + "@@" + name;
  }
  localFileName_ = kt::Utf8ToWide(path);
  cachedItemId_ = DbHelper().InsertFileCache(&query_, itemId_, 0, LowerCaseAscii(dir), LowerCaseAscii(name), lastModified,
                                             result.etag, httpCode_, "", result.contentLength, contentType_, "", "", 0);
  if (storeFile) SyncCacheTriggerURLRemapSubItemDownload();
  transaction_.Commit();
}

}  // namespace tidewell
