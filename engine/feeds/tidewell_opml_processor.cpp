// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_opml_processor.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "engine/db/tidewell_db_helper.h"
#include "engine/addresses/feed_address.h"
#include "engine/addresses/feed_credentials_columns.h"
#include "engine/addresses/feed_link_length.h"
#include "engine/feeds/tidewell_feed_document.h"
#include "engine/feeds/tidewell_feed_store.h"
#include "engine/feeds/tidewell_feed_xml.h"
#include "engine/feeds/tidewell_worker_text.h"
#include "engine/model/feeds.h"
#include "engine/model/model_support.h"
#include "engine/tidewell.h"
#include "engine/tidewell_msg.h"
#include "engine/tidewell_utilities.h"
#include "engine/addresses/url_parts.h"
#include "platform/system.h"
#include "toolkit/exception.h"

namespace tidewell {
namespace {

constexpr const char* kItemSeparator = "]]";
constexpr const char* kLinkSeparator = "%==-";
constexpr uint8_t kOpEqual = 3;
constexpr uint8_t kDataTypeInteger = 2;

std::string Utf8(const WideString& text) { return kt::WideToUtf8(text); }
WideString Wide(const std::string& text) { return kt::Utf8ToWide(text); }

[[noreturn]] void Assertion(const std::string& text) { throw kt::Exception(text); }

std::string CurrentMessage() {
  try {
    throw;
  } catch (const kt::Exception& e) {
    return e.Message();
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown error";
  }
}

// The Last-Modified value to store; none when empty, numeric or unreadable.
void BindLastModified(db::Param& param, const std::string& header) {
  const std::string text = TrimBlanks(header);
  if (text.empty() || (text[0] >= '0' && text[0] <= '9')) return param.SetNull();
  try {
    param.SetDateTime(HttpDateToUtc(text));
  } catch (...) {
    param.SetNull();
  }
}

std::string StreamText(kt::TStream& stream) {
  std::string text(static_cast<size_t>(stream.Size()), '\0');
  stream.SetPosition(0);
  if (!text.empty()) stream.ReadBuffer(text.data(), static_cast<int64_t>(text.size()));
  stream.SetPosition(0);
  return text;
}

int32_t IntervalMinutes(const TFeedProperty* record) {
  if (record == nullptr || record->UpdateInterval < 1) return TtidewellOpmlProcessor::kDefaultIntervalMinutes;
  return record->UpdateInterval;
}

// The part of a feed item's text after "]]": its URL.
std::string ItemUrl(const WideString& field) {
  const std::string text = Utf8(field);
  const size_t at = text.find(kItemSeparator);
  return at == std::string::npos ? std::string() : text.substr(at + 2);
}

// A feed item's text as the events tell it: its URL without credentials,
// which are kept in their columns and shown nowhere.
std::string AnnouncedText(const WideString& field) {
  const std::string text = Utf8(field);
  const size_t at = text.find(kItemSeparator);
  if (at == std::string::npos) return text;
  return text.substr(0, at + 2) + UrlWithoutCredentials(text.substr(at + 2));
}

TFolder* FindByName(TFolder* folder, const WideString& name) {
  const std::string wanted = UpperCaseAscii(Utf8(name));
  for (TFolder* sub : folder->SubFolders->List)
    if (UpperCaseAscii(Utf8(sub->GetName())) == wanted) return sub;
  return nullptr;
}

std::vector<std::string> SplitLinks(const std::string& text) {
  std::vector<std::string> links;
  size_t from = 0;
  for (size_t at = text.find(kLinkSeparator); at != std::string::npos; at = text.find(kLinkSeparator, from)) {
    links.push_back(TrimBlanks(text.substr(from, at - from)));
    from = at + 4;
  }
  if (from < text.size()) links.push_back(TrimBlanks(text.substr(from)));
  return links;
}

// The entry on standard error, without credentials and cut to a line.
void TellSkippedEntry(const std::string& url) {
  constexpr size_t kShown = 80;
  const std::string shown = UrlWithoutCredentials(url);
  size_t cut = 0;
  for (size_t characters = 0; cut < shown.size() && characters < kShown; ++characters)
    for (++cut; cut < shown.size() && (static_cast<unsigned char>(shown[cut]) & 0xC0) == 0x80;) ++cut;
  std::fprintf(stderr, "List entry of %zu bytes skipped, longer than a feed address may be: %s%s\n", url.size(),
               shown.substr(0, cut).c_str(), cut < shown.size() ? "..." : "");
}

// Withdraws the thread's edit right on every way out.
class EditRight {
 public:
  explicit EditRight(TFolderManagement* folders) : folders_(folders), id_(platform::CurrentThreadId()) {
    folders_->SetEditRight(id_);
  }
  ~EditRight() { folders_->SetEditRight(-id_); }
  EditRight(const EditRight&) = delete;
  EditRight& operator=(const EditRight&) = delete;

