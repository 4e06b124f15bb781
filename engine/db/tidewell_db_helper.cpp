// SPDX-License-Identifier: MIT
#include "engine/db/tidewell_db_helper.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <initializer_list>
#include <string_view>

#include "engine/db/database.h"
#include "engine/db/firebird_client.h"

#include "engine/settings/tidewell_globvars.h"
#include "engine/tidewell_date.h"
#include "engine/tidewell_msg.h"
#include "platform/system.h"
#include "toolkit/kt_utils.h"
#include "toolkit/wide_string.h"

namespace tidewell {

namespace {

constexpr int32_t kNoId = -1;
constexpr int kLinkAttempts = 10;
constexpr int kDefinitionAttempts = 10;
constexpr int kRetryPauseMs = 50;
constexpr int kConflictPollMs = 10;
constexpr int32_t kKeywordWidth = 512;
constexpr int32_t kKeywordCacheWidth = 3000;
// Large enough that the workers' new rows land in index pages of their own
// instead of all taking turns at the last page of the id index: with five
// writers a block of 100 took twice the time of one writer. A block costs
// at most its ids once per attachment.
constexpr int32_t kIdBlock = 5000;
// Rows stored by one statement, which takes them as lists in texts: the
// pairs of article and keyword as numbers, at most 12 characters each, and
// links up to the characters a text parameter holds.
constexpr size_t kKeywordsPerBlock = 500;
constexpr size_t kLinksPerBlock = 500;
constexpr size_t kLinkListCharacters = 8000;
constexpr size_t kMaxIdBlocks = 128;
constexpr TDateTime kTwoMinutes = 2.0 / (24 * 60);
constexpr std::string_view kCategoryTag = "cmdinscategory:";

// Stored date-times are UTC: the local now shifted by the bias in force.
TDateTime SystemUtcNow() { return LocalTimeToUTC(Now()); }

kt::WideString LowerW(std::u16string_view text) {
  kt::WideString lower(text);
  for (auto& c : lower) c = kt::CharFoldW(c);
  return lower;
}

std::string LowerUtf8(const std::string& text) { return kt::WideToUtf8(LowerW(kt::Utf8ToWide(text))); }

// The first `characters` characters (code points) of a UTF-8 text, as
// "substring(? from 1 for N)" counts them.
std::string FirstCharacters(const std::string& utf8, int32_t characters) {
  int32_t seen = 0;
  for (size_t i = 0; i < utf8.size(); ++i) {
    if ((static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80) continue;
    if (seen == characters) return utf8.substr(0, i);
    ++seen;
  }
  return utf8;
}

// The first `characters` code points of a 16-bit text.
kt::WideString FirstCharactersW(kt::WideString text, int32_t characters) {
  int32_t seen = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] >= 0xDC00 && text[i] <= 0xDFFF && i > 0 && text[i - 1] >= 0xD800 && text[i - 1] <= 0xDBFF) continue;
    if (seen == characters) {
      text.resize(i);
      break;
    }
    ++seen;
  }
  return text;
}

std::string WithClause(const std::string& line) {
  std::string clause;
  ClearSqlClause(clause);
  return line + clause;
}

void SetSql(TQueryWrapper* query, std::initializer_list<std::string> lines) {
  query->Close();
  query->SQL.Clear();
  for (const auto& line : lines) query->SQL.Add(line);
}

// The integer of the first row's field, or -1 without a row.
int32_t FirstRowInteger(TQueryWrapper* query, std::string_view field) {
  const int32_t value = query->Eof() ? kNoId : query->FieldByName(field).AsInteger();
  query->Close();
  return value;
}

int32_t SelectInteger(TQueryWrapper* query, std::string_view field) {
  ExecQueryTimed(query, true);
  return FirstRowInteger(query, field);
}

// The id an "insert ... returning" statement gave its row.
int32_t InsertReturningId(TQueryWrapper* query, std::string_view field) {
  ExecQueryTimed(query, false);
  return FirstRowInteger(query, field);
}

// The characters (code points) of a 16-bit text, as the engine counts them
// in UTF-8: a surrogate pair is one, an unpaired surrogate (stored as
// U+FFFD) one.
size_t CodePoints(std::u16string_view text) {
  size_t count = 0;
  for (size_t i = 0; i < text.size(); ++i)
    if (!(text[i] >= 0xDC00 && text[i] <= 0xDFFF && i > 0 && text[i - 1] >= 0xD800 && text[i - 1] <= 0xDBFF)) ++count;
  return count;
}

// Takes the next number off a list "n,n,...," into the block's variable.
std::string TakeNumber(const std::string& list, const std::string& variable) {
  return "    p = position(',' in " + list + ");\n    " + variable + " = cast(left(" + list + ", p - 1) as integer);\n    " +
         list + " = substring(" + list + " from p + 1);\n";
}

