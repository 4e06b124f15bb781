// SPDX-License-Identifier: MIT
#include "engine/model/tidewell_filters.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>

#include "engine/db/update_conflict.h"
#include "engine/tidewell_date.h"
#include "engine/tidewell_msg.h"
#include "engine/tidewell_utilities.h"
#include "toolkit/exception.h"

namespace tidewell {
namespace {

// Firebird refuses IN lists of more than this many values.
constexpr size_t kInListLimit = 1500;
constexpr const char* kCollate = " collate UTF8 ";
constexpr const char* kLinkSeparator = "%==-";

enum : uint8_t {
  kOpContainer = 0,
  kOpOr = 1,
  kOpAnd = 2,
  kOpEqual = 3,
  kOpLessOrEqual = 8,
  kOpContains = 9,
  kOpNotContains = 10,
  kOpStartsWith = 11,
  kOpEndsWith = 12,
  kOpInList = 13,
  kOpNotInList = 14,
  kOpOpen = 15,
};

enum : uint8_t { kTypeText = 1, kTypeInteger = 2, kTypeDateTime = 3, kTypeBlobText = 4 };

// Held by SaveFilter and DeleteFilter; SaveFilter calls DeleteFilter.
std::recursive_mutex& FiltersLock() {
  static std::recursive_mutex lock;
  return lock;
}

[[noreturn]] void RaiseAssertion(const std::string& text, int line) {
  throw kt::Exception(text + " (tidewell_Filters.pas, line " + std::to_string(line) + ")");
}

bool IsLogical(const TFilter* node) { return node->OperType == kOpOr || node->OperType == kOpAnd; }
bool IsComparison(uint8_t operType) { return operType >= kOpEqual; }

std::string LowerAscii(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$'; }

// "table.column", both plain names: nothing else may stand where the field
// goes into the SQL text of a comparison.
bool IsColumnReference(const std::string& field) {
  const size_t dot = field.find('.');
  if (dot == 0 || dot == std::string::npos || dot + 1 == field.size()) return false;
  for (size_t i = 0; i < field.size(); ++i)
    if (i != dot && !IsNameChar(field[i])) return false;
  return true;
}

std::string TrimBlanks(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::optional<int64_t> ParseInteger(const std::string& text) {
  std::string digits = TrimBlanks(text);
  if (!digits.empty() && digits[0] == '+') digits.erase(0, 1);
  int64_t value = 0;
  const char* end = digits.data() + digits.size();
  const auto [at, error] = std::from_chars(digits.data(), end, value);
  if (digits.empty() || error != std::errc() || at != end) return std::nullopt;
  return value;
}

// An integer value of a filter; anything else is a badly defined filter.
int64_t IntegerValue(const WideString& value) {
  const std::optional<int64_t> number = ParseInteger(kt::WideToUtf8(value));
  if (!number) RaiseMessage(kFilterBadlyDefined);
  return *number;
}

int32_t FeedIdValue(const WideString& value) {
  const int64_t number = IntegerValue(value);
  if (number < INT32_MIN || number > INT32_MAX) RaiseMessage(kFilterBadlyDefined);
  return static_cast<int32_t>(number);
}

// ---- Dates ------------------------------------------------------------------

// Stored date-times are UTC: the local now shifted by the bias in force.
TDateTime UtcNow() { return LocalTimeToUTC(Now()); }

// Reads 1 to maxDigits digits at `at`.
bool ReadDigits(const std::string& text, size_t& at, size_t maxDigits, int& value) {
  size_t count = 0;
  value = 0;
  while (at < text.size() && count < maxDigits && std::isdigit(static_cast<unsigned char>(text[at]))) {
    value = value * 10 + (text[at++] - '0');
    ++count;
  }
  return count > 0;
}

bool ReadSeparated(const std::string& text, size_t& at, char separator, size_t maxDigits, int& value) {
  if (at >= text.size() || text[at] != separator) return false;
  ++at;
  return ReadDigits(text, at, maxDigits, value);
}

// A date-time text as the system writes it: "yyyy-mm-dd[ hh:nn[:ss]]" (or
// "T" between date and time).
std::optional<TDateTime> ParseDateTimeText(const std::string& text) {
  size_t at = 0;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!ReadDigits(text, at, 4, year) || at != 4 || !ReadSeparated(text, at, '-', 2, month) ||
      !ReadSeparated(text, at, '-', 2, day))
    return std::nullopt;
  if (at < text.size()) {
    if (text[at] != ' ' && text[at] != 'T') return std::nullopt;
    ++at;
    if (!ReadDigits(text, at, 2, hour) || !ReadSeparated(text, at, ':', 2, minute)) return std::nullopt;
    if (at < text.size() && !ReadSeparated(text, at, ':', 2, second)) return std::nullopt;
    if (at != text.size()) return std::nullopt;
  }
  try {
    return EncodeDateTime(year, month, day, hour, minute, second);
  } catch (const ETWInvalidDate&) {
    return std::nullopt;
  }
}

// "+n" / "-n": UTC now plus n minutes; anything else a date-time text.
TDateTime DateValue(const WideString& value) {
  const std::string text = TrimBlanks(kt::WideToUtf8(value));
  if (text.empty()) RaiseMessage(kDatetimeEmpty);
  std::optional<TDateTime> date;
  if (text[0] == '+' || text[0] == '-') {
    const std::optional<int64_t> minutes = ParseInteger(text);
    if (minutes) date = UtcNow() + static_cast<double>(*minutes) / 1440.0;
  } else {
    date = ParseDateTimeText(text);
  }
  if (!date) throw kt::Exception("'" + text + "' is not a valid date and time");
  return *date;
}

// ---- Texts ------------------------------------------------------------------

WideChar UpperChar(WideChar c) {
  if (c >= u'a' && c <= u'z') return static_cast<WideChar>(c - 32);
  if (c < 0x80) return c;
  if ((c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) ||
      (c >= 0x430 && c <= 0x44F))
    return static_cast<WideChar>(c - 32);
  if (c == 0xFF) return 0x178;
  if (c == 0x3C2) return 0x3A3;
  if (c >= 0x450 && c <= 0x45F) return static_cast<WideChar>(c - 80);
  const bool pairedOddLower = (c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
  const bool pairedEvenLower = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
  if (pairedOddLower && (c & 1)) return static_cast<WideChar>(c - 1);
  if (pairedEvenLower && !(c & 1)) return static_cast<WideChar>(c - 1);
  return c;
}

WideString UpperCaseW(WideString text) {
  for (WideChar& c : text) c = UpperChar(c);
  return text;
}

// The LIKE pattern of an ends-with comparison: wildcards of the value match
// only themselves.
WideString EndsWithPattern(const WideString& value) {
  WideString pattern = u"%";
  for (WideChar c : UpperCaseW(value)) {
    if (c == u'\\' || c == u'%' || c == u'_') pattern += u'\\';
    pattern += c;
  }
  return pattern;
}

// The first occurrence of `what` (ASCII, any case) replaced.
std::string ReplaceFirstNoCase(const std::string& text, const std::string& what, const std::string& with) {
  const std::string lower = LowerAscii(text);
  const size_t at = lower.find(what);
  if (at == std::string::npos) return text;
  return text.substr(0, at) + with + text.substr(at + what.size());
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) text += (i ? "\n" : "") + lines[i];
  return text;
}

// ---- The condition of a tree --------------------------------------------------

class TWhereBuilder {
 public:
  TWhereBuilder(TQueryWrapper* query, bool bind, int32_t& paramIndex, bool keywordsJoined, int32_t& aliasCounter,
                TFilterTableUse& tables)
      : query_(query),
        bind_(bind && query != nullptr),
        param_index_(paramIndex),
        keywords_joined_(keywordsJoined),
        alias_counter_(aliasCounter),
        tables_(tables) {}

  std::string NodeText(const TFilter* node, bool skipOperator) {
    if (node == nullptr) return "";
    if (node->OperType > kOpOpen) RaiseMessage(kFilterBadlyDefined);
    const bool hasChildren = node->Conditions->Count() > 0;
    std::string text;
    if (IsLogical(node)) {
      if (!hasChildren) return "";  // an operator joining nothing would break the statement
      if (!skipOperator) text = node->OperType == kOpOr ? " OR " : " AND ";
    } else if (IsComparison(node->OperType) && !node->GetField().empty()) {
      text = ComparisonText(*node);
    }
    return text + ChildrenText(*node);
  }

 private:
  std::string ChildrenText(const TFilter& node) {
    std::string inner;
    for (int32_t i = 0; i < node.Conditions->Count(); ++i) {
      const TFilter* child = node.Conditions->GetItem(i);
      const bool skip = i == 0 && node.OperType < kOpEqual && IsLogical(child);
      inner += NodeText(child, skip);
    }
    return inner.empty() ? "" : "(" + inner + ")";
  }

  static void CheckDefinition(const TFilter& node, const std::string& field) {
    const uint8_t op = node.OperType;
    const uint8_t type = node.GetDataType();
    if (field.find('.') == std::string::npos) RaiseMessage(kFilterBadlyDefined);
    if (op != kOpOpen && !IsColumnReference(field)) RaiseMessage(kFilterBadlyDefined);
    if (type < kTypeText || type > kTypeBlobText) RaiseMessage(kFilterBadlyDefined);
    if (op != kOpOpen && node.GetValueCount() > 1 && op != kOpInList && op != kOpNotInList)
      RaiseMessage(kFilterInvalidItemCount);
    if (type == kTypeBlobText && (op == kOpInList || op == kOpNotInList)) RaiseMessage(kInvalidBlobOperator);
    // A blob search yields a position: plain comparisons of it have no meaning.
    if (type == kTypeBlobText && op >= kOpEqual && op <= kOpLessOrEqual) RaiseMessage(kInvalidBlobOperator);
    // Text searches exist for texts only.
    if ((type == kTypeInteger || type == kTypeDateTime) && op >= kOpContains && op <= kOpEndsWith)
      RaiseMessage(kFilterBadlyDefined);
  }

  void NoteTable(const std::string& table) {
    if (table == "feeds") tables_.feeds = true;
    if (table == "webpages") tables_.webpages = true;
    if (table == "enclosures") tables_.enclosures = true;
    if (table == "imaplettermapping") tables_.imapLetterMapping = true;
  }

  static std::string FieldExpression(const TFilter& node, const std::string& field) {
    if (node.GetDataType() == kTypeBlobText)
      return (node.OperType == kOpEndsWith ? "F_UTF8BLOBENDSWITH(?," : "F_UTF8BLOBSEARCH(?,") + field + ")";
    if (node.GetDataType() == kTypeText && node.OperType == kOpEndsWith)
      return "upper(" + field + kCollate + ")";
    return field;
  }

  std::string ComparisonText(const TFilter& node) {
    const std::string field = kt::WideToUtf8(node.GetField());
    const uint8_t op = node.OperType;
    if (op != kOpOpen && node.GetValueCount() == 0) return "";
    CheckDefinition(node, field);
    const std::string table = LowerAscii(field.substr(0, field.find('.')));
    NoteTable(table);
    std::string expression = FieldExpression(node, field);
    std::string head, tail;
    if (table == "keywords") {
      const std::string alias = std::to_string(++alias_counter_);
      head = KeywordExistsHead(alias);
      expression = ReplaceFirstNoCase(expression, "keywords", "k" + alias);
      tail = ")";
    }
    const std::string comparison = (op == kOpInList || op == kOpNotInList)
                                       ? InListText(node, expression)
                                       : expression + OperatorText(op, node.GetDataType());
    if (bind_) BindValues(node);
    return head + comparison + tail;
  }

  // A keyword comparison looks for one keyword of the article: through the
  // keyword row the select already joins, or through its own link rows.
  std::string KeywordExistsHead(const std::string& n) const {
    const std::string head = "exists(select k" + n + ".id from keywords k" + n + " ";
    if (keywords_joined_) return head + " where " + "(k" + n + ".id=article_keywords.keyword_id) and ";
    return head + ",article_keywords l" + n + " " + " where " + "(l" + n + ".article_id=articles.id) and (l" + n +
           ".keyword_id=k" + n + ".id) and ";
  }

  static std::string OperatorText(uint8_t op, uint8_t type) {
    const bool blob = type == kTypeBlobText;
    const std::string c = type == kTypeText || blob ? kCollate : "";
    switch (op) {
      case 3: return c + " =? ";
      case 4: return c + " !=? ";
      case 5: return c + " >?";
      case 6: return c + " >=? ";
      case 7: return c + " <?";
      case 8: return c + " <=? ";
      case kOpContains: return blob ? ">=1" : c + " CONTAINING ?";
      case kOpNotContains: return blob ? "<1" : c + " NOT CONTAINING ? ";
      case kOpStartsWith: return blob ? "=1" : c + " STARTING ?";
      case kOpEndsWith: return blob ? ">0" : " LIKE ? ESCAPE '\\'";
      default: return "";
    }
  }

  // " IN (...)" or " NOT IN (...)"; longer lists are split into several
  // lists joined by OR (IN) or AND (NOT IN).
  static std::string InListText(const TFilter& node, const std::string& expression) {
    const bool in = node.OperType == kOpInList;
    std::vector<std::string> items;
    for (const auto& value : node.Values)
      items.push_back(node.GetDataType() == kTypeInteger ? std::to_string(IntegerValue(value->Value)) : "?");
    std::vector<std::string> lists;
    for (size_t start = 0; start < items.size(); start += kInListLimit) {
      std::string list;
      for (size_t i = start; i < std::min(items.size(), start + kInListLimit); ++i)
        list += (i > start ? "," : "") + items[i];
      lists.push_back(expression + (in ? " IN " : " NOT IN ") + "(" + list + ")");
    }
    if (lists.size() == 1) return lists[0];
    std::string text;
    for (size_t i = 0; i < lists.size(); ++i) text += (i ? (in ? " OR " : " AND ") : "") + lists[i];
    return "(" + text + ")";
  }

  db::Param& NextParam() { return query_->Params(param_index_++); }

  void BindValues(const TFilter& node) {
    const uint8_t op = node.OperType;
    if (op == kOpOpen) {
      // The blob search carries a placeholder of its own: keep later ones in step.
      if (node.GetDataType() == kTypeBlobText) {
        db::Param& param = NextParam();
        if (node.GetValueCount() > 0) param.SetWideString(node.Values[0]->Value);
        else param.SetNull();
      }
      return;
    }
    if ((op == kOpInList || op == kOpNotInList) && node.GetDataType() == kTypeInteger) return;
    for (const auto& value : node.Values) BindValue(node, value->Value);
  }

  void BindValue(const TFilter& node, const WideString& value) {
    switch (node.GetDataType()) {
      case kTypeText:
        NextParam().SetWideString(node.OperType == kOpEndsWith ? EndsWithPattern(value) : value);
        break;
      case kTypeInteger: NextParam().SetInt64(IntegerValue(value)); break;
      case kTypeDateTime: NextParam().SetDateTime(DateValue(value)); break;
      default: NextParam().SetWideString(value); break;
    }
  }

  TQueryWrapper* query_;
  bool bind_;
  int32_t& param_index_;
  bool keywords_joined_;
  int32_t& alias_counter_;
  TFilterTableUse& tables_;
};

// ---- The article select -------------------------------------------------------

bool WantsColumn(uint16_t mask, int bit) { return mask == 0 || (mask & (1u << bit)) != 0; }

void AddArticleColumns(std::vector<std::string>& lines, uint16_t mask, uint8_t sortMode, bool feedColumns) {
  if (sortMode == 5) lines.push_back("keywords.value_ as keyword,");
  lines.push_back("articles.feed_Id as feedId,articles.id as artID,");
  static const char* const kBefore[] = {"articles.guid as artGuid,", "articles.created as artCreated,",
                                        "articles.modified as artModified,"};
  static const char* const kAfter[] = {"articles.summary as artSummary,", "articles.creator as artCreator,",
                                       "articles.link as artLink,",       "articles.readstatus as artRState,",
                                       "articles.flag as artFlag,",       "articles.rating as artRating,",
                                       "articles.articleMD5,",            "articles.body as artBody,",
                                       "articles.keywordCache as artkwCache,"};
  for (int bit = 0; bit < 3; ++bit)
    if (WantsColumn(mask, bit)) lines.push_back(kBefore[bit]);
  if (WantsColumn(mask, 3)) {
    lines.insert(lines.end(), {"case when articles.title='' then", "     substring(articles.body from 1 for 512)||'...'",
                               "else", "     articles.title", "end as artTitle,"});
  }
  for (int bit = 4; bit <= 12; ++bit)
    if (WantsColumn(mask, bit)) lines.push_back(kAfter[bit - 4]);
  lines.insert(lines.end(),
               {" (select count(*)", "  from enclosures ", "  where enclosures.article_id=articles.id) as encnt"});
  if (feedColumns) {
    lines.insert(lines.end(),
                 {",feeds.feed_Id,feeds.title,feeds.link,feeds.homepage,feeds.favIcon,",
                  "feeds.image,feeds.feedmodified,feeds.eTag,feeds.feedMD5,feeds.page_lastmodified,",
                  "feeds.httpGetTime,feeds.update_interval,feeds.username_,feeds.password_,feeds.archivesize,",
                  "feeds.feedrating,feeds.keywordSeparator,feeds.lastHTTPCode,feeds.rtlEnabled,feeds.OPMLdescr,"
                  "feeds.type_,feeds.priority"});
  }
}

void AddJoins(std::vector<std::string>& lines, const TFilterTableUse& tables, bool feedColumns, uint8_t sortMode,
              bool ordered) {
  lines.push_back("FROM articles ");
  if (tables.feeds || feedColumns) {
    // "+0" keeps the optimiser from walking the feed index instead of the order.
    const std::string articleFeed = ordered ? "articles.feed_id+0" : "articles.feed_id";
    lines.push_back(std::string("inner join feeds ") + " on ");
    lines.push_back("(feeds.feed_id=" + articleFeed +
                    ") and (feeds.link not like 'DELMARKED:%') and feeds.type_ not in ('OPML','OSRCROOT')");
  }
  if (tables.webpages) lines.insert(lines.end(), {"inner join webpages  on ", "(webpages.article_id=articles.id)"});
  if (tables.enclosures)
    lines.insert(lines.end(), {"inner join enclosures on", "(enclosures.article_id=articles.id)"});
  if (sortMode == 5) {
    lines.insert(lines.end(), {"left join article_keywords  on", "(article_keywords.article_id=articles.id)",
                               "left join keywords  on", "(keywords.id=article_keywords.keyword_id)"});
  }
}

// ---- Statements -----------------------------------------------------------------

void ResetStatement(TQueryWrapper* query) {
  query->Close();
  query->SQL.Clear();
}

void RunStatement(TQueryWrapper* query, const std::string& sql) {
  ResetStatement(query);
  query->SQL.Add(sql);
  ExecQueryTimed(query, false);
}

// A transaction of the caller, or an own pooled one, started.
class TUsedTransaction {
 public:
  TUsedTransaction(TTranWrapper* given, TDbConnWrapper* database) : used_(given) {
    if (used_ != nullptr) return;
    own_ = NewTransaction(true);
    try {
      own_->SetDatabase(database);
      own_->StartTransaction();
    } catch (...) {
      ReleaseTransaction(own_);
      throw;
    }
    used_ = own_;
  }
  ~TUsedTransaction() { ReleaseTransaction(own_); }
  TUsedTransaction(const TUsedTransaction&) = delete;
  TUsedTransaction& operator=(const TUsedTransaction&) = delete;

  TTranWrapper* Get() const { return used_; }
  void CommitOwn() {
    if (own_ != nullptr) own_->Commit();
  }
  void RollBackOwn() { RollBack(own_); }
  void RollBackUsed() { RollBack(used_); }

 private:
  static void RollBack(TTranWrapper* transaction) {
    if (transaction == nullptr || !transaction->InTransaction()) return;
    try {
      transaction->Rollback();
    } catch (...) {
      // The failure that brought us here is the one to report.
    }
  }

  TTranWrapper* used_;
  TTranWrapper* own_ = nullptr;
};

// A pooled statement, given back on every path.
class TPooledQuery {
 public:
  TPooledQuery() : query_(NewQuery(true)) {}
  ~TPooledQuery() {
    SafeCloseQuery(query_);
    ReleaseQuery(query_);
  }
  TPooledQuery(const TPooledQuery&) = delete;
  TPooledQuery& operator=(const TPooledQuery&) = delete;
  TQueryWrapper* Get() const { return query_; }

 private:
  TQueryWrapper* query_;
};

void CopyNodeFields(const TFilter& source, TFilter& copy, bool keepId) {
  copy.SetField(source.GetField());
  copy.SetDataType(source.GetDataType());
  copy.SetWeight(source.GetWeight());
  copy.OperType = source.OperType;
  if (keepId) copy.Id = source.Id;
  for (const auto& value : source.Values) copy.AddValue(value->Value);
}

// The ids of a tree's nodes, to put back when a save is rolled back: ids
// of rows that the rollback took away would keep the restored rows from
// being replaced by the next save.
class TTreeIds {
 public:
  explicit TTreeIds(TFilter* root) { Collect(root); }
  void Restore() const {
    for (const auto& [node, id] : ids_) node->Id = id;
  }

 private:
  void Collect(TFilter* node) {
    ids_.emplace_back(node, node->Id);
    for (TFilter* child : node->Conditions->Items) Collect(child);
  }
  std::vector<std::pair<TFilter*, int32_t>> ids_;
};

bool SelectsOneFeed(const TFilter* node) {
  if ((node->OperType != kOpEqual && node->OperType != kOpInList) || node->GetValueCount() != 1) return false;
  const std::string field = LowerAscii(kt::WideToUtf8(node->GetField()));
  return field == "articles.feed_id" || field == "feeds.feed_id";
}

void PutLink(TFilterLinkList& list, TFilter* filter, const std::string& link, bool firstOfFilter) {
  for (TFilterLinkEntry& entry : list) {
    if (entry.filter != filter) continue;
    entry.text = firstOfFilter ? link : entry.text + link;
    return;
  }
  list.push_back({link, filter});
}

}  // namespace

// ---- TFilterConditions --------------------------------------------------------

TFilterConditions::~TFilterConditions() { Clear(); }

int32_t TFilterConditions::Add(TFilter* node) {
  const auto found = std::find(Items.begin(), Items.end(), node);
  if (found != Items.end()) return static_cast<int32_t>(found - Items.begin());
  Items.push_back(node);
  return Count() - 1;
}

TFilter* TFilterConditions::GetItem(int32_t index) const {
  if (index < 0 || index >= Count()) RaiseMessage(kInvalidItemIndex);
  return Items[static_cast<size_t>(index)];
}

void TFilterConditions::Clear() {
  std::vector<TFilter*> items;
  items.swap(Items);
  if (OwnsObjects)
    for (TFilter* node : items) delete node;
}

// ---- TFilter --------------------------------------------------------------------

TFilter::TFilter(TFilterWorkShop* workShop, bool ownsChildren, bool autoSave)
    : OwnsChildren(ownsChildren),
      AutoSave(autoSave),
      WorkShop(workShop),
      Conditions(std::make_unique<TFilterConditions>(ownsChildren)) {}

TFilter::~TFilter() = default;

bool TFilter::WritesThrough() const { return AutoSave && WorkShop != nullptr && Id > 0; }

void TFilter::SetField(const WideString& value) {
  if (WritesThrough() && !value.empty()) WorkShop->UpdateNodeField(this, value);
  field_ = value;
}

void TFilter::SetDataType(uint8_t value) {
  if (WritesThrough()) WorkShop->UpdateNodeDataType(this, value);
  data_type_ = value;
}

void TFilter::SetWeight(int16_t value) {
  if (WritesThrough()) WorkShop->UpdateNodeWeight(this, value);
  weight_ = value;
}

int32_t TFilter::AddValue(const WideString& value) {
  Values.push_back(std::make_unique<TFilterData>(value));
  return GetValueCount() - 1;
}

TFilterData* TFilter::GetValue(int32_t index) const {
  if (index < 0 || index >= GetValueCount()) RaiseMessage(kInvalidItemIndex);
  return Values[static_cast<size_t>(index)].get();
}

// ---- TFilterWorkShop: own statement ---------------------------------------------

TFilterWorkShop::TFilterWorkShop(TDbConnWrapper* database)
    : Database(database), Transaction(NewTransaction(true)), Query(NewQuery(true)) {
  Transaction->SetDatabase(database);
  Query->SetTransaction(Transaction);
}

TFilterWorkShop::~TFilterWorkShop() {
  SafeCloseQuery(Query);
  ReleaseQuery(Query);
  ReleaseTransaction(Transaction);
}

void TFilterWorkShop::UpdateNodeColumn(TFilter* node, const char* setLine,
                                       const std::function<void(db::Param&)>& bindValue) {
  std::lock_guard<std::mutex> lock(own_statement_mutex_);
  try {
    Transaction->StartTransaction();
    Query->SetTransaction(Transaction);
    ResetStatement(Query);
    for (const char* line : {"update sqlFilters", setLine, "where id=?", " and userid=?"}) Query->SQL.Add(line);
    bindValue(Query->Params(0));
    Query->Params(1).SetInteger(node->Id);
    Query->Params(2).SetInteger(UserId);
    ExecQueryTimed(Query, false);
    Transaction->Commit();
  } catch (...) {
    if (Transaction->InTransaction()) Transaction->Rollback();
    throw;
  }
}

void TFilterWorkShop::UpdateNodeField(TFilter* node, const WideString& value) {
  UpdateNodeColumn(node, "set field=substring(? from 1 for 512)", [&](db::Param& p) { p.SetWideString(value); });
}

void TFilterWorkShop::UpdateNodeDataType(TFilter* node, uint8_t value) {
  UpdateNodeColumn(node, "set datatype=?", [&](db::Param& p) { p.SetInteger(value); });
}

void TFilterWorkShop::UpdateNodeWeight(TFilter* node, int16_t value) {
  UpdateNodeColumn(node, "set weight=?", [&](db::Param& p) { p.SetInteger(value); });
}

// ---- TFilterWorkShop: saving and deleting --------------------------------------

void TFilterWorkShop::SaveFilter(TFilter* root, TTranWrapper* transaction) {
  // In a transaction of its own the save is done again after an update
  // conflict; the caller's transaction is the caller's to repeat.
  if (transaction != nullptr) return SaveFilterOnce(root, transaction);
  RetryOnUpdateConflict([&] { SaveFilterOnce(root, nullptr); });
}

void TFilterWorkShop::SaveFilterOnce(TFilter* root, TTranWrapper* transaction) {
  std::lock_guard<std::recursive_mutex> lock(FiltersLock());
  if (root == nullptr) RaiseMessage(kFilterNotAssigned);
  if (root->Parent != nullptr) RaiseAssertion("You can only save rootnode !", 1208);
  const TTreeIds idsBefore(root);
  TPooledQuery query;
  TUsedTransaction used(transaction, Database);
  try {
    query.Get()->SetTransaction(used.Get());
    if (root->OperType != kOpContainer) RaiseMessage(kFilterBadlyDefined);
    if (root->GetField().empty()) root->SetField(u"noname");
    DeleteFilter(root, true, used.Get());
    if (root->Id > 0)
      UpdateRootRow(query.Get(), root);
    else
      InsertNode(query.Get(), root, 0);
    SaveNodeTree(query.Get(), root, root, root->Id);
    used.CommitOwn();
  } catch (...) {
    SafeCloseQuery(query.Get());
    used.RollBackUsed();
    idsBefore.Restore();
    throw;
  }
}

void TFilterWorkShop::UpdateRootRow(TQueryWrapper* query, TFilter* root) {
  ResetStatement(query);
  query->SQL.Add("update SQLFilters");
  query->SQL.Add("set field=substring(? from 1 for 512),operType=?,datatype=?,folderid=?,weight=?");
  query->SQL.Add("where id=?");
  query->SQL.Add(" and userid=?");
  query->Params(0).SetWideString(root->GetField());
  query->Params(1).SetInteger(root->OperType);
  query->Params(2).SetInteger(root->GetDataType());
  query->Params(3).SetInteger(root->FolderId);
  query->Params(4).SetInteger(root->GetWeight());
  query->Params(5).SetInteger(root->Id);
  query->Params(6).SetInteger(UserId);
  ExecQueryTimed(query, false);
  if (query->RowsAffected() != 1) RaiseAssertion("Rootnode update failed !", 1275);
}

void TFilterWorkShop::InsertNode(TQueryWrapper* query, TFilter* node, int32_t parentId) {
  ResetStatement(query);
  query->SQL.Add("insert into SQLFilters(parent_node,field,operType,datatype,folderid,weight,userid)");
  query->SQL.Add("values(?,substring(? from 1 for 512),?,?,?,?,?)");
  // The id comes back with the row: the generator's current value may
  // already count another connection's insert.
  query->SQL.Add("returning id");
  query->Params(0).SetInteger(parentId);
  query->Params(1).SetWideString(node->GetField());
  query->Params(2).SetInteger(node->OperType);
  query->Params(3).SetInteger(node->GetDataType());
  query->Params(4).SetInteger(node->FolderId);
  query->Params(5).SetInteger(node->GetWeight());
  query->Params(6).SetInteger(UserId);
  ExecQueryTimed(query, false);
  node->Id = query->FieldByName("ID").AsInteger();
  if (!IsComparison(node->OperType)) return;
  ResetStatement(query);
  query->SQL.Add("insert into SQLFilterValues(node_id,value_,userid)");
  query->SQL.Add("values(?,?,?)");
  for (const auto& value : node->Values) {
    query->Params(0).SetInteger(node->Id);
    query->Params(1).SetWideString(value->Value);
    query->Params(2).SetInteger(UserId);
    ExecQueryTimed(query, false);
  }
}

void TFilterWorkShop::SaveNodeTree(TQueryWrapper* query, TFilter* node, TFilter* root, int32_t parentId) {
  if (node->OperType > kOpOpen || (IsComparison(node->OperType) && node->GetField().empty()) ||
      (node == root && node->Id < 1))
    RaiseMessage(kFilterBadlyDefined);
  int32_t childParentId = parentId;
  // Containers are not stored: their children hang on the container's parent.
  if (node != root && node->OperType != kOpContainer) {
    InsertNode(query, node, parentId);
    childParentId = node->Id;
  }
  for (TFilter* child : node->Conditions->Items) SaveNodeTree(query, child, root, childParentId);
}

void TFilterWorkShop::DeleteFilter(TFilter* node, bool keepRootRow, TTranWrapper* transaction) {
  std::lock_guard<std::recursive_mutex> lock(FiltersLock());
  if (node == nullptr) RaiseMessage(kFilterNotAssigned);
  TPooledQuery query;
  TUsedTransaction used(transaction, Database);
  try {
    query.Get()->SetTransaction(used.Get());
    DeleteNode(query.Get(), node, keepRootRow && node->Parent == nullptr);
    used.CommitOwn();
  } catch (...) {
    SafeCloseQuery(query.Get());
    used.RollBackOwn();
    throw;
  }
}

void TFilterWorkShop::DeleteNode(TQueryWrapper* query, TFilter* node, bool spareThisRow) {
  for (TFilter* child : node->Conditions->Items) DeleteNode(query, child, false);
  if (spareThisRow || node->Id <= 0) return;
  RunStatement(query, FormatText("delete from SQLFilterValues where node_id=%d and userid=%d", node->Id, UserId));
  RunStatement(query, FormatText("delete from sqlfilters where id=%d and userid=%d", node->Id, UserId));
  RunStatement(query,
               FormatText("delete from Variables where type_='filter' and itemId=%d and userid=%d", node->Id, UserId));
}

// ---- TFilterWorkShop: compiling ---------------------------------------------------

void TFilterWorkShop::BuildWhereClause(TFilter* node, std::string& text, bool skipOperator, TQueryWrapper* query,
                                       bool bind, int32_t& paramIndex, bool keywordsJoined, int32_t& aliasCounter,
                                       TFilterTableUse& tables) {
  TWhereBuilder builder(query, bind, paramIndex, keywordsJoined, aliasCounter, tables);
  text = builder.NodeText(node, skipOperator);
}

void TFilterWorkShop::BuildArticleSQL(TFilter* root, std::string& sql, TDateTime createdSince, uint16_t columnMask,
                                      uint8_t sortMode, int32_t skip, int32_t rowCount, bool feedColumns,
                                      bool countOnly, const std::string& extraCondition,
                                      const std::string& orderText) {
  sql.clear();
  std::string condition;
  int32_t paramIndex = 0;
  int32_t aliasCounter = 0;
  TFilterTableUse tables;
  BuildWhereClause(root, condition, false, nullptr, false, paramIndex, sortMode == 5, aliasCounter, tables);
  if (condition.empty()) return;
  std::vector<std::string> lines{"SELECT " + SqlPagingPrefix(rowCount, skip)};
  if (countOnly)
    lines.push_back("count(articles.id) as cnt");
  else
    AddArticleColumns(lines, columnMask, sortMode, feedColumns);
  AddJoins(lines, tables, feedColumns, sortMode, !orderText.empty());
  lines.push_back("WHERE");
  if (createdSince > 0) lines.push_back("(articles.created>=?) and ");
  lines.insert(lines.end(), {"(", condition, ")"});
  if (!extraCondition.empty()) lines.push_back(extraCondition);
  lines.push_back("AND articles.deleted=0");
  if (!countOnly) lines.push_back(orderText.empty() ? "order by articles.created desc" : "order by " + orderText);
  sql = JoinLines(lines);
}

bool TFilterWorkShop::PrepareArticleQuery(TQueryWrapper* query, TFilter* root, TDateTime createdSince,
                                          uint16_t columnMask, uint8_t sortMode, bool feedColumns, int32_t skip,
                                          int32_t rowCount, const std::string& orderText) {
  std::string sql;
  BuildArticleSQL(root, sql, createdSince, columnMask, sortMode, skip, rowCount, feedColumns, false, "", orderText);
  sql = TrimBlanks(sql);
  if (sql.empty()) return false;
  query->SQL.Add(sql);
  query->Prepare();
  int32_t paramIndex = 0;
  if (createdSince > 0) query->Params(paramIndex++).SetDateTime(createdSince);
  std::string condition;
  int32_t aliasCounter = 0;
  TFilterTableUse tables;
  BuildWhereClause(root, condition, false, query, true, paramIndex, sortMode == 5, aliasCounter, tables);
  return true;
}

// ---- TFilterWorkShop: feeds -----------------------------------------------------

// One comparison selecting one feed: its id, true when above 0 (the array
// then holds just that id). Otherwise every such comparison among the
// root's children adds its id, and the ids count only when an AND node
// stands among them (the array keeps its unused -1 entries).
bool TFilterWorkShop::GetFeedIDs(TFilter* root, TDynIntArray& ids) {
  ids.assign(10, -1);
  if (root == nullptr) {
    ids.clear();
    return false;
  }
  const TFilterConditions& children = *root->Conditions;
  if (children.Count() == 1 && SelectsOneFeed(children.Items[0])) {
    ids[0] = FeedIdValue(children.Items[0]->Values[0]->Value);
    const auto firstBelowOne = std::find_if(ids.begin(), ids.end(), [](int32_t id) { return id < 1; });
    ids.erase(firstBelowOne, ids.end());
    return !ids.empty();
  }
  size_t used = 0;
  bool hasAnd = false;
  for (const TFilter* child : children.Items) {
    if (child->OperType == kOpAnd) hasAnd = true;
    if (!SelectsOneFeed(child)) continue;
    if (used == ids.size()) ids.resize(ids.size() + 11, -1);
    ids[used++] = FeedIdValue(child->Values[0]->Value);
  }
  const bool result = hasAnd && ids[0] > 0;
  if (!result) ids.clear();
  return result;
}

void TFilterWorkShop::MapFeedLinks(const std::vector<TFilter*>& filters, TFilterLinkList& list) {
  TPooledQuery query;
  TUsedTransaction used(nullptr, Database);
  try {
    query.Get()->SetTransaction(used.Get());
    query.Get()->SQL.Add("select link from feeds where feed_id=?");
    for (TFilter* filter : filters) {
      TDynIntArray ids;
      if (filter == nullptr || !GetFeedIDs(filter, ids)) continue;
      bool first = true;
      for (int32_t id : ids) {
        if (id < 1) continue;
        query.Get()->Params(0).SetInteger(id);
        ExecQueryTimed(query.Get(), true);
        for (; !query.Get()->Eof(); query.Get()->Next()) {
          PutLink(list, filter, query.Get()->FieldByName("LINK").AsString() + kLinkSeparator, first);
          first = false;
        }
        query.Get()->Close();
      }
    }
    used.CommitOwn();
  } catch (...) {
    SafeCloseQuery(query.Get());
    used.RollBackOwn();
    throw;
  }
}

// ---- TFilterWorkShop: copies -------------------------------------------------------

TFilter* TFilterWorkShop::CloneFilter(TFilter* source, TFilter* target, bool keepIds) {
  if (source == nullptr) RaiseMessage(kFilterNotAssigned);
  if (target == nullptr) {
    target = new TFilter(this, true, false);
    CopyNodeFields(*source, *target, keepIds);
  }
  for (TFilter* child : source->Conditions->Items) CopyNode(child, target, keepIds);
  return target;
}

void TFilterWorkShop::CopyNode(TFilter* source, TFilter* newParent, bool keepIds) {
  auto copy = std::make_unique<TFilter>(this, true, false);
  CopyNodeFields(*source, *copy, keepIds);
  copy->Parent = newParent;
  TFilter* added = copy.release();
  newParent->Conditions->Add(added);
  for (TFilter* child : source->Conditions->Items) CopyNode(child, added, false);
}

void TFilterWorkShop::FreeFilter(TFilter*& filter) {
  if (filter == nullptr) return;
  delete filter;
  filter = nullptr;
}

}  // namespace tidewell
