// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_atom_processor.h"

#include <cmath>

#include "engine/db/tidewell_db_helper.h"
#include "engine/feeds/tidewell_article_text.h"
#include "engine/feeds/tidewell_episode_identity.h"
#include "engine/feeds/tidewell_feed_document.h"
#include "engine/feeds/tidewell_item_listings.h"
#include "engine/feeds/tidewell_rss_processor.h"
#include "engine/feeds/tidewell_stored_articles_index.h"
#include "engine/model/articles.h"
#include "engine/model/feed_property.h"
#include "engine/model/new_custom_tags_class.h"
#include "engine/net/tidewell_trd_job_prop_class.h"
#include "engine/tidewell_date.h"
#include "engine/tidewell_msg.h"
#include "engine/tidewell_utilities.h"
#include "toolkit/exception.h"
#include "toolkit/kt_utils.h"
#include "toolkit/wide_string.h"

namespace tidewell {

namespace {

constexpr double kHalfSecond = 0.5 / 86400;

std::string TrimUtf8(const std::string& text) { return kt::WideToUtf8(kt::TrimW(kt::Utf8ToWide(text))); }

bool IsRelative(const std::string& url) { return url.find("://") == std::string::npos; }

// Atom content types read as text; RFC 4287 makes a missing type "text".
bool IsReadableContent(const pugi::xml_node& content) {
  pugi::xml_attribute type = content.attribute("type");
  if (!type) return true;
  const std::string value = type.value();
  return value == "text" || value == "html" || value == "xhtml" || value == "text/html" ||
         value == "application/xhtml+xml";
}

// A date text of an entry in UTC: ISO 8601, RFC 822, SQL style, else the
// default.
TZonedDate ReadEntryDate(const std::string& text, const TZonedDate& defaultDate) {
  TZonedDate date;
  if (!ReadFeedDate(text, date.value, date.zone)) return defaultDate;
  return date;
}

}  // namespace

struct TtidewellAtomProcessor::TFeed {
  explicit TFeed(int32_t& id) : feedId(id) {}
  int32_t& feedId;
  bool isNew = false;
  const TFeedProperty* record = nullptr;
  pugi::xml_node root;
  TStoredArticles stored;
  std::unique_ptr<TStoredArticlesIndex> storedIndex;  // made at the first look-up
  TNewCustomTagsClass feedTags;
  std::vector<std::unique_ptr<TNewCustomTagsClass>> itemTags;
  TArticleLinkPairs pairs;
  int32_t parentArticleId = 0;
  std::string language, homepage, fallbackHomepage;
  std::u16string title, description;
  TZonedDate modified;
  TItemListings listings;  // an entry listed twice is one episode
};

struct TtidewellAtomProcessor::TEntry {
  int32_t articleId = 0;
  std::string key, base, link, firstAlternate, updated, published, modifiedText, created, md5Key;
  std::u16string title, content, summary, creator;
  int32_t commentFeedId = 0;
  TNewCustomTagsClass* tags = nullptr;
  TZonedDate createdDate, modifiedDate;
  std::vector<TItemEnclosure> enclosures;
};

TtidewellAtomProcessor::TtidewellAtomProcessor(TtidewellFeedStore& store, TArticleKeyView keys)
    : store_(store), keys_(keys) {}

void TtidewellAtomProcessor::ProcessAtomFeed(const std::string& md5Text, int32_t& feedId,
                                             const TFeedProperty* record, bool isAtom10, const pugi::xml_node& root) {
  (void)isAtom10;  // both versions share the element names read here
  TtidewellFeedContext& context = store_.Context();
  TFeed feed(feedId);
  feed.isNew = feedId < 1;
  feed.record = record;
  feed.root = root;
  // Relative references resolve against xml:base, else where the feed came
  // from.
  documentBase_ = *context.xmlBase;
  if (documentBase_.empty()) documentBase_ = FeedAddress(store_.Job().finalUrl, *context.url);
  bool reported = false;
  try {
    feed.modified = store_.ResponseDate();
    size_t entries = 0;
    for (pugi::xml_node child : root.children())
      if (child.type() == pugi::node_element && UpperAscii(child.name()) == "ENTRY") ++entries;
    store_.BeforeStoringItems(entries);
    feed.language = AttributeText(root, "xml:lang");
    if (feed.isNew) {
      store_.StartTransaction();
      feedId = context.dbHelper->InsertFeed(context.query, "ATOM", feed.language, *context.url, u"", 0, u"", 0);
      if (feedId < 1) RaiseMessage(kCantAddUpdateFeed);
    } else {
      // Read in the transaction that stores the document: what it matches
      // is what it writes beside.
      store_.StartTransaction();
      feed.stored = store_.LoadStoredArticles(feedId);
    }
    if (feedId >= 1 && *context.commentFeed) feed.parentArticleId = store_.GetCommentParentId(feedId);
    ReadFeed(feed);
    RaiseWhenStopping(store_.Stopping());
    // The next update of an adaptive feed reads its articles.
    store_.StoreQueuedArticles();
    if (*context.errorCategory == TErrorCategory::noErrors) UpdateFeedRow(feed, md5Text);
    reported = true;
    store_.FinishDocument(feedId, record, {&feed.feedTags, &feed.itemTags, &feed.pairs});
  } catch (const std::exception& e) {
    const bool aborted = dynamic_cast<const kt::EAbort*>(&e) != nullptr;
    *context.errorCategory = TErrorCategory::ErrUnknown;
    *context.errorText = aborted ? MessageText(kFetchAborted) : std::string(e.what());
    store_.RollbackQuietly();
    store_.ForgetRolledBackFeed(feed.isNew);
    // The failure is not raised, so it is reported here.
    if (!reported && !store_.StopRequested() && context.SyncFeedProcessed) context.SyncFeedProcessed();
  }
  store_.RollbackQuietly();
}

void TtidewellAtomProcessor::ReadFeed(TFeed& feed) {
  for (pugi::xml_node child : feed.root.children()) {
    RaiseWhenStopping(store_.Stopping());
    if (child.type() != pugi::node_element) continue;
    ReadFeedElement(feed, child, UpperAscii(child.name()));
  }
}

void TtidewellAtomProcessor::ReadFeedElement(TFeed& feed, const pugi::xml_node& child, const std::string& name) {
  TtidewellFeedContext& context = store_.Context();
  if (name == "LINK") {
    const std::string href = AttributeText(child, "href");
    pugi::xml_attribute rel = child.attribute("rel");
    pugi::xml_attribute type = child.attribute("type");
    if (rel && UpperAscii(TrimUtf8(rel.value())) == "ALTERNATE") {
      if ((feed.homepage.empty() && !type) || (type && UpperAscii(type.value()) == "TEXT/HTML")) feed.homepage = href;
      if (feed.fallbackHomepage.empty()) feed.fallbackHomepage = href;
    } else if (!rel && !href.empty()) {
      // A link without rel is an alternate one.
      if (feed.homepage.empty() && (!type || UpperAscii(type.value()) == "TEXT/HTML")) feed.homepage = href;
      if (feed.fallbackHomepage.empty()) feed.fallbackHomepage = href;
    }
  } else if (name == "TITLE") {
    feed.title = NodeText(child);
    *context.feedTitle = feed.title;
  } else if (name == "TAGLINE" || name == "SUBTITLE") {
    feed.description = NodeText(child);
  } else if (name == "ID" || name == "ICON" || name == "LOGO" || name == "AUTHOR") {
  } else if (name == "MODIFIED" || name == "UPDATED") {
    // An unreadable date keeps the response's date.
    feed.modified = ReadEntryDate(TrimUtf8(NodeTextUtf8(child)), feed.modified);
  } else if (name == "ENTRY") {
    store_.StoreQueuedArticlesWhenFull();
    *context.items += ProcessAtomEntry(feed, child);
  } else {
    AddCustomTag(child, feed.feedTags, feed.feedId, store_.WhitespaceOn(), store_.Stopping());
  }
}

std::string TtidewellAtomProcessor::GetAtomEntryKey(const pugi::xml_node& entryNode) {
  const pugi::xml_node entry = keys_.KeyNode(entryNode);
  for (pugi::xml_node child : entry.children()) {
    RaiseWhenStopping(store_.Stopping());
    if (child.type() == pugi::node_element && UpperAscii(child.name()) == "ID" && !NodeTextUtf8(child).empty())
      return NodeTextUtf8(child);
  }
  return EntryContentKey(entryNode);
}

std::string TtidewellAtomProcessor::EntryContentKey(const pugi::xml_node& entryNode) {
  const pugi::xml_node entry = keys_.KeyNode(entryNode);
  std::u16string title, content, summary;
  const bool whitespace = store_.WhitespaceOn();
  auto markup = [&](const pugi::xml_node& child) {
    return LegacyKeyMarkup(child, IsXmlSpacePreserve(child), whitespace, store_.Stopping());
  };
  for (pugi::xml_node child : entry.children()) {
    RaiseWhenStopping(store_.Stopping());
    if (child.type() != pugi::node_element) continue;
    const std::string name = UpperAscii(child.name());
    if (name == "TITLE") title = markup(child);
    if (name == "CONTENT" && IsReadableContent(child)) content = markup(child);
    if (name == "SUMMARY") summary = markup(child);
  }
  if (kt::TrimW(content).empty() && summary.size() > 1000) content.swap(summary);
  return MakeMD5Key(title, content + summary);
}

// The entry's xml:base resolved against the document's base (RFC 3986).
std::string TtidewellAtomProcessor::EntryBase(const pugi::xml_node& entry) const {
  pugi::xml_attribute base = entry.attribute("xml:base");
  if (!base) return documentBase_;
  const std::string resolved = AbsoluteXmlBase(documentBase_, base.value());
  return resolved.empty() ? documentBase_ : resolved;
}

int32_t TtidewellAtomProcessor::ProcessAtomEntry(TFeed& feed, const pugi::xml_node& entryNode) {
  if (feed.listings.ListedBefore(entryNode)) return 0;
  TEntry entry;
  bool isNew = true;
  TDateTime storedModified = -1;
  std::string storedMD5;
  bool byLinkOrEnclosure = false, keyChanged = false;
  TFileMoves moves = TFileMoves::none;
  entry.md5Key = EntryContentKey(entryNode);
  if (!feed.isNew) entry.key = GetAtomEntryKey(entryNode);
  // A feed that holds no article has nothing to find.
  if (!feed.isNew && !feed.stored.empty()) {
    RaiseWhenStopping(store_.Stopping());
    TStoredArticlesIndex& index = StoredIndex(feed);
    TEpisodeVerdict verdict;
    const TEpisodeFacts facts = EpisodeFactsOf(entryNode);
    const int32_t first = index.Find(facts, &verdict);
    if (first >= 0) {
      const TStoredArticle& a = index.Article(first);
      byLinkOrEnclosure = verdict.row != TEpisodeRow::byKey && verdict.row != TEpisodeRow::byTextKey;
      moves = verdict.moves;
      // Found without its key, the article keeps its stored key, unless
      // that was an id the publisher dropped; found by another key, it
      // takes the new one.
      if (entry.key == entry.md5Key && TStoredArticlesIndex::IsContentKey(a.guid)) entry.key = a.guid;
      keyChanged = index.ComparableKey(StoredGuid(entry.key)) != index.ComparableKey(a.guid);
      if (a.deleted) {
        if (keyChanged || LowerAscii(entry.md5Key) != LowerAscii(a.md5))
          store_.UpdateArticleKeys(a.id, entry.key, entry.md5Key);
        // A deleted article heard, found without a key, is found by its files.
        if (!a.titleEmpty && TStoredArticlesIndex::IsContentKey(a.guid))
          store_.FollowMovedEnclosures(a.id, facts.files, moves);
        return 0;
      }
      entry.articleId = a.id;
      storedModified = a.modified;
      storedMD5 = a.md5;
      isNew = false;
    }
  }
  if (isNew) entry.articleId = store_.NewArticleId();
  feed.itemTags.push_back(std::make_unique<TNewCustomTagsClass>());
  entry.tags = feed.itemTags.back().get();
  entry.base = EntryBase(entryNode);
  for (pugi::xml_node child : entryNode.children()) {
    RaiseWhenStopping(store_.Stopping());
    if (child.type() != pugi::node_element) continue;
    ReadEntryElement(feed, entry, child);
  }
  const std::string createdText = !entry.created.empty() ? entry.created : entry.published;
  std::string modifiedText = entry.modifiedText;
  if (modifiedText.empty()) modifiedText = entry.updated;
  if (modifiedText.empty()) modifiedText = createdText;
  entry.modifiedDate = modifiedText.empty() ? feed.modified : ReadEntryDate(modifiedText, feed.modified);
  entry.createdDate = createdText.empty() ? entry.modifiedDate : ReadEntryDate(createdText, feed.modified);
  entry.modifiedText = modifiedText;
  if (entry.link.empty()) entry.link = entry.firstAlternate;
  // Before the entry may end unchanged: an enclosure URL whose token alone
  // changed still reaches its row.
  store_.NoteDroppedEnclosures(
      store_.AddEnclosures(entry.articleId, entry.enclosures, moves));
  // Its texts changed, or its key would have found it.
  if (!isNew && !byLinkOrEnclosure && !keyChanged && !EntryChanged(entry, storedModified, storedMD5)) return 0;
  WriteEntry(feed, entry, isNew);
  return isNew ? 1 : 0;
}

void TtidewellAtomProcessor::ReadEntryElement(TFeed& feed, TEntry& entry, const pugi::xml_node& child) {
  const std::string name = UpperAscii(child.name());
  const bool whitespace = store_.WhitespaceOn();
  auto markup = [&] { return NodeToMarkup(child, IsXmlSpacePreserve(child), whitespace, store_.Stopping()); };
  auto dateText = [&] { return NormalizeXmlWhiteSpace(NodeTextUtf8(child)); };
  if (name == "CATEGORY") {
    const std::string term = AttributeText(child, "term");
    if (!term.empty()) entry.tags->Add("cmdinscategory:", kt::Utf8ToWide(term))->OwnerId = entry.articleId;
  } else if (name == "CONTENT") {
    if (IsReadableContent(child)) entry.content = markup();
  } else if (name == "ID") {
    const std::string id = NodeTextUtf8(keys_.KeyNode(child));
    if (!id.empty()) entry.key = id;
  } else if (name == "LINK") {
    ReadEntryLink(feed, entry, child);
  } else if (name == "SUMMARY") {
    entry.summary = markup();
  } else if (name == "TITLE") {
    entry.title = markup();
  } else if (name == "UPDATED") {
    entry.updated = dateText();
  } else if (name == "PUBLISHED") {
    entry.published = dateText();
  } else if (name == "MODIFIED") {
    entry.modifiedText = dateText();
  } else if (name == "CREATED") {
    entry.created = dateText();
  } else if (name == "CREATOR" || name == "DC:CREATOR") {
    entry.creator = NodeText(child);
  } else if (name == "AUTHOR") {
    pugi::xml_node authorName = FindChildElement(child, "NAME", store_.Stopping());
    if (authorName) entry.creator = NodeText(authorName);
  } else if (IsCommentRssElement(child.name())) {
    entry.commentFeedId = store_.GetCommentFeed(feed.feedId, entry.articleId, NodeTextUtf8(child));
  } else {
    AddCustomTag(child, *entry.tags, entry.articleId, whitespace, store_.Stopping());
  }
}

void TtidewellAtomProcessor::ReadEntryLink(TFeed& feed, TEntry& entry, const pugi::xml_node& link) {
  const std::string href = AttributeText(link, "href");
  if (href.empty()) return;
  pugi::xml_attribute relAttribute = link.attribute("rel");
  // A link without rel is an alternate one.
  const std::string rel = relAttribute ? relAttribute.value() : "alternate";
  pugi::xml_attribute type = link.attribute("type");
  const std::string resolved = ResolveReference(entry.base, href);
  if (rel == "alternate") {
    if ((!type && entry.link.empty()) || (type && std::string(type.value()) == "text/html")) entry.link = resolved;
    if (entry.firstAlternate.empty()) entry.firstAlternate = resolved;
  } else if (rel == "enclosure") {
    entry.enclosures.push_back({type.value(), EnclosureSize(AttributeText(link, "length")), resolved});
  } else {
    store_.InsertArticleLink(entry.articleId, resolved);
  }
}

// The alternate link and the enclosures of an entry, resolved as the
// entry's walk resolves them.
void TtidewellAtomProcessor::EntryIdentity(const pugi::xml_node& entryNode, std::string& link,
                                           std::vector<TEpisodeFile>& files) const {
  const std::string base = EntryBase(entryNode);
  std::string firstAlternate;
  for (pugi::xml_node child : entryNode.children()) {
    if (child.type() != pugi::node_element || UpperAscii(child.name()) != "LINK") continue;
    const std::string href = AttributeText(child, "href");
    if (href.empty()) continue;
    pugi::xml_attribute relAttribute = child.attribute("rel");
    const std::string rel = relAttribute ? relAttribute.value() : "alternate";
    pugi::xml_attribute type = child.attribute("type");
    const std::string resolved = ResolveReference(base, href);
    if (rel == "alternate") {
      if ((!type && link.empty()) || (type && std::string(type.value()) == "text/html")) link = resolved;
      if (firstAlternate.empty()) firstAlternate = resolved;
    } else if (rel == "enclosure") {
      files.push_back({resolved, EnclosureSize(AttributeText(child, "length"))});
    }
  }
  if (link.empty()) link = firstAlternate;
}

// What the rule reads of an entry, as the entry's walk reads it: the
// alternate link, the enclosures, the last title, and the date its article
// is created with.
TEpisodeFacts TtidewellAtomProcessor::EpisodeFactsOf(const pugi::xml_node& entryNode) {
  TEpisodeFacts facts;
  facts.key = GetAtomEntryKey(entryNode);
  facts.textKey = EntryContentKey(entryNode);
  facts.keyed = facts.key != facts.textKey;
  facts.key = StoredGuid(facts.key);
  EntryIdentity(entryNode, facts.link, facts.files);
  facts.link = TrimUtf8(facts.link);
  std::string created, published;
  for (pugi::xml_node child : entryNode.children()) {
    RaiseWhenStopping(store_.Stopping());
    if (child.type() != pugi::node_element) continue;
    const std::string name = UpperAscii(child.name());
    const auto dateText = [&] { return NormalizeXmlWhiteSpace(NodeTextUtf8(child)); };
    if (name == "TITLE")
      facts.title =
          ComparableTitle(NodeToMarkup(child, IsXmlSpacePreserve(child), store_.WhitespaceOn(), store_.Stopping()));
    else if (name == "CREATED")
      created = dateText();
    else if (name == "PUBLISHED")
      published = dateText();
  }
  // An entry's own date; the date of its last edit moves with every edit.
  const std::string text = !created.empty() ? created : published;
  TZonedDate date;
  if (!text.empty() && ReadFeedDate(text, date.value, date.zone)) facts.date = date.value;
  return facts;
}

// The look-up of the stored articles, made at the first entry with every
// entry of the document.
TStoredArticlesIndex& TtidewellAtomProcessor::StoredIndex(TFeed& feed) {
  if (feed.storedIndex) return *feed.storedIndex;
  feed.storedIndex =
      std::make_unique<TStoredArticlesIndex>(feed.stored, false, store_.StoredArticleLoaders(feed.feedId));
  feed.storedIndex->SetHomePage(Homepage(feed));
  TItemListings listings;
  for (pugi::xml_node other : feed.root.children()) {
    RaiseWhenStopping(store_.Stopping());
    if (other.type() == pugi::node_element && UpperAscii(other.name()) == "ENTRY" && !listings.ListedBefore(other))
      feed.storedIndex->AddDocumentItem(EpisodeFactsOf(other));
  }
  return *feed.storedIndex;
}

bool TtidewellAtomProcessor::EntryChanged(const TEntry& entry, TDateTime storedModified,
                                          const std::string& storedMD5) const {
  if (!entry.modifiedText.empty()) {
    // The stored date is UTC, so the entry's date is compared in UTC too; an
    // unreadable one says nothing changed.
    TDateTime value = 0;
    std::string zone;
    if (!ReadFeedDate(entry.modifiedText, value, zone)) return false;
    return std::fabs(value - storedModified) > kHalfSecond;
  }
  return LowerAscii(entry.md5Key) != LowerAscii(storedMD5);
}

void TtidewellAtomProcessor::WriteEntry(TFeed& feed, TEntry& entry, bool isNew) {
  TtidewellFeedContext& context = store_.Context();
  for (auto& tag : entry.tags->List)
    if (tag->OwnerId == entry.articleId) tag->Store = true;
  if (kt::TrimW(entry.content).empty() && entry.summary.size() > 1000) entry.content.swap(entry.summary);
  if (entry.key.empty()) entry.key = entry.md5Key;
  entry.content = CapArticleText(std::move(entry.content));
  TArticleRow row;
  row.id = entry.articleId;
  row.guid = entry.key;
  row.created = entry.createdDate;
  row.modified = entry.modifiedDate;
  row.body = entry.content;
  row.summary = entry.summary;
  row.link = entry.link;
  row.md5Key = entry.md5Key;
  row.title = entry.title;
  row.creator = entry.creator;
  row.parentId = feed.parentArticleId;
  row.commentFeedId = entry.commentFeedId;
  store_.WriteArticle(feed.feedId, row, *entry.tags, feed.record);
  store_.CollectArticleLinks(entry.articleId, feed.pairs, entry.content, *context.url, TrimUtf8(entry.link));
  if (isNew) store_.AppendArticleId(entry.articleId);
}

std::string TtidewellAtomProcessor::Homepage(const TFeed& feed) const {
  const std::string& xmlBase = *store_.Context().xmlBase;
  std::string homepage = feed.homepage;
  if (homepage.empty()) homepage = feed.fallbackHomepage;
  if (homepage.empty()) homepage = xmlBase;
  homepage = TrimUtf8(homepage);
  if (homepage.empty() || !IsRelative(homepage)) return homepage;
  return ResolveReference(documentBase_, homepage);
}

void TtidewellAtomProcessor::UpdateFeedRow(TFeed& feed, const std::string& md5Text) {
  TtidewellFeedContext& context = store_.Context();
  TtidewellTrdJobPropClass& job = store_.Job();
  const TFeedProperty* record = feed.record;
  const TDateTime next = store_.NextUpdate(feed.feedId, record ? record->UpdateInterval : 0);
  if (feed.isNew) store_.InsertNameSpaces(feed.feedId, feed.root);
  const bool withTitle = feed.isNew || record == nullptr || record->Title.empty();
  TQueryWrapper* query = context.query;
  query->Close();
  query->SQL.Clear();
  query->SQL.Add("update feeds");
  query->SQL.Add("set homepage=substring(? from 1 for 512),link=substring(? from 1 for 1000),");
  query->SQL.Add("description=substring(? from 1 for 1000),page_lastmodified=?,");
  query->SQL.Add(
      "feedmodified=?,feedmodifiedTZ=?,etag=substring(? from 1 for 80),feedMD5=?,last_feedupdate=?,next_feedupdate=?,");
  query->SQL.Add("feedCreated=?,feedCreatedTZ=?,username_=?,password_=?,lastHTTPCode=?,archivesize=?,rtlEnabled=?");
  if (withTitle) query->SQL.Add(",title=substring(? from 1 for 512)");
  query->SQL.Add("where feed_id=?");
  query->Params(0).SetString(Homepage(feed));
  query->Params(1).SetString(TrimUtf8(*context.url));
  query->Params(2).SetWideString(kt::TrimW(feed.description));
  if (std::optional<TDateTime> lastModified = store_.LastModifiedUtc())
    query->Params(3).SetDateTime(*lastModified);
  else
    query->Params(3).SetNull();
  query->Params(4).SetDateTime(feed.modified.value);
  query->Params(5).SetString(feed.modified.zone);
  query->Params(6).SetString(job.etag);
  query->Params(7).SetString(md5Text);
  query->Params(8).SetDateTime(TtidewellFeedStore::UtcNow());
  query->Params(9).SetDateTime(next);
  query->Params(10).SetDateTime(feed.modified.value);
  query->Params(11).SetString(feed.modified.zone);
  query->Params(12).SetString(*context.userName);
  query->Params(13).SetString(ScrambledPassword(*context.password));
  query->Params(14).SetInteger(job.httpCode);
  query->Params(15).SetInteger(feed.isNew || record == nullptr ? 0 : record->ArchiveSize);
  query->Params(16).SetInteger(feed.isNew || record == nullptr ? (IsRtlLanguage(feed.language) ? 1 : 0)
                                                                : record->RtlEnabled);
  if (withTitle) query->Params(17).SetWideString(feed.title);
  query->Params(withTitle ? 18 : 17).SetInteger(feed.feedId);
  ExecQueryTimed(query, false);
  query->Close();
}

}  // namespace tidewell