// Leaves the caller's statement closed, however the operation ends.
class ClosedOnExit {
 public:
  explicit ClosedOnExit(TQueryWrapper* query) : query_(query) {}
  ~ClosedOnExit() { SafeCloseQuery(query_); }
  ClosedOnExit(const ClosedOnExit&) = delete;
  ClosedOnExit& operator=(const ClosedOnExit&) = delete;

 private:
  TQueryWrapper* query_;
};

// The statement's transaction for one step: started here when it is not
// running, and then ours to commit, or to roll back when the step fails. A
// running transaction belongs to the caller and is left alone, so a failure
// costs the caller nothing but the failed statement.
class StepTransaction {
 public:
  explicit StepTransaction(TQueryWrapper* query) : transaction_(query->GetTransaction()) {
    if (transaction_ == nullptr) throw kt::Exception("The statement has no transaction");
    owned_ = !transaction_->InTransaction();
    if (owned_) transaction_->StartTransaction();
  }
  ~StepTransaction() {
    if (!owned_ || !transaction_->InTransaction()) return;
    try {
      transaction_->Rollback();
    } catch (const std::exception&) {
      // Rollback ends the transaction even when the engine complains.
    }
  }
  StepTransaction(const StepTransaction&) = delete;
  StepTransaction& operator=(const StepTransaction&) = delete;

  void Commit() {
    if (!owned_) return;
    transaction_->Commit();
    owned_ = false;
  }

 private:
  db::Transaction* transaction_;
  bool owned_ = false;
};

// Whether the engine refused a row because another transaction stored or
// holds the same key: once that one ends, the key can be read (or, after its
// rollback, stored).
bool IsKeyConflict(const kt::Exception& failure) {
  const auto* error = dynamic_cast<const db::EFirebirdError*>(&failure);
  if (error == nullptr) return false;
  switch (error->GdsCode()) {
    case isc_unique_key_violation:
    case isc_no_dup:
    case isc_lock_conflict:
    case isc_deadlock:
    case isc_update_conflict:
      return true;
    default:
      return false;
  }
}

// The id that find gives; when none, insert in a step of its own. A key
// held by another, still open transaction is waited for (up to the lock
// time-out) and then read; the caller's transaction may hold rows of its
// own meanwhile, so nothing is locked while waiting. Any other failed attempt
// is followed by a pause; after the last one a final look-up picks up a row
// that a concurrent writer stored meanwhile. -1 when all failed.
template <typename Find, typename Insert>
int32_t FindOrInsert(TQueryWrapper* query, int attempts, Find find, Insert insert) {
  const auto waitEnds =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(TtidewellDbHelper::kLockTimeoutMs);
  int failed = 0;
  for (;;) {
    try {
      const int32_t id = find();
      if (id != kNoId || failed >= attempts) return id;
      StepTransaction step(query);
      const int32_t newId = insert();
      step.Commit();
      return newId;
    } catch (const kt::EAbort&) {
      throw;
    } catch (const kt::Exception& failure) {
      SafeCloseQuery(query);
      if (IsKeyConflict(failure) && std::chrono::steady_clock::now() < waitEnds) {
        platform::SleepMs(kConflictPollMs);
        continue;
      }
      if (++failed <= attempts) platform::SleepMs(kRetryPauseMs);
    }
  }
}

bool SkipCustomFields() { return GlobalVars == nullptr || GlobalVars->GetSkipCustomFields(); }
bool SkipCategoryKeywords() { return GlobalVars != nullptr && GlobalVars->GetSkipCategoryKeywords(); }

// The pieces of a category text in order of first appearance.
std::vector<kt::WideString> SplitCategories(const std::u16string& value, const std::u16string& separators) {
  std::vector<kt::WideString> keywords;
  if (separators.empty()) {
    if (!value.empty()) keywords.push_back(value);
    return keywords;
  }
  size_t start = 0;
  while (start <= value.size()) {
    size_t end = value.find_first_of(separators, start);
    if (end == std::u16string::npos) end = value.size();
    kt::WideString piece = kt::TrimW(std::u16string_view(value).substr(start, end - start));
    if (!piece.empty() && std::find(keywords.begin(), keywords.end(), piece) == keywords.end())
      keywords.push_back(std::move(piece));
    start = end + 1;
  }
  return keywords;
}

}  // namespace

TtidewellDbHelper::TtidewellDbHelper(TUtcClock utcNow) : utc_now_(utcNow ? std::move(utcNow) : SystemUtcNow) {}

void TtidewellDbHelper::TestStopFlag() const {
  if (StopFlag()) throw kt::EAbort();
}

// --- Inserts ---------------------------------------------------------------