 private:
  TFolderManagement* folders_;
  int64_t id_;
};

}  // namespace

// ---- The job ------------------------------------------------------------------

void TtidewellOpmlProcessor::Process(TtidewellTrdJobPropClass& result, TFeedProperty* record,
                                     TErrorCategory& errorCategory, std::string& errorText) {
  c_.added->clear();
  c_.removed->clear();
  feedUrlsLoaded_ = false;
  storedFeeds_.Clear();
  listAddressesLoaded_ = false;
  listAddresses_.clear();
  mappingLoaded_ = false;
  mappedFeeds_.clear();
  addedTexts_.clear();
  feedsInStep_ = 0;
  pendingListFolder_ = nullptr;
  stepCommitted_ = false;
  url_ = TrimBlanks(result.finalUrl.empty() ? result.url : result.finalUrl);
  const int32_t givenId = *c_.itemId;
  try {
    const std::string digest = result.Stream() != nullptr ? StreamMD5Hex(result.Stream()) : BytesMD5Hex("");
    const std::string failed = PreconditionError();
    if (record != nullptr) {
      // A list the worker cannot merge now is not lost: it is fetched again
      // at its next update, and the failure is reported.
      if (!failed.empty()) {
        result.errorText = failed;
        errorCategory = TErrorCategory::ErrUnknown;
        errorText = failed;
      }
      const bool unchanged = result.httpCode == 200 && result.Stream() != nullptr && digest == record->FeedMD5;
      if (!failed.empty() || unchanged || result.httpCode == 304) {
        // A list that was not merged keeps the digest it was last merged
        // with, so that its changes are merged by a later fetch.
        RefreshUnchanged(result, record, failed.empty() ? digest : record->FeedMD5);
        return;
      }
    }
    if (Stopping()) return;
    if (*c_.itemId >= 1 && (result.httpCode != 200 || result.Stream() == nullptr)) {
      if (result.httpCode == 304) {
        result.error = false;
        if (c_.noNeedForUpdate) c_.noNeedForUpdate();
      }
      if (c_.reschedule) c_.reschedule(*c_.itemId, result.httpCode);
      return;
    }
    // A new list that brought no document is a failure, not an empty list.
    if (result.httpCode != 200 || result.Stream() == nullptr)
      throw kt::Exception(result.errorText.empty() ? "HTTP " + std::to_string(result.httpCode) : result.errorText);
    if (!failed.empty()) throw kt::Exception(failed);
    Subscribe(result, record, digest);
  } catch (...) {
    errorText = CurrentMessage();
    errorCategory = TErrorCategory::ErrUnknown;
    RollbackQuietly();
    // The new list's row was rolled back: the job no longer has one. Once a
    // step was committed the row stays, and the next fetch completes it.
    if (givenId < 1 && !stepCommitted_) *c_.itemId = givenId;
  }
}

std::string TtidewellOpmlProcessor::PreconditionError() {
  if (c_.owner == nullptr) return MessageText(kNoDateFromParent);
  folders_ = c_.owner->GetFolders();
  try {
    // The root folder is made the first time a list needs one.
    if (folders_ != nullptr) folders_->EnsureRootFolder();
  } catch (...) {
    return CurrentMessage();
  }
  if (folders_ == nullptr || folders_->GetRootFolder() == nullptr || folders_->GetRootFolder()->Id < 1)
    return MessageText(kFoldersNotLoaded);
  return {};
}

void TtidewellOpmlProcessor::RefreshUnchanged(TtidewellTrdJobPropClass& result, TFeedProperty* record,
                                              const std::string& digest) {
  const TDateTime now = TtidewellFeedStore::UtcNow();
  TQueryWrapper* q = c_.query;
  c_.transaction->StartTransaction();
  model::SetSqlLines(q, {"update feeds",
                         "set page_lastmodified=?,feedmodified=?,feedmodifiedTZ=?,etag=substring(? from 1 for 80),"
                         "feedMD5=?,",
                         "last_feedupdate=?,next_feedupdate=?,lastHTTPCode=?",
                         "where feed_id=" + std::to_string(record->FeedId)});
  BindLastModified(q->Params(0), result.lastModified);
  q->Params(1).SetDateTime(now);
  q->Params(2).SetString("X");
  q->Params(3).SetString(result.httpCode == 304 ? record->ETag : result.etag);
  // An answer without a body keeps the digest of the body the list last had.
  q->Params(4).SetString(result.httpCode == 304 || result.Stream() == nullptr ? record->FeedMD5 : digest);
  q->Params(5).SetDateTime(now);
  q->Params(6).SetDateTime(now + IntervalMinutes(record) / 1440.0);
  q->Params(7).SetInteger(result.httpCode);
  ExecQueryTimed(q, false);
  SafeCloseQuery(q);
  c_.transaction->Commit();
}

void TtidewellOpmlProcessor::RollbackQuietly() {
  SafeCloseQuery(c_.query);
  try {
    if (c_.transaction->InTransaction()) c_.transaction->Rollback();
  } catch (...) {
  }
  ReleaseAddresses();
}

void TtidewellOpmlProcessor::ReleaseAddresses() {
  if (c_.owner != nullptr) c_.owner->AddressClaims().Release(c_.transaction);
}

int32_t TtidewellOpmlProcessor::SelectInt(const std::vector<std::string>& lines,
                                          const std::function<void(TQueryWrapper&)>& bind) {
  TQueryWrapper* q = c_.query;
  model::SetSqlLines(q, lines);
  if (bind) bind(*q);
  ExecQueryTimed(q, true);
  const int32_t value = q->Eof() ? -1 : q->Fields(0).AsInteger();
  SafeCloseQuery(q);
  return value;
}

void TtidewellOpmlProcessor::Subscribe(TtidewellTrdJobPropClass& result, TFeedProperty* record,
                                       const std::string& digest) {
  pugi::xml_document document;
  ParseList(result, document);
  c_.transaction->StartTransaction();
  // No record: a new list, in a new row or in a stored row that was given
  // as a feed and turned out to be a list.
  const bool created = record == nullptr;
  // A row given as a feed keeps the interval its subscriber chose for it.
  int32_t interval = IntervalMinutes(record);
  if (created && *c_.itemId >= 1) {
    const int32_t chosen =
        SelectInt({"select update_interval from feeds where feed_id=" + std::to_string(*c_.itemId)}, nullptr);
    if (chosen >= 1) interval = chosen;
  }
  if (*c_.itemId < 1) {
    *c_.itemId = c_.dbHelper->InsertFeed(c_.query, "OPML", "en", url_, u"", 0, u"", 0);
  } else if (created) {
    model::SetSqlLines(c_.query, {"update feeds set type_='OPML' where feed_id=" + std::to_string(*c_.itemId)});
    ExecQueryTimed(c_.query, false);
    SafeCloseQuery(c_.query);
  }
  const pugi::xml_node root = document.document_element();
  if (UpperCaseAscii(root.name()) != "OPML") RaiseMessage(kOpmlInvalidRootNode);
  const TStopTest stopping = [this] { return Stopping(); };
  const pugi::xml_node title = FindChildElement(FindChildElement(root, "HEAD", stopping), "TITLE", stopping);
  WideString listTitle = title ? Wide(TrimBlanks(NodeTextUtf8(title))) : WideString();
  bool changed = false;
  std::unique_ptr<TFolder> newFolder;
  TFolder* stored = nullptr;
  if (created) {
    if (listTitle.empty()) listTitle = u"OPML Folder (" + Wide(url_) + u")";
    newFolder.reset(MakeListFolder(listTitle, changed));
    stored = newFolder.get();
    pendingListFolder_ = stored;
    *c_.feedTitle = stored->GetName();
  } else {
    stored = StoredListFolder();
    c_.feedTitle->clear();
  }
  const pugi::xml_node bodyNode = FindChildElement(root, "BODY", stopping);
  if (!bodyNode) RaiseMessage(kOpmlNoBodyTag);
  {
    EditRight right(folders_);
    TFolder fresh(folders_);
    fresh.SetName(stored->GetName());
    TStrings urls;
    ReadOPMLOutlines(folders_, &fresh, bodyNode.first_child(), 0, urls);
    document.reset();
    TDynIntArray found;
    std::string error;
    const bool merged = UpdateOPMLSubscription(*c_.itemId, stored, &fresh, changed, error, found);
    // A folder that a step attached belongs to the tree now.
    if (created && pendingListFolder_ == nullptr) newFolder.release();
    if (!merged) throw kt::Exception(error);
    if (created && pendingListFolder_ != nullptr) {
      if (!folders_->GetRootFolder()->AddSubFolder(stored)) RaiseMessage(kFolderNotDescribed);
      newFolder.release();
      pendingListFolder_ = nullptr;
    }
    StoreListRow(result, created ? nullptr : record, listTitle, digest, interval);
    c_.transaction->Commit();
    ReleaseAddresses();
    folders_->SaveAll();
  }
  if (changed && c_.refreshFolders) c_.refreshFolders();
}

// A list that is not well-formed is refused whole, before anything of it
// is filed: what a cut or broken list holds is no measure of the list.
void TtidewellOpmlProcessor::ParseList(TtidewellTrdJobPropClass& result, pugi::xml_document& document) {
  std::string body = PrepareXmlBody(StreamText(*result.Stream()), result.contentType);
  bool encodingRefused = false;
  try {
    ParseXmlWithRepairs(body, document, encodingRefused, false);
  } catch (const kt::Exception&) {
    if (!document.document_element()) RaiseMessage(kRootNodeNotFound);
    throw;
  }
  if (!document.document_element()) RaiseMessage(kRootNodeNotFound);
}

TFolder* TtidewellOpmlProcessor::MakeListFolder(const WideString& title, bool& changed) {
  const int32_t rootId = SelectInt({"select id from folders where parentFolder=0 and foldername='*'"}, nullptr);
  if (rootId < 1) Assertion("Parent folder missing ?");
  WideString name = title;
  for (int n = 1;; ++n) {
    const WideString upper = DatabaseUpperCase(name);
    const int32_t taken = SelectInt({"select id from folders where parentFolder=? and ",
                                     "upper(foldername collate UTF8)", "=?"},
                                    [&](TQueryWrapper& q) {
                                      q.Params(0).SetInteger(rootId);
                                      q.Params(1).SetWideString(upper);
                                    });
    if (taken < 1) break;
    name = title + u" (" + Wide(std::to_string(n)) + u")";
    platform::SleepMs(5);
  }
  const int32_t folderId = c_.dbHelper->InsertFolder(c_.query, rootId, 0, name, folders_->UserId);
  TFolder* folder = folders_->NewFolder(name, folderId, *c_.itemId);
  try {
    TQueryWrapper* q = c_.query;
    model::SetSqlLines(q, {"insert into variables(type_,itemid,variablename_,value_)", "values(?,?,?,?)"});
    q->Params(0).SetString("folder");
    q->Params(1).SetInteger(folderId);
    q->Params(2).SetString("opmlfolder");
    q->Params(3).SetString(std::to_string(*c_.itemId));
    ExecQueryTimed(q, false);
    SafeCloseQuery(q);
  } catch (...) {
    delete folder;
    throw;
  }
  changed = true;
  return folder;
}

// Upper-cased the way the database compares names, beyond ASCII too.
WideString TtidewellOpmlProcessor::DatabaseUpperCase(const WideString& text) {
  TQueryWrapper* q = c_.query;
  model::SetSqlLines(q, {"select upper(cast(? as varchar(512) character set UTF8) collate UTF8) from rdb$database"});
  q->Params(0).SetWideString(text);
  ExecQueryTimed(q, true);
  const WideString upper = q->Fields(0).AsWideString();
  SafeCloseQuery(q);
  return upper;
}

TFolder* TtidewellOpmlProcessor::StoredListFolder() {
  const int32_t folderId =
      SelectInt({"select itemid from variables where type_=? and variablename_=? and value_=?"}, [&](TQueryWrapper& q) {
        q.Params(0).SetString("folder");
        q.Params(1).SetString("opmlfolder");
        q.Params(2).SetString(std::to_string(*c_.itemId));
      });
  if (folderId < 1) Assertion("OPML folder description lost ?");
  TFolder* root = folders_->GetRootFolder();
  for (TFolder* sub : root->SubFolders->List)
    if (sub->Id == folderId) return sub;
  RaiseMessage(kFolderNotDescribed);
  return nullptr;
}

void TtidewellOpmlProcessor::StoreListRow(TtidewellTrdJobPropClass& result, TFeedProperty* record,
                                          const WideString& title, const std::string& digest, int32_t interval) {
  const TDateTime now = TtidewellFeedStore::UtcNow();
  TQueryWrapper* q = c_.query;
  model::SetSqlLines(
      q, {"update feeds", "set link=substring(? from 1 for 1000),homepage=substring(? from 1 for 512),",
          "description=substring(? from 1 for 1000),page_lastmodified=?,",
          "feedmodified=?,feedmodifiedTZ=substring(? from 1 for 20),etag=substring(? from 1 for 80),"
          "language_=substring(? from 1 for 5),feedMD5=?,",
          "last_feedupdate=?,next_feedupdate=?,feedCreated=?,feedCreatedTZ=substring(? from 1 for 20),",
          "username_=?,password_=?,lastHTTPCode=?,archiveSize=?,rtlEnabled=?",
          ",title=substring(? from 1 for 512),update_interval=?", "where feed_id=" + std::to_string(*c_.itemId)});
  int i = 0;
  q->Params(i++).SetString(url_);
  q->Params(i++).SetString(url_);
  q->Params(i++).SetString("OPML -> " + url_);
  BindLastModified(q->Params(i++), result.lastModified);
  q->Params(i++).SetDateTime(now);
  q->Params(i++).SetString("X");
  q->Params(i++).SetString(result.etag);
  q->Params(i++).SetString("en");
  q->Params(i++).SetString(digest);
  q->Params(i++).SetDateTime(now);
  q->Params(i++).SetDateTime(now + interval / 1440.0);
  q->Params(i++).SetDateTime(now);
  q->Params(i++).SetString("X");
  q->Params(i++).SetString(c_.userName);
  q->Params(i++).SetString(ScrambledPassword(c_.password));
  q->Params(i++).SetInteger(result.httpCode);
  q->Params(i++).SetInteger(record != nullptr ? record->ArchiveSize : 0);
  q->Params(i++).SetInteger(record != nullptr ? record->RtlEnabled : 0);
  const bool keepTitle = record != nullptr && !record->Title.empty() && title.empty();
  q->Params(i++).SetWideString(keepTitle ? record->Title : title);
  q->Params(i++).SetInteger(interval);
  ExecQueryTimed(q, false);
  SafeCloseQuery(q);
}

// ---- Reading the list -----------------------------------------------------------

void TtidewellOpmlProcessor::ReadOPMLOutlines(TFolderManagement* management, TFolder* folder,
                                              const pugi::xml_node& node, int32_t level, TStrings& urls) {
  for (pugi::xml_node outline = node; outline; outline = outline.next_sibling()) {
    if (outline.type() != pugi::node_element || LowerCaseAscii(outline.name()) != "outline") continue;
    if (!outline.first_attribute()) continue;
    std::string xmlUrl, htmlUrl, text;
    for (const pugi::xml_attribute& a : outline.attributes()) {
      const std::string name = LowerCaseAscii(a.name());
      const std::string value = TrimBlanks(a.value());
      if (name == "xmlurl" || name == "htmlurl") {
        WideString unescaped;
        Ttidewell::UnescapeXmlText(Wide(value), false, unescaped);
        (name == "xmlurl" ? xmlUrl : htmlUrl) = Utf8(unescaped);
      } else if (name == "text" || name == "title") {
        text = value;
      }
    }
    const bool group = (!text.empty() && xmlUrl.empty() && htmlUrl.empty()) || outline.first_child();
    if (group) {
      auto sub = std::make_unique<TFolder>(management);
      sub->SetName(Wide(text.empty() ? std::string("noname") : text));
      TFolder* added = sub.get();
      if (!folder->AddSubFolder(sub.get())) continue;
      sub.release();
      ReadOPMLOutlines(management, added, outline.first_child(), level + 1, urls);
      continue;
    }
    // Refused whole, as a broken list is: nothing of it is filed.
    RefuseUnescapedUserInfo(xmlUrl);
    const std::string upper = UpperCaseAscii(xmlUrl);
    if (upper.find("WWW.") == std::string::npos && upper.find("HTTP://") == std::string::npos &&
        upper.find("HTTPS://") == std::string::npos)
      continue;
    // One entry too long for the feed table is skipped, not the list.
    if (!FitsFeedLinkColumn(FeedAddressForStorage(TrimTrailingUrlMarks(xmlUrl)).link)) {
      TellSkippedEntry(xmlUrl);
      continue;
    }
    auto item = std::make_unique<TFilter>(nullptr, true, false);
    item->SetField(Wide(text + kItemSeparator + TrimTrailingUrlMarks(xmlUrl)));
    urls.push_back(xmlUrl);
    if (folder->AddFilter(item.get())) item.release();
  }
}

void TtidewellOpmlProcessor::CollectFolderFeeds(TFolder* folder, std::vector<TFilter*>& list) {
  for (TFilter* filter : folder->Filters) list.push_back(filter);
  for (TFolder* sub : folder->SubFolders->List) CollectFolderFeeds(sub, list);
}

// ---- Merging --------------------------------------------------------------------

bool TtidewellOpmlProcessor::UpdateOPMLSubscription(int32_t subscriptionId, TFolder* stored, TFolder* fresh,
                                                    bool& changed, std::string& errorText, TDynIntArray& found) {
  if (stored == nullptr || fresh == nullptr) return true;
  std::vector<TFolder*> vanished;
  std::unique_ptr<TFolder> removedFolder;
  try {
    SyncOPMLFolder(true, subscriptionId, vanished, nullptr, 0, fresh, stored, found);
    if (!c_.added->empty() && c_.feedsAdded) c_.feedsAdded();
    if (!c_.added->empty()) changed = true;
    vanished.clear();
    removedFolder = std::make_unique<TFolder>(folders_);
    removedFolder->SetName(u"removed");
    SyncOPMLFolder(false, subscriptionId, vanished, removedFolder.get(), 0, fresh, stored, found);
    if (Stopping()) throw kt::EAbort("");
    for (TFolder* folder : vanished) folders_->MoveAllFilters(folder, removedFolder.get(), true);
    if (removedFolder->FilterCount() > 0) {
      // The main thread may wait for addresses this job holds (AddFeed).
      if (c_.owner->AddressClaims().Holds(c_.transaction)) CommitStep();
      ReportRemovedFeeds(removedFolder.get(), changed);
      OfferRemovedFeeds(subscriptionId, removedFolder.get(), NamedFeeds(stored, found));
    }
    for (TFolder* folder : vanished) {
      // A vanished group goes with its rows; its filters left it above.
      TFolder* doomed = folder;
      TFolder::Delete(doomed);
      changed = true;
    }
    return true;
  } catch (...) {
    RollbackQuietly();
    errorText = CurrentMessage();
    return false;
  }
}

void TtidewellOpmlProcessor::ReportRemovedFeeds(TFolder* removedFolder, bool& changed) {
  TDynIntArray filterIds;
  for (TFilter* filter : removedFolder->Filters)
    if (filter->Id > 0) filterIds.push_back(filter->Id);
  folders_->MoveFiltersToFolder(filterIds, 0);
  for (TFilter* filter : removedFolder->Filters) {
    TDynIntArray ids;
    folders_->FilterWorkShop->GetFeedIDs(filter, ids);
    for (int32_t id : ids)
      if (id > 0) c_.removed->push_back(std::to_string(id));
  }
  if (c_.removed->empty()) return;
  if (c_.feedsRemoved) c_.feedsRemoved();
  changed = true;
}

// Every feed that a filter of the list selects after the merge: a show the
// list still names under another entry (twice, or under another spelling)
// stays.
std::unordered_set<int32_t> TtidewellOpmlProcessor::NamedFeeds(TFolder* stored, const TDynIntArray& found) {
  std::unordered_set<int32_t> named(found.begin(), found.end());
  std::vector<TFilter*> filters;
  CollectFolderFeeds(stored, filters);
  for (TFilter* filter : filters)
    for (int32_t feedId : FeedIdsOf(filter)) named.insert(feedId);
  return named;
}

void TtidewellOpmlProcessor::OfferRemovedFeeds(int32_t subscriptionId, TFolder* removedFolder,
                                               const std::unordered_set<int32_t>& named) {
  while (removedFolder->FilterCount() > 0) {
    TFilter* filter = removedFolder->GetFilter(0);
    TDynIntArray ids;
    folders_->FilterWorkShop->GetFeedIDs(filter, ids);
    const bool lastFilter = removedFolder->FilterCount() == 1;
    for (size_t i = 0; i < ids.size(); ++i) {
      const int32_t id = ids[i];
      if (id < 1) continue;
      if (named.count(id) != 0) continue;
      TakeOutOfList(subscriptionId, id, lastFilter && i + 1 == ids.size());
    }
    // The filter's rows go with it; it no longer belongs to the list.
    removedFolder->DeleteFilterAt(0);
    platform::SleepMs(10);
  }
}

void TtidewellOpmlProcessor::TakeOutOfList(int32_t subscriptionId, int32_t feedId, bool ended) {
  // One that the listener deleted already is not offered again.
  const int32_t own = SelectInt({"select feed_id from feeds where feed_id=" + std::to_string(feedId) +
                                 " and parentfeed=" + std::to_string(subscriptionId) +
                                 " and link not starting with 'DELMARKED:'"},
                                nullptr);
  bool unsubscribed = false;
  // A show stays while any list names it: the list that names it still
  // takes it over, and takes it out when it drops it in turn.
  const int32_t otherList = own > 0 ? OtherListNaming(*c_.query, subscriptionId, feedId) : -1;
  if (otherList > 0) HandOverToList(*c_.query, feedId, otherList);
  if (own > 0 && otherList < 1) {
    *c_.deleteFeedId = feedId;
    *c_.deleteAnswer = true;
    *c_.deleteEnded = ended;
    if (Stopping()) throw kt::EAbort("");
    if (c_.deleteFeed) c_.deleteFeed();
    if (*c_.deleteAnswer) {
      NoteLeftList(*c_.query, subscriptionId, feedId);
      TFeeds::DeleteFeed(c_.query, feedId, true);
      unsubscribed = true;
    }
  }
  // The address stays with a feed the list unsubscribed: by it the feed
  // returns when the list names it again.
  if (!unsubscribed) ForgetListAddress(*c_.query, subscriptionId, feedId);
  model::ExecLines(c_.query, {"delete from feeds2opmlmapping where boundwithfeed=" + std::to_string(feedId) +
                              " and opmlid=" + std::to_string(subscriptionId)});
  SafeCloseQuery(c_.query);
}

bool TtidewellOpmlProcessor::SyncOPMLFolder(bool dryRun, int32_t subscriptionId, std::vector<TFolder*>& vanished,
                                            TFolder* removedFolder, int32_t level, TFolder* fresh, TFolder* stored,
                                            TDynIntArray& found) {
  if (Stopping()) throw kt::EAbort("");
  std::vector<TFolder*> storedPairs, freshPairs, unmatched;
  for (TFolder* sub : fresh->SubFolders->List) {
    TFolder* partner = FindByName(stored, sub->GetName());
    if (partner == nullptr) {
      unmatched.push_back(sub);
    } else {
      storedPairs.push_back(partner);
      freshPairs.push_back(sub);
    }
  }
  for (TFolder* sub : stored->SubFolders->List)
    if (FindByName(fresh, sub->GetName()) == nullptr) vanished.push_back(sub);
  for (TFolder* sub : unmatched) {
    std::vector<TFilter*> items;
    CollectFolderFeeds(sub, items);
    if (dryRun) {
      for (TFilter* item : items) AddUnique(*c_.added, AnnouncedText(item->GetField()));
      continue;
    }
    AddOPMLFeed(subscriptionId, items, found);
    if (!sub->MoveTo(stored)) RaiseMessage(kFolderNotDescribed);
  }
  SyncItems(dryRun, subscriptionId, removedFolder, fresh, stored, found);
  if (storedPairs.size() != freshPairs.size()) Assertion("Mismatch in OPML compare proc");
  for (size_t i = 0; i < storedPairs.size(); ++i)
    if (!SyncOPMLFolder(dryRun, subscriptionId, vanished, removedFolder, level + 1, freshPairs[i], storedPairs[i],
                        found))
      return false;
  return true;
}

void TtidewellOpmlProcessor::SyncItems(bool dryRun, int32_t subscriptionId, TFolder* removedFolder, TFolder* fresh,
                                       TFolder* stored, TDynIntArray& found) {
  TFilterLinkList links;
  folders_->FilterWorkShop->MapFeedLinks(stored->Filters, links);
  // The stored filters by the key of each link they select, so that an
  // entry costs one look-up however long the list. A show the list names
  // twice has two filters: each entry keeps one of them.
  std::unordered_map<std::string, std::vector<TFilter*>> filtersByLink;
  const auto fileUnder = [&filtersByLink](const std::string& key, TFilter* filter) {
    std::vector<TFilter*>& filters = filtersByLink[key];
    if (std::find(filters.begin(), filters.end(), filter) == filters.end()) filters.push_back(filter);
  };
  for (const TFilterLinkEntry& entry : links)
    for (const std::string& link : SplitLinks(entry.text))
      fileUnder(FeedAddressKey(LinkBehindDeletedMark(link)), entry.filter);
  // And by the address the list named each feed by: a 301 rewrote the
  // feed's link, not the list.
  for (TFilter* filter : stored->Filters)
    for (int32_t feedId : FeedIdsOf(filter))
      if (const std::string* named = ListAddress(subscriptionId, feedId)) fileUnder(FeedAddressKey(*named), filter);
  std::vector<TFilter*> items(fresh->Filters.begin(), fresh->Filters.end());
  std::vector<TFilter*> newItems;
  std::unordered_map<TFilter*, std::string> matched;
  for (TFilter* item : items) {
    const auto filters = filtersByLink.find(FeedAddressKey(ItemUrl(item->GetField())));
    TFilter* keep = nullptr;
    if (filters != filtersByLink.end())
      for (TFilter* filter : filters->second)
        if (keep == nullptr && matched.count(filter) == 0) keep = filter;
    if (keep == nullptr) {
      newItems.push_back(item);
    } else {
      matched[keep] = ItemUrl(item->GetField());
    }
  }
  for (TFilter* item : newItems) {
    const std::string url = ItemUrl(item->GetField());
    if (dryRun && (!links.empty() || StoredFeed(url).feedId < 1)) AddUnique(*c_.added, AnnouncedText(item->GetField()));
  }
  if (dryRun) return;
  for (const TFilterLinkEntry& entry : links) {
    const auto kept = matched.find(entry.filter);
    if (kept == matched.end()) {
      if (!stored->MoveFilter(entry.filter, removedFolder)) RaiseMessage(kFilterMoveFailed);
      continue;
    }
    const TDynIntArray feedIds = FeedIdsOf(entry.filter);
    if (feedIds.size() != 1) continue;
    KeepListAddress(subscriptionId, feedIds[0], kept->second);
    TakeListedCredentials(feedIds[0], kept->second);
  }
  FileItems(subscriptionId, newItems, fresh, stored, found);
}

void TtidewellOpmlProcessor::FileItems(int32_t subscriptionId, const std::vector<TFilter*>& items, TFolder* from,
                                       TFolder* into, TDynIntArray& found) {
  AddOPMLFeed(subscriptionId, items, found);
  for (TFilter* item : items)
    if (!from->MoveFilter(item, into)) RaiseMessage(kFilterMoveFailed);
}

bool TtidewellOpmlProcessor::AddOPMLFeed(int32_t subscriptionId, const std::vector<TFilter*>& items,
                                         TDynIntArray& found) {
  for (TFilter* item : items) {
    const std::string field = Utf8(item->GetField());
    const size_t at = field.find(kItemSeparator);
    if (at == std::string::npos) continue;
    const std::string url = field.substr(at + 2, 1024);
    const std::string title = at == 0 ? UrlWithoutCredentials(url) : field.substr(0, at);
    item->SetField(Wide(title));
    const int32_t feedId = FileFeed(subscriptionId, url, title, found);
    auto node = std::make_unique<TFilter>(nullptr, true, false);
    node->SetField(u"articles.feed_id");
    node->SetDataType(kDataTypeInteger);
    node->OperType = kOpEqual;
    node->AddValue(Wide(std::to_string(feedId)));
    node->Parent = item;
    item->Conditions->Add(node.release());
    const std::string pair = std::to_string(subscriptionId) + "," + std::to_string(feedId);
    if (!IsMapped(subscriptionId, feedId)) {
      model::ExecLines(c_.query, {"insert into feeds2opmlmapping(opmlid,boundwithfeed) values(" + pair + ")"});
      mappedFeeds_.insert(feedId);
    }
    SafeCloseQuery(c_.query);
    KeepListAddress(subscriptionId, feedId, url);
    if (++feedsInStep_ >= kFeedsPerStep) CommitStep();
  }
  return true;
}

// What is filed so far is kept: a failure later rolls back the current step
// only, and the next fetch of the list files the rest (the feeds made here
// are then found by their URL). A new list's folder joins the tree with its
// first step, since its row is then stored.
void TtidewellOpmlProcessor::CommitStep() {
  feedsInStep_ = 0;
  if (Stopping()) throw kt::EAbort("");
  SafeCloseQuery(c_.query);
  c_.transaction->Commit();
  ReleaseAddresses();
  stepCommitted_ = true;
  c_.transaction->StartTransaction();
  if (pendingListFolder_ != nullptr) {
    if (!folders_->GetRootFolder()->AddSubFolder(pendingListFolder_)) RaiseMessage(kFolderNotDescribed);
    pendingListFolder_ = nullptr;
  }
}

void TtidewellOpmlProcessor::AddUnique(TStrings& list, const std::string& text) {
  if (addedTexts_.insert(text).second) list.push_back(text);
}

TListFeedMatch TtidewellOpmlProcessor::StoredFeed(const std::string& url) {
  if (!feedUrlsLoaded_) LoadFeedUrls();
  return storedFeeds_.Find(url);
}

// The stored feed of the address; one to store or to bring back is claimed
// first. An address that another job files now is waited for, after what
// this job filed so far is committed (so that no two jobs wait for each
// other); then its row is found.
TListFeedMatch TtidewellOpmlProcessor::StoredFeedOrClaim(const std::string& url) {
  TFeedAddressClaims& claims = c_.owner->AddressClaims();
  const std::string key = FeedAddressKey(url);
  for (;;) {
    const TListFeedMatch stored = StoredFeed(url);
    if (stored.verdict == TListFeedVerdict::kLive || stored.verdict == TListFeedVerdict::kKeptDeleted) return stored;
    if (claims.TryClaim(key, c_.transaction)) {
      if (claims.Generation() == loadedGeneration_) return stored;
      // Others committed feeds since the table was read.
      LoadFeedUrls();
      return StoredFeed(url);
    }
    CommitStep();
    claims.WaitUntilFree(key, [this] { return Stopping(); });
    if (Stopping()) throw kt::EAbort("");
    LoadFeedUrls();
  }
}

int32_t TtidewellOpmlProcessor::FileFeed(int32_t subscriptionId, const std::string& url, const std::string& title,
                                         TDynIntArray& found) {
  const TListFeedMatch stored = StoredFeedOrClaim(url);
  if (stored.verdict == TListFeedVerdict::kNone) {
    // Stored as AddFeed stores it, so that its first pass already finds
    // the credentials in their columns and none in its link.
    const TFeedAddress address = FeedAddressForStorage(url);
    const int32_t feedId =
        c_.dbHelper->InsertFeed(c_.query, "RSS", "", address.link, Wide(title), subscriptionId, u"", 0);
    if (address.withCredentials)
      StoreFeedCredentials(*c_.query, feedId, address.link, address.userName, address.password);
    storedFeeds_.AddLive(feedId, url);
    return feedId;
  }
  if (stored.verdict == TListFeedVerdict::kReturning) {
    BringBackFeed(*c_.query, stored.feedId, subscriptionId);
    storedFeeds_.AddLive(stored.feedId, url);
  }
  TakeListedCredentials(stored.feedId, url);
  found.push_back(stored.feedId);
  return stored.feedId;
}

const std::string* TtidewellOpmlProcessor::ListAddress(int32_t subscriptionId, int32_t feedId) {
  if (!listAddressesLoaded_) {
    listAddresses_ = LoadListAddresses(*c_.query, subscriptionId);
    listAddressesLoaded_ = true;
  }
  const auto named = listAddresses_.find(feedId);
  return named == listAddresses_.end() ? nullptr : &named->second;
}

void TtidewellOpmlProcessor::KeepListAddress(int32_t subscriptionId, int32_t feedId, const std::string& url) {
  const std::string address = UrlWithoutCredentials(url);
  const std::string* named = ListAddress(subscriptionId, feedId);
  if (named != nullptr && *named == address) return;
  RememberListAddress(*c_.query, subscriptionId, feedId, address, named != nullptr);
  listAddresses_[feedId] = address;
}

void TtidewellOpmlProcessor::TakeListedCredentials(int32_t feedId, const std::string& url) {
  const TFeedAddress address = FeedAddressForStorage(url);
  if (!address.withCredentials) return;
  StoreFeedCredentialsIfNone(*c_.query, feedId, address.link, address.userName, address.password);
}

TDynIntArray TtidewellOpmlProcessor::FeedIdsOf(TFilter* filter) {
  TDynIntArray ids;
  folders_->FilterWorkShop->GetFeedIDs(filter, ids);
  return ids;
}

void TtidewellOpmlProcessor::LoadFeedUrls() {
  if (c_.owner != nullptr) loadedGeneration_ = c_.owner->AddressClaims().Generation();
  LoadStoredFeedIndex(*c_.query, storedFeeds_);
  feedUrlsLoaded_ = true;
}

bool TtidewellOpmlProcessor::IsMapped(int32_t subscriptionId, int32_t feedId) {
  if (!mappingLoaded_) {
    TQueryWrapper* q = c_.query;
    model::SetSqlLines(q, {"select boundwithfeed from feeds2opmlmapping where opmlid=" + std::to_string(subscriptionId)});
    ExecQueryTimed(q, true);
    for (; !q->Eof(); q->Next()) mappedFeeds_.insert(q->Fields(0).AsInteger());
    SafeCloseQuery(q);
    mappingLoaded_ = true;
  }
  return mappedFeeds_.count(feedId) != 0;
}

}  // namespace tidewell