int32_t TtidewellDbHelper::InsertFeed(TQueryWrapper* query, const std::string& type, const std::string& language,
                                      const std::string& link, const std::u16string& title, int32_t parentFeed,
                                      const std::u16string& OPMLdescr, int32_t priority) {
  ClosedOnExit closed(query);
  SetSql(query, {"insert into feeds(type_,language_,feedCreated,link,title,next_feedupdate,last_feedupdate,"
                 "parentFeed,OPMLdescr,priority)",
                 "values(?,?,?,?,substring(? from 1 for 512),?,?,?,substring(? from 1 for 3000),?)",
                 "returning feed_id"});
  const TDateTime now = UtcNow();
  // A feed without a link gets a moment to receive one before it is due.
  const TDateTime nextUpdate = link.empty() ? now + kTwoMinutes : now;
  query->Params(0).SetString(type);
  query->Params(1).SetString(language);
  query->Params(2).SetDateTime(now);
  query->Params(3).SetString(link);
  query->Params(4).SetWideString(title);
  query->Params(5).SetDateTime(nextUpdate);
  query->Params(6).SetDateTime(nextUpdate);
  query->Params(7).SetInteger(parentFeed);
  query->Params(8).SetWideString(OPMLdescr);
  query->Params(9).SetInteger(priority);
  return InsertReturningId(query, "FEED_ID");
}

int32_t TtidewellDbHelper::InsertArticle(TQueryWrapper* query, int32_t feedId) {
  TestStopFlag();
  ClosedOnExit closed(query);
  SetSql(query, {"insert into Articles(feed_id,created) values(?,?)", "returning id"});
  query->Params(0).SetInteger(feedId);
  query->Params(1).SetDateTime(UtcNow());
  return InsertReturningId(query, "ID");
}

int32_t TtidewellDbHelper::ReserveArticleId(TQueryWrapper* query) { return ReserveId(query, "Articles_id_gen"); }

int32_t TtidewellDbHelper::ReserveId(TQueryWrapper* query, const std::string& generator) {
  TestStopFlag();
  const db::Database* database = query->GetDatabase();
  const TIdBlockKey key{database != nullptr ? database->AttachmentSerial() : 0, generator};
  std::lock_guard lock(idBlocksLock_);
  // Blocks of attachments that ended are never asked for again.
  if (idBlocks_.size() > kMaxIdBlocks && idBlocks_.count(key) == 0) idBlocks_.clear();
  auto& [next, last] = idBlocks_[key];
  if (next == 0 || next > last) {
    ClosedOnExit closed(query);
    SetSql(query, {"select gen_id(" + generator + "," + std::to_string(kIdBlock) + ") as last_id from rdb$database"});
    last = SelectInteger(query, "LAST_ID");
    if (last == kNoId) throw kt::Exception("No id could be reserved from " + generator);
    next = last - kIdBlock + 1;
  }
  return next++;
}

int32_t TtidewellDbHelper::InsertCustomFieldDefinition(TQueryWrapper* query, const std::string& tag) {
  TestStopFlag();
  ClosedOnExit closed(query);
  SetSql(query, {"insert into Customfield_definitions(customfield_tag)", "values(?)", "returning customfield_id"});
  query->Params(0).SetString(LowerUtf8(tag));
  return InsertReturningId(query, "CUSTOMFIELD_ID");
}

int32_t TtidewellDbHelper::InsertCustomFieldAttribute(TQueryWrapper* query, const std::string& name) {
  TestStopFlag();
  ClosedOnExit closed(query);
  SetSql(query, {"insert into CustomField_Attributes(attr_name)", "values(?)", "returning id"});
  query->Params(0).SetString(LowerUtf8(name));
  return InsertReturningId(query, "ID");
}

int32_t TtidewellDbHelper::InsertFeedCustomField(TQueryWrapper* query, int32_t feedId, const std::u16string& value,
                                                 int32_t fieldId) {
  try {
    return InsertCustomFieldValue(query, false, feedId, value, fieldId);
  } catch (const kt::EAbort&) {
    throw;
  } catch (const kt::Exception&) {
    return kNoId;
  }
}

int32_t TtidewellDbHelper::InsertArticleCustomField(TQueryWrapper* query, int32_t articleId,
                                                    const std::u16string& value, int32_t fieldId) {
  return InsertCustomFieldValue(query, true, articleId, value, fieldId);
}

int32_t TtidewellDbHelper::InsertCustomFieldValue(TQueryWrapper* query, bool forArticle, int32_t ownerId,
                                                  const std::u16string& value, int32_t fieldId) {
  TestStopFlag();
  std::lock_guard lock(lock_);
  ClosedOnExit closed(query);
  StepTransaction step(query);
  if (forArticle)
    SetSql(query, {"select count(article_id) as cnt", WithClause("from articles_customfields "), "where article_id=?",
                   "  and customfield_id=?", "  and value_||''=substring(? from 1 for 1000)"});
  else
    SetSql(query, {"select count(feed_id) as cnt", WithClause("from Feeds_customfields "), "where feed_id=? ",
                   "  and customfield_id=?", "  and value_||''=substring(? from 1 for 1000)"});
  query->Params(0).SetInteger(ownerId);
  query->Params(1).SetInteger(fieldId);
  query->Params(2).SetWideString(value);
  if (SelectInteger(query, "CNT") >= 1) {
    step.Commit();
    return kNoId;
  }
  SetSql(query, {forArticle ? "insert into articles_customfields(article_id,customfield_id,value_)"
                            : "insert into Feeds_customfields(feed_id,customfield_id,value_)",
                 "values(?,?,substring(? from 1 for 1000))", "returning id"});
  query->Params(0).SetInteger(ownerId);
  query->Params(1).SetInteger(fieldId);
  query->Params(2).SetWideString(value);
  const int32_t id = InsertReturningId(query, "ID");
  step.Commit();
  return id;
}

int32_t TtidewellDbHelper::InsertLink(TQueryWrapper* query, const std::u16string& link, int32_t articleId) {
  TestStopFlag();
  ClosedOnExit closed(query);
  const auto waitEnds = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLockTimeoutMs);
  for (int failed = 0; failed < kLinkAttempts;) {
    TestStopFlag();
    try {
      // Found or stored, and attached, in one round trip: most links of a
      // document are new.
      SetSql(query, {"execute block (link varchar(1000) character set utf8 = ?, article_id integer = ?)",
                     "returns (link_id integer) as",
                     "begin",
                     "  select link_id from links where link=:link into :link_id;",
                     "  if (link_id is null) then insert into links(link) values(:link) returning link_id into :link_id;",
                     "  if (article_id > 0) then insert into articles_links(article_id,link_id) values(:article_id,:link_id);",
                     "  suspend;",
                     "end"});
      query->Params(0).SetWideString(link);
      query->Params(1).SetInteger(articleId);
      return SelectInteger(query, "LINK_ID");
    } catch (const kt::Exception& failure) {
      SafeCloseQuery(query);
      // Another open transaction stored the link: its id can be read once
      // that one commits.
      if (IsKeyConflict(failure) && std::chrono::steady_clock::now() < waitEnds) {
        platform::SleepMs(kConflictPollMs);
        continue;
      }
      ++failed;
      platform::SleepMs(kRetryPauseMs);
    }
  }
  return kNoId;
}

int32_t TtidewellDbHelper::InsertKeyword(TQueryWrapper* query, int32_t parentId, const std::u16string& value,
                                         bool isUserDefined) {
  TestStopFlag();
  ClosedOnExit closed(query);
  SetSql(query, {"insert into keywords(parentKeyword_id,value_,isuserdefined)",
                 "values(?,substring(? from 1 for 512),?)", "returning id"});
  query->Params(0).SetInteger(parentId);
  query->Params(1).SetWideString(LowerW(value));
  query->Params(2).SetBoolean(isUserDefined);
  return InsertReturningId(query, "ID");
}

void TtidewellDbHelper::InsertFeedNameSpace(TQueryWrapper* query, int32_t feedId, const std::string& identifier,
                                            const std::u16string& value) {
  TestStopFlag();
  ClosedOnExit closed(query);
  SetSql(query, {"insert into Feed_NameSpaces(feed_id,nameSpaceIdf,nameSpaceVal)", "values(?,?,?)"});
  query->Params(0).SetInteger(feedId);
  query->Params(1).SetString(identifier);
  query->Params(2).SetWideString(value);
  ExecQueryTimed(query, false);
}

int32_t TtidewellDbHelper::InsertFolder(TQueryWrapper* query, int32_t parentFolder, int32_t weight,
                                        const std::u16string& name, int32_t userId) {
  TestStopFlag();
  if (name.empty()) RaiseMessage(kFailedToSaveFolder);
  ClosedOnExit closed(query);
  SetSql(query, {"insert into folders(parentfolder,weight,foldername,userid)",
                 "values(?,?,substring(? from 1 for 512),?)", "returning id"});
  query->Params(0).SetInteger(parentFolder);
  query->Params(1).SetInteger(weight);
  query->Params(2).SetWideString(name);
  query->Params(3).SetInteger(userId);
  return InsertReturningId(query, "ID");
}

int32_t TtidewellDbHelper::InsertFileCache(TQueryWrapper* query, int32_t articleId, int32_t linkId,
                                           const std::string& hostDir, const std::string& fileName,
                                           TDateTime lastModified, const std::string& eTag, int32_t httpCode,
                                           const std::string& cookie, int32_t size, const std::string& contentType,
                                           const std::string& userName, const std::string& password, int32_t userId) {
  TestStopFlag();
  ClosedOnExit closed(query);
  SetSql(query, {"insert into FileCache(articleid,linkid,hostdir,filename,webpagelastmod,etag,"
                 "lasthttpcode,cookie,size_,contenttype,username_,password_,userid)",
                 "values(?,?,substring(? from 1 for 255),substring(? from 1 for 512),?,substring(? from 1 for 80),?,"
                 "substring(? from 1 for 512),?,substring(? from 1 for 255),?,?,?)",
                 "returning id"});
  query->Params(0).SetInteger(articleId);
  query->Params(1).SetInteger(linkId);
  query->Params(2).SetString(hostDir);
  query->Params(3).SetString(fileName);
  if (lastModified == 0)
    query->Params(4).SetNull();
  else
    query->Params(4).SetDateTime(lastModified);
  query->Params(5).SetString(eTag);
  query->Params(6).SetInteger(httpCode);
  query->Params(7).SetString(cookie);
  query->Params(8).SetInteger(size);
  query->Params(9).SetString(contentType);
  query->Params(10).SetString(userName);
  query->Params(11).SetString(password);
  query->Params(12).SetInteger(userId);
  return InsertReturningId(query, "ID");
}

// --- Look-ups ----------------------------------------------------------------

int32_t TtidewellDbHelper::FindCustomFieldId(TQueryWrapper* query, const std::string& tag) {
  ClosedOnExit closed(query);
  StepTransaction step(query);
  SetSql(query, {"select customfield_id from Customfield_definitions where customfield_tag=?"});
  query->Params(0).SetString(LowerUtf8(tag));
  const int32_t id = SelectInteger(query, "CUSTOMFIELD_ID");
  step.Commit();
  return id;
}

int32_t TtidewellDbHelper::FindCustomFieldAttributeId(TQueryWrapper* query, const std::string& name) {
  ClosedOnExit closed(query);
  StepTransaction step(query);
  SetSql(query, {"select id from CustomField_Attributes  where attr_name=?"});
  query->Params(0).SetString(LowerUtf8(name));
  const int32_t id = SelectInteger(query, "ID");
  step.Commit();
  return id;
}

int32_t TtidewellDbHelper::FindLinkId(TQueryWrapper* query, const std::u16string& link) {
  ClosedOnExit closed(query);
  SetSql(query, {"select link_id", WithClause("from links "), "where link=?"});
  query->Params(0).SetWideString(link);
  return SelectInteger(query, "LINK_ID");
}

int32_t TtidewellDbHelper::FindKeywordId(TQueryWrapper* query, const std::u16string& value) {
  ClosedOnExit closed(query);
  StepTransaction step(query);
  SetSql(query, {"select id from keywords where value_  collate UTF8 =?"});
  // InsertKeyword keeps only this much: a longer keyword is found by it.
  query->Params(0).SetString(FirstCharacters(kt::WideToUtf8(LowerW(value)), kKeywordWidth));
  const int32_t id = SelectInteger(query, "ID");
  step.Commit();
  return id;
}

// --- Composite operations ----------------------------------------------------------

void TtidewellDbHelper::SaveFeedCustomFields(TQueryWrapper* query, int32_t feedId, const TNewCustomTagsClass& tags,
                                             bool skip) {
  TestStopFlag();
  if (SkipCustomFields() || skip) return;
  for (const auto& tag : tags.List) {
    TestStopFlag();
    const int32_t definitionId = DefinitionId(query, LowerUtf8(tag->Name), kDefinitionAttempts);
    if (definitionId == kNoId) continue;
    const int32_t valueId = InsertFeedCustomField(query, feedId, tag->Value, definitionId);
    if (valueId > 0) SaveAttributes(query, false, valueId, tag->Children());
  }
}

void TtidewellDbHelper::SaveArticleCustomFields(TQueryWrapper* query,
                                                const std::vector<const TNewCustomTagsClass*>& items,
                                                const std::u16string& separators, const std::set<int32_t>& newArticles) {
  TestStopFlag();
  try {
    const TKeywordIds keywordIds = CreateCategoryKeywords(query, items, separators);
    AttachNewArticleKeywords(query, items, separators, newArticles, keywordIds);
  } catch (const kt::EAbort&) {
    return;
  }
  for (const TNewCustomTagsClass* tags : items) {
    TestStopFlag();
    if (tags == nullptr) continue;
    for (const auto& tag : tags->List) {
      if (!tag->Store) continue;
      if (newArticles.count(tag->OwnerId) != 0 && LowerUtf8(tag->Name) == kCategoryTag) continue;
      try {
        SaveArticleTag(query, *tag, separators);
      } catch (const kt::EAbort&) {
        return;  // shutting down: what is stored so far stays the caller's to keep
      }
    }
  }
}

std::u16string TtidewellDbHelper::NewArticleKeywordCache(const TNewCustomTagsClass& tags, int32_t articleId,
                                                         const std::u16string& separators) {
  if (SkipCategoryKeywords()) return {};
  std::vector<kt::WideString> stored;
  kt::WideString cache;
  for (const auto& tag : tags.List) {
    if (tag->OwnerId != articleId || LowerUtf8(tag->Name) != kCategoryTag) continue;
    for (const auto& keyword : SplitCategories(tag->Value, separators)) {
      kt::WideString value = FirstCharactersW(LowerW(keyword), kKeywordWidth);
      if (std::find(stored.begin(), stored.end(), value) != stored.end()) continue;
      if (!cache.empty()) cache += u", ";
      cache += value;
      stored.push_back(std::move(value));
    }
  }
  return FirstCharactersW(std::move(cache), kKeywordCacheWidth);
}

// The new articles' cache holds their keywords already: the trigger that
// appends each attached keyword to it is told to leave it alone meanwhile.
void TtidewellDbHelper::AttachNewArticleKeywords(TQueryWrapper* query,
                                                 const std::vector<const TNewCustomTagsClass*>& items,
                                                 const std::u16string& separators,
                                                 const std::set<int32_t>& newArticles, const TKeywordIds& keywordIds) {
  if (newArticles.empty() || SkipCategoryKeywords()) return;
  std::set<std::pair<int32_t, int32_t>> attached;
  std::vector<std::pair<int32_t, int32_t>> pairs;
  ClosedOnExit closed(query);
  SetKeywordCacheWritten(query, true);
  try {
    for (const TNewCustomTagsClass* tags : items) {
      if (tags == nullptr) continue;
      for (const auto& tag : tags->List) {
        if (!tag->Store || newArticles.count(tag->OwnerId) == 0 || LowerUtf8(tag->Name) != kCategoryTag) continue;
        for (const auto& keyword : SplitCategories(tag->Value, separators)) {
          const auto found = keywordIds.find(LowerW(keyword));
          if (found == keywordIds.end() || found->second == kNoId) continue;
          if (attached.emplace(tag->OwnerId, found->second).second) pairs.emplace_back(tag->OwnerId, found->second);
        }
      }
    }
    for (size_t first = 0; first < pairs.size(); first += kKeywordsPerBlock) {
      const size_t count = std::min(kKeywordsPerBlock, pairs.size() - first);
      if (count > 1 && AttachKeywordBlock(query, pairs, first, count)) continue;
      for (size_t i = first; i < first + count; ++i) InsertArticleKeywordRow(query, pairs[i].first, pairs[i].second);
    }
  } catch (...) {
    try {
      SetKeywordCacheWritten(query, false);
    } catch (const std::exception&) {
      // The setting ends with the transaction anyway.
    }
    throw;
  }
  SetKeywordCacheWritten(query, false);
}

void TtidewellDbHelper::InsertArticleKeywordRow(TQueryWrapper* query, int32_t articleId, int32_t keywordId) {
  SetSql(query, {"insert into Article_KeyWords(article_id,keyword_id)", "values(?,?)"});
  query->Params(0).SetInteger(articleId);
  query->Params(1).SetInteger(keywordId);
  ExecQueryTimed(query, false);
}

// Pairs first to first + count - 1 in one statement (through a server, one
// round trip). False when it failed: it undid itself, and the caller stores
// the pairs one by one, so that a failure reads as it always has.
bool TtidewellDbHelper::AttachKeywordBlock(TQueryWrapper* query, const std::vector<std::pair<int32_t, int32_t>>& pairs,
                                           size_t first, size_t count) {
  static const std::string block =
      "execute block (articles varchar(8000) character set none = ?, keywords varchar(8000) character set none = ?)\n"
      "as declare p integer; declare a integer; declare k integer;\n"
      "begin\n"
      "  while (articles <> '') do\n"
      "  begin\n" +
      TakeNumber("articles", "a") + TakeNumber("keywords", "k") +
      "    insert into Article_KeyWords(article_id,keyword_id) values(:a,:k);\n"
      "  end\n"
      "end";
  std::string articles, keywords;
  for (size_t i = first; i < first + count; ++i) {
    articles += std::to_string(pairs[i].first) + ',';
    keywords += std::to_string(pairs[i].second) + ',';
  }
  return StoredTogether(query, block, [&] {
    query->Params(0).SetString(articles);
    query->Params(1).SetString(keywords);
  });
}

void TtidewellDbHelper::AttachNewArticleLinks(TQueryWrapper* query, const TNewArticleLinks& links) {
  for (size_t first = 0; first < links.size();) {
    TestStopFlag();
    size_t count = 0, characters = 0;
    for (size_t i = first; i < links.size(); ++i, ++count) {
      const size_t length = CodePoints(links[i].second);
      characters += length;
      if (characters > kLinkListCharacters || count == kLinksPerBlock) break;
    }
    count = std::max<size_t>(count, 1);
    if (count == 1 || !AttachLinkBlock(query, links, first, count))
      for (size_t i = first; i < first + count; ++i) InsertLink(query, links[i].second, links[i].first);
    first += count;
  }
}

// Links first to first + count - 1 found or stored and attached in one
// statement, as InsertLink does each: the links go as one text, their
// lengths in characters and their articles as lists of numbers. False when
// it failed (another writer storing one of the links, say): the caller
// stores them one by one, with their waits and retries.
bool TtidewellDbHelper::AttachLinkBlock(TQueryWrapper* query, const TNewArticleLinks& links, size_t first,
                                        size_t count) {
  static const std::string block =
      "execute block (link_list varchar(8191) character set utf8 = ?, lengths varchar(8000) character set none = ?,\n"
      "  articles varchar(8000) character set none = ?)\n"
      "as declare p integer; declare a integer; declare n integer; declare at_ integer = 1; declare link_id integer;\n"
      "declare link varchar(1000) character set utf8;\n"
      "begin\n"
      "  while (articles <> '') do\n"
      "  begin\n" +
      TakeNumber("articles", "a") + TakeNumber("lengths", "n") +
      "    link = substring(link_list from at_ for n);\n"
      "    at_ = at_ + n;\n"
      "    link_id = null;\n"
      "    select link_id from links where link=:link into :link_id;\n"
      "    if (link_id is null) then insert into links(link) values(:link) returning link_id into :link_id;\n"
      "    insert into articles_links(article_id,link_id) values(:a,:link_id);\n"
      "  end\n"
      "end";
  std::u16string list;
  std::string lengths, articles;
  for (size_t i = first; i < first + count; ++i) {
    list += links[i].second;
    lengths += std::to_string(CodePoints(links[i].second)) + ',';
    articles += std::to_string(links[i].first) + ',';
  }
  ClosedOnExit closed(query);
  return StoredTogether(query, block, [&] {
    query->Params(0).SetWideString(list);
    query->Params(1).SetString(lengths);
    query->Params(2).SetString(articles);
  });
}

void TtidewellDbHelper::SetKeywordCacheWritten(TQueryWrapper* query, bool written) {
  SetSql(query, {written ? "select rdb$set_context('USER_TRANSACTION','KEYWORDCACHE_WRITTEN','1') from rdb$database"
                         : "select rdb$set_context('USER_TRANSACTION','KEYWORDCACHE_WRITTEN',null) from rdb$database"});
  ExecQueryTimed(query, true);
  query->Close();
}

// Every writer creates the keywords of a document in one order (by their
// stored, lower-cased value) before attaching any: a writer that waits for a
// keyword another one holds never holds one that the other still needs.
TtidewellDbHelper::TKeywordIds TtidewellDbHelper::CreateCategoryKeywords(
    TQueryWrapper* query, const std::vector<const TNewCustomTagsClass*>& items, const std::u16string& separators) {
  TKeywordIds ids;
  if (SkipCategoryKeywords()) return ids;
  for (const TNewCustomTagsClass* tags : items) {
    if (tags == nullptr) continue;
    for (const auto& tag : tags->List)
      if (tag->Store && LowerUtf8(tag->Name) == kCategoryTag)
        for (auto& keyword : SplitCategories(tag->Value, separators)) ids.emplace(LowerW(keyword), kNoId);
  }
  FindKeywordIds(query, ids);
  for (auto& [keyword, id] : ids) {
    if (id != kNoId) continue;
    TestStopFlag();
    id = KeywordId(query, keyword, false);
  }
  return ids;
}

// The stored ones of a document's keywords, each as FindKeywordId finds it,
// many to a statement (through a server, one round trip): a text of them
// all and a list of their lengths in characters. Those not found, and all
// of a statement that fails, are left to KeywordId.
void TtidewellDbHelper::FindKeywordIds(TQueryWrapper* query, TKeywordIds& ids) {
  static const std::string block =
      "execute block (keyword_list varchar(8191) character set utf8 = ?, lengths varchar(8000) character set none = "
      "?)\n"
      "returns (keyword_id integer)\n"
      "as declare p integer; declare n integer; declare at_ integer = 1; declare keyword type of column "
      "keywords.value_;\n"
      "begin\n"
      "  while (lengths <> '') do\n"
      "  begin\n" +
      TakeNumber("lengths", "n") +
      "    keyword = substring(keyword_list from at_ for n);\n"
      "    at_ = at_ + n;\n"
      "    keyword_id = null;\n"
      "    select first 1 id from keywords where value_  collate UTF8 = :keyword into :keyword_id;\n"
      "    suspend;\n"
      "  end\n"
      "end";
  for (auto first = ids.begin(); first != ids.end();) {
    std::u16string list;
    std::string lengths;
    std::vector<int32_t*> found;
    size_t characters = 0;
    for (; first != ids.end() && found.size() < kKeywordsPerBlock; ++first) {
      const kt::WideString value = FirstCharactersW(first->first, kKeywordWidth);
      characters += CodePoints(value);
      if (!found.empty() && characters > kLinkListCharacters) break;
      list += value;
      lengths += std::to_string(CodePoints(value)) + ',';
      found.push_back(&first->second);
    }
    ReadKeywordIds(query, block, list, lengths, found);
  }
}

void TtidewellDbHelper::ReadKeywordIds(TQueryWrapper* query, const std::string& block, const std::u16string& list,
                                       const std::string& lengths, const std::vector<int32_t*>& ids) {
  ClosedOnExit closed(query);
  try {
    StepTransaction step(query);
    SetSql(query, {block});
    query->Params(0).SetWideString(list);
    query->Params(1).SetString(lengths);
    ExecQueryTimed(query, true);
    for (int32_t* id : ids) {
      if (query->Eof()) break;
      db::Field& row = query->Fields(0);
      if (!row.IsNull() && row.AsInteger() > 0) *id = row.AsInteger();
      query->Next();
    }
    query->Close();
    step.Commit();
  } catch (const kt::EAbort&) {
    throw;
  } catch (const std::exception&) {
    // KeywordId looks each up again, with its retries.
  }
}

void TtidewellDbHelper::SaveArticleTag(TQueryWrapper* query, const TNewCustomTagBaseProperty& tag,
                                       const std::u16string& separators) {
  const std::string name = LowerUtf8(tag.Name);
  if (name == kCategoryTag) {
    if (!SkipCategoryKeywords()) AddArticleCategories(query, tag.OwnerId, tag.Value, separators);
    return;
  }
  if (SkipCustomFields()) return;
  const int32_t definitionId = DefinitionId(query, name, 1);
  if (definitionId == kNoId) return;
  const int32_t valueId = InsertArticleCustomField(query, tag.OwnerId, tag.Value, definitionId);
  if (valueId > 0) SaveAttributes(query, true, valueId, tag.Children());
}

int32_t TtidewellDbHelper::DefinitionId(TQueryWrapper* query, const std::string& tag, int attempts) {
  return FindOrInsert(
      query, attempts, [&] { return FindCustomFieldId(query, tag); },
      [&] { return InsertCustomFieldDefinition(query, tag); });
}

int32_t TtidewellDbHelper::AttributeId(TQueryWrapper* query, const std::string& name) {
  return FindOrInsert(
      query, 1, [&] { return FindCustomFieldAttributeId(query, name); },
      [&] { return InsertCustomFieldAttribute(query, name); });
}

void TtidewellDbHelper::SaveAttributes(TQueryWrapper* query, bool forArticle, int32_t valueId,
                                       const TNewCustomTagsClass& attributes) {
  for (const auto& attribute : attributes.List) {
    const int32_t attributeId = AttributeId(query, LowerUtf8(attribute->Name));
    if (attributeId == kNoId) continue;
    ClosedOnExit closed(query);
    StepTransaction step(query);
    if (forArticle)
      SetSql(query, {"insert into Articles_customfields_attr(", "articles_customfield_id,attrb_id,attr_value)",
                     "values(?,?,?)"});
    else
      SetSql(query, {"insert into Feeds_customfields_attr(", "feed_customfield_id,attrb_id,attr_value)",
                     "values(?,?,?)"});
    query->Params(0).SetInteger(valueId);
    query->Params(1).SetInteger(attributeId);
    query->Params(2).SetWideString(attribute->Value);
    ExecQueryTimed(query, false);
    SafeUnprepareQuery(query);
    step.Commit();
  }
}

void TtidewellDbHelper::AddArticleCategories(TQueryWrapper* query, int32_t articleId, const std::u16string& value,
                                             const std::u16string& separators) {
  for (const auto& keyword : SplitCategories(value, separators)) AddArticleKeyword(query, articleId, keyword, false);
}

int32_t TtidewellDbHelper::AddArticleKeyword(TQueryWrapper* query, int32_t articleId, const std::u16string& keyword,
                                             bool isUserDefined) {
  TestStopFlag();
  const int32_t keywordId = KeywordId(query, keyword, isUserDefined);
  // Without a keyword there is nothing to attach.
  if (keywordId == kNoId) return kNoId;
  AttachKeyword(query, articleId, keywordId);
  return keywordId;
}

int32_t TtidewellDbHelper::KeywordId(TQueryWrapper* query, const std::u16string& keyword, bool isUserDefined) {
  return FindOrInsert(
      query, 1, [&] { return FindKeywordId(query, keyword); },
      [&] { return InsertKeyword(query, 0, keyword, isUserDefined); });
}

void TtidewellDbHelper::AttachKeyword(TQueryWrapper* query, int32_t articleId, int32_t keywordId) {
  ClosedOnExit closed(query);
  StepTransaction step(query);
  SetSql(query, {"select count(article_id) as cnt", WithClause("from  Article_keyWords "),
                 "where article_id=? and keyword_id=?"});
  query->Params(0).SetInteger(articleId);
  query->Params(1).SetInteger(keywordId);
  if (SelectInteger(query, "CNT") == 0) {
    SetSql(query, {"insert into Article_KeyWords(article_id,keyword_id)", "values(?,?)"});
    query->Params(0).SetInteger(articleId);
    query->Params(1).SetInteger(keywordId);
    ExecQueryTimed(query, false);
  }
  step.Commit();
}

}  // namespace tidewell
