// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_rss_processor.h"

#include <climits>
#include <cmath>

#include "engine/db/tidewell_db_helper.h"
#include "engine/feeds/tidewell_article_text.h"
#include "engine/feeds/tidewell_episode_identity.h"
#include "engine/feeds/tidewell_feed_document.h"
#include "engine/feeds/tidewell_item_listings.h"
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

std::string TrimUtf8(const std::string& text) { return kt::WideToUtf8(kt::TrimW(kt::Utf8ToWide(text))); }

bool SameTextAscii(const std::string& a, const std::string& b) { return LowerAscii(a) == LowerAscii(b); }

TDateTime TodayMidnightUtc() { return LocalTimeToUTC(std::floor(Now())); }

bool TryFeedDate(const std::string& text, TZonedDate& date) {
  TDateTime utc = 0;
  std::string zone;
  if (!ReadFeedDate(text, utc, zone)) return false;
  date = {utc, zone};
  return true;
}

}  // namespace

int32_t EnclosureSize(const std::string& length) {
  const std::string trimmed = TrimUtf8(length);
  if (trimmed.empty() || trimmed.size() > 10) return 0;
  int64_t value = 0;
  for (char c : trimmed) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + (c - '0');
  }
  return value > INT32_MAX ? 0 : static_cast<int32_t>(value);
}

TZonedDate ReadItemDate(const std::string& text, const TZonedDate& defaultDate) {
  if (text.empty()) return defaultDate;
  TZonedDate date;
  if (TryFeedDate(text, date)) return date;
  return {TodayMidnightUtc(), "L"};
}

struct TtidewellRssProcessor::TChannel {
  explicit TChannel(int32_t& id) : feedId(id) {}
  int32_t& feedId;
  bool isRdf = false;
  bool isNew = false;
  const TFeedProperty* record = nullptr;
  TStoredArticles stored;
  std::unique_ptr<TStoredArticlesIndex> storedIndex;  // made at the first look-up
  TNewCustomTagsClass feedTags;
  std::vector<std::unique_ptr<TNewCustomTagsClass>> itemTags;
  TArticleLinkPairs pairs;
  int32_t parentArticleId = 0;
  bool hadItem = false;
  std::u16string title, description;
  std::string homepage, image, language, pubText, modText;
  TZonedDate published, modified;
  pugi::xml_node root;
  TItemListings listings;  // an item listed twice is one episode
};

struct TtidewellRssProcessor::TItemValues {
  int32_t articleId = 0;
  std::string key, link, dateText, storedMD5, md5Key;
  bool storedEmptied = false;
  std::u16string title, creator, encoded, description;
  bool hasEncoded = false, hasDescription = false, permalink = true;
  int32_t commentFeedId = 0;
  TZonedDate defaultDate;
  std::vector<TItemEnclosure> enclosures;
  bool enclosuresStored = false;
  TFileMoves moves = TFileMoves::none;
  bool keyChanged = false;
};

struct TtidewellRssProcessor::TMatch {
  int32_t articleId = 0;  // 0: no stored article matches
  std::vector<TEpisodeFile> files;  // of a deleted article to keep findable
  TFileMoves moves = TFileMoves::none;
  bool keyChanged = false;
  bool deleted = false;
  bool emptied = false;
  std::string articleMD5;
  std::string key;
  std::string md5Key;
};

TtidewellRssProcessor::TtidewellRssProcessor(TtidewellFeedStore& store, TArticleKeyView keys)
    : store_(store), keys_(keys) {}

// Relative links of items resolve against the document's base, else where
// the feed came from.
std::string TtidewellRssProcessor::Absolute(const std::string& reference) const { return ResolveReference(base_, reference); }

void TtidewellRssProcessor::ProcessRssChannel(const std::string& md5Text, bool isRdf, const TFeedProperty* record,
                                              const pugi::xml_node& root, int32_t& feedId) {
  TtidewellFeedContext& context = store_.Context();
  TChannel channel(feedId);
  channel.isRdf = isRdf;
  channel.record = record;
  channel.isNew = feedId < 1;
  channel.root = root;
  base_ = *context.xmlBase;
  if (base_.empty()) base_ = FeedAddress(store_.Job().finalUrl, *context.url);
  try {
    channel.modified = channel.published = store_.ResponseDate();
    store_.BeforeStoringItems(CountItems(root));
    if (channel.isNew) {
      store_.StartTransaction();
      feedId = context.dbHelper->InsertFeed(context.query, isRdf ? "RDF" : "RSS", "", *context.url, u"", 0, u"", 0);
      if (feedId < 1) RaiseMessage(kCantAddUpdateFeed);
    } else {
      // Read in the transaction that stores the document: what it matches
      // is what it writes beside.
      store_.StartTransaction();
      channel.stored = store_.LoadStoredArticles(feedId);
    }
    *context.items = 0;
    if (!root) throw kt::Exception("Invalid RSS !");
    ReadChannel(channel, root);
    RaiseWhenStopping(store_.Stopping());
    // The next update of an adaptive feed reads its articles.
    store_.StoreQueuedArticles();
    if (*context.errorCategory == TErrorCategory::noErrors) UpdateFeedRow(channel, md5Text);
    store_.FinishDocument(feedId, record, {&channel.feedTags, &channel.itemTags, &channel.pairs});
  } catch (const kt::EAbort&) {
    *context.errorCategory = TErrorCategory::ErrUnknown;
    *context.errorText = MessageText(kFetchAborted);
    store_.RollbackQuietly();
    store_.ForgetRolledBackFeed(channel.isNew);
    throw;
  } catch (const std::exception& e) {
    *context.errorCategory = TErrorCategory::ErrUnknown;
    *context.errorText = e.what();
    store_.RollbackQuietly();
    store_.ForgetRolledBackFeed(channel.isNew);
    throw;
  }
  store_.RollbackQuietly();
}

// The items of the channel, and RDF's beside it.
size_t TtidewellRssProcessor::CountItems(const pugi::xml_node& root) const {
  size_t items = 0;
  const auto count = [&](const pugi::xml_node& parent) {
    for (pugi::xml_node child : parent.children())
      if (child.type() == pugi::node_element && UpperAscii(child.name()) == "ITEM") ++items;
  };
  count(FindChildElement(root, "CHANNEL", store_.Stopping()));
  count(root);
  return items;
}

void TtidewellRssProcessor::ReadChannel(TChannel& channel, const pugi::xml_node& root) {
  TtidewellFeedContext& context = store_.Context();
  const pugi::xml_node channelNode = FindChildElement(root, "CHANNEL", store_.Stopping());
  if (channel.feedId >= 1 && *context.commentFeed) channel.parentArticleId = store_.GetCommentParentId(channel.feedId);
  for (pugi::xml_node child : channelNode.children()) {
    RaiseWhenStopping(store_.Stopping());
    if (child.type() != pugi::node_element) continue;
    ReadChannelElement(channel, child, UpperAscii(child.name()));
  }
  if (channel.modText.empty() && !channel.pubText.empty()) channel.modified = channel.published;
  if (channel.hadItem) return;
  // RDF keeps its items beside the channel.
  for (pugi::xml_node item : root.children()) {
    RaiseWhenStopping(store_.Stopping());
    if (item.type() == pugi::node_element && UpperAscii(item.name()) == "ITEM")
      *context.items += ProcessRssItem(channel, item, channel.modified);
  }
}

void TtidewellRssProcessor::ReadChannelElement(TChannel& channel, const pugi::xml_node& child,
                                               const std::string& name) {
  TtidewellFeedContext& context = store_.Context();
  const bool whitespace = store_.WhitespaceOn();
  if (name == "TITLE") {
    channel.title = NodeToMarkup(child, IsXmlSpacePreserve(child), whitespace, store_.Stopping());
    *context.feedTitle = channel.title;
  } else if (name == "DESCRIPTION") {
    channel.description = NodeToMarkup(child, IsXmlSpacePreserve(child), whitespace, store_.Stopping());
  } else if (name == "LINK") {
    channel.homepage = NodeTextUtf8(child);
  } else if (name == "IMAGE") {
    channel.image = NodeTextUtf8(FindChildElement(child, "URL", store_.Stopping()));
  } else if (name == "LANGUAGE") {
    channel.language = NodeTextUtf8(child);
  } else if (name == "PUBDATE") {
    channel.pubText = NormalizeXmlWhiteSpace(NodeTextUtf8(child));
    if (channel.pubText.empty()) return;
    // Kept in UTC like every stored date.
    if (!TryFeedDate(channel.pubText, channel.published)) channel.published.value = TodayMidnightUtc();
  } else if (name == "LASTBUILDDATE" || name == "DC:DATE") {
    ReadModifiedDate(channel, NormalizeXmlWhiteSpace(NodeTextUtf8(child)));
  } else if (name == "RDF:SEQ") {
  } else if (name == "ITEM" && !channel.isRdf) {
    channel.hadItem = true;
    *context.items += ProcessRssItem(channel, child, ItemDefaultDate(channel));
  } else {
    AddCustomTag(child, channel.feedTags, channel.feedId, whitespace, store_.Stopping());
  }
}

void TtidewellRssProcessor::ReadModifiedDate(TChannel& channel, const std::string& text) {
  channel.modText = text;
  if (text.empty()) return;
  if (TryFeedDate(text, channel.modified)) return;
  channel.modified = {TodayMidnightUtc(), "L"};
  if (std::optional<TDateTime> header = store_.LastModifiedUtc()) channel.modified = {*header, "X"};
}

TZonedDate TtidewellRssProcessor::ItemDefaultDate(TChannel& channel) const {
  if (channel.modText.empty() && !channel.pubText.empty()) channel.modified = channel.published;
  if (!channel.modText.empty() && !channel.pubText.empty() && channel.modText != channel.pubText &&
      channel.published.value > channel.modified.value)
    return channel.published;
  return channel.modified;
}

void TtidewellRssProcessor::GetRssItemKey(const pugi::xml_node& itemNode, bool& hasGuid, std::string& key,
                                          std::string& link, std::string& md5Key) {
  const pugi::xml_node item = keys_.KeyNode(itemNode);
  key.clear();
  link.clear();
  key = AttributeText(item, "rdf:about");
  hasGuid = !key.empty();
  for (pugi::xml_node child : item.children()) {
    RaiseWhenStopping(store_.Stopping());
    if (child.type() != pugi::node_element) continue;
    const std::string name = UpperAscii(child.name());
    if (name == "GUID") {
      const std::string guid = NodeTextUtf8(child);
      hasGuid = !guid.empty();
      if (hasGuid) key = guid;
    } else if (name == "LINK") {
      link = NodeTextUtf8(child);
    }
  }
  md5Key = ItemContentKey(itemNode);
  if (!hasGuid) key = md5Key;
}

std::string TtidewellRssProcessor::ItemContentKey(const pugi::xml_node& itemNode) {
  const pugi::xml_node item = keys_.KeyNode(itemNode);
  std::u16string title, description;
  bool hasDescription = false;
  for (pugi::xml_node child : item.children()) {
    RaiseWhenStopping(store_.Stopping());
    if (child.type() != pugi::node_element) continue;
    const std::string name = UpperAscii(child.name());
    if (name == "TITLE") {
      title = NodeText(child);
    } else if ((name == "DESCRIPTION" || name == "DC:DESCRIPTION") && !hasDescription) {
      hasDescription = true;
      description = LegacyKeyMarkup(child, IsXmlSpacePreserve(child), store_.WhitespaceOn(), store_.Stopping());
    }
  }
  return MakeMD5Key(title, description);
}

// The look-up of the stored articles, made at the first item with every
// item of the document.
TStoredArticlesIndex& TtidewellRssProcessor::StoredIndex(TChannel& channel) {
  if (channel.storedIndex) return *channel.storedIndex;
  channel.storedIndex =
      std::make_unique<TStoredArticlesIndex>(channel.stored, true, store_.StoredArticleLoaders(channel.feedId));
  const pugi::xml_node channelNode = FindChildElement(channel.root, "CHANNEL", store_.Stopping());
  const std::string homepage = TrimUtf8(NodeTextUtf8(FindChildElement(channelNode, "LINK", store_.Stopping())));
  if (!homepage.empty()) channel.storedIndex->SetHomePage(Absolute(homepage));
  TItemListings listings;
  for (const pugi::xml_node& parent : {channelNode, channel.root})
    for (pugi::xml_node other : parent.children())
      if (other.type() == pugi::node_element && UpperAscii(other.name()) == "ITEM" && !listings.ListedBefore(other))
        channel.storedIndex->AddDocumentItem(EpisodeFactsOf(other));
  return *channel.storedIndex;
}

TtidewellRssProcessor::TMatch TtidewellRssProcessor::FindStoredArticle(TChannel& channel,
                                                                       const pugi::xml_node& item) {
  TMatch match;
  bool hasGuid = false;
  std::string link;
  GetRssItemKey(item, hasGuid, match.key, link, match.md5Key);
  RaiseWhenStopping(store_.Stopping());
  // A feed that holds no article has nothing to find.
  if (channel.stored.empty()) return match;
  TStoredArticlesIndex& index = StoredIndex(channel);
  TEpisodeVerdict verdict;
  const TEpisodeFacts facts = EpisodeFactsOf(item);
  const int32_t first = index.Find(facts, &verdict);
  if (first < 0) return match;
  const TStoredArticle& a = index.Article(first);
  // A deleted article heard, found without a key, is found by its files.
  if (a.deleted && !a.titleEmpty && TStoredArticlesIndex::IsContentKey(a.guid)) match.files = facts.files;
  // Found without a key, the article keeps its stored key, unless that was
  // a guid the publisher dropped. Found by another key, it takes the new
  // one, so that the next pass finds it by its key.
  if (!hasGuid && TStoredArticlesIndex::IsContentKey(a.guid)) match.key = a.guid;
  match.keyChanged = index.ComparableKey(StoredGuid(match.key)) != index.ComparableKey(a.guid);
  match.moves = verdict.moves;
  match.articleId = a.id;
  match.deleted = a.deleted;
  match.articleMD5 = a.md5;
  // An article whose item failed was left without title and body.
  match.emptied = a.titleEmpty;
  return match;
}

// What the rule reads of an item, as the item's walk reads it: the last
// title, link and date, every enclosure.
TEpisodeFacts TtidewellRssProcessor::EpisodeFactsOf(const pugi::xml_node& item) {
  TEpisodeFacts facts;
  std::string link;
  GetRssItemKey(item, facts.keyed, facts.key, link, facts.textKey);
  facts.key = StoredGuid(facts.key);
  std::string dateText;
  for (pugi::xml_node child : item.children()) {
    RaiseWhenStopping(store_.Stopping());
    if (child.type() != pugi::node_element) continue;
    const std::string name = UpperAscii(child.name());
    if (name == "TITLE") {
      facts.title = ComparableTitle(NodeText(child));
    } else if (name == "LINK") {
      link = NodeTextUtf8(child);
    } else if (name == "PUBDATE" || name == "DC:DATE") {
      dateText = NormalizeXmlWhiteSpace(NodeTextUtf8(child));
    } else if (name == "ENCLOSURE") {
      const std::string url = AttributeText(child, "url");
      if (!TrimUtf8(url).empty())
        facts.files.push_back({Absolute(url), EnclosureSize(AttributeText(child, "length"))});
    }
  }
  link = TrimUtf8(link);
  if (!link.empty()) facts.link = Absolute(link);
  if (facts.link != link) facts.relativeLink = link;
  TZonedDate date;
  if (!dateText.empty() && TryFeedDate(dateText, date)) facts.date = date.value;
  return facts;
}

int32_t TtidewellRssProcessor::ProcessRssItem(TChannel& channel, const pugi::xml_node& item,
                                              const TZonedDate& defaultDate) {
  if (channel.listings.ListedBefore(item)) return 0;
  // Outside the item's own failure handling: a failing article of an
  // earlier item is handled as that item's.
  store_.StoreQueuedArticlesWhenFull();
  channel.itemTags.push_back(std::make_unique<TNewCustomTagsClass>());
  TNewCustomTagsClass& tags = *channel.itemTags.back();
  TItemValues values;
  values.defaultDate = defaultDate;
  bool isNew = true;
  if (!channel.isNew) {
    TMatch match = FindStoredArticle(channel, item);
    if (match.deleted) {
      if (match.keyChanged || !SameTextAscii(match.md5Key, match.articleMD5))
        store_.UpdateArticleKeys(match.articleId, match.key, match.md5Key);
      if (!match.files.empty()) store_.FollowMovedEnclosures(match.articleId, match.files, match.moves);
      return 0;
    }
    values.key = match.key;
    values.articleId = match.articleId;
    values.storedMD5 = match.articleMD5;
    values.md5Key = match.md5Key;
    values.storedEmptied = match.emptied;
    values.moves = match.moves;
    values.keyChanged = match.keyChanged;
    isNew = match.articleId == 0;
  } else {
    values.key = AttributeText(keys_.KeyNode(item), "rdf:about");
    values.md5Key = ItemContentKey(item);
  }
  if (isNew) values.articleId = store_.NewArticleId();
  try {
    ReadItemElements(channel, item, values, tags);
    StoreItemEnclosures(values);
    RaiseWhenStopping(store_.Stopping());
    if (!isNew && SameTextAscii(values.md5Key, values.storedMD5) && !(values.storedEmptied && !values.title.empty()) &&
        !values.keyChanged)
      return 0;
    WriteArticle(channel, values, tags, isNew);
  } catch (const kt::EAbort&) {
    throw;
  } catch (const std::exception&) {
    // The article keeps its identity and date even when its content fails.
    StoreItemEnclosures(values);
    WriteReducedArticle(channel, values);
  }
  return isNew ? 1 : 0;
}

void TtidewellRssProcessor::ReadItemElements(TChannel& channel, const pugi::xml_node& item, TItemValues& values,
                                             TNewCustomTagsClass& tags) {
  for (pugi::xml_node child : item.children()) {
    RaiseWhenStopping(store_.Stopping());
    if (child.type() != pugi::node_element) continue;
    ReadItemElement(channel, child, values, tags);
  }
}

void TtidewellRssProcessor::ReadItemElement(TChannel& channel, const pugi::xml_node& child, TItemValues& values,
                                            TNewCustomTagsClass& tags) {
  const std::string name = UpperAscii(child.name());
  const bool whitespace = store_.WhitespaceOn();
  auto markup = [&] { return NodeToMarkup(child, IsXmlSpacePreserve(child), whitespace, store_.Stopping()); };
  if (name == "TITLE") {
    values.title = NodeText(child);
  } else if (name == "LINK") {
    values.link = NodeTextUtf8(child);
  } else if (name == "CATEGORY" || name == "DC:SUBJECT") {
    const std::u16string category = kt::TrimW(NodeText(child));
    if (!category.empty()) tags.Add("cmdinscategory:", category)->OwnerId = values.articleId;
  } else if (name == "AUTHOR" || name == "DC:CREATOR") {
    values.creator = NodeText(child);
  } else if (name == "CONTENT:ENCODED") {
    if (!values.hasEncoded) values.encoded = markup();
    values.hasEncoded = true;
  } else if (name == "DESCRIPTION" || name == "DC:DESCRIPTION") {
    if (!values.hasDescription) values.description = markup();
    values.hasDescription = true;
  } else if (name == "GUID") {
    values.key = NodeTextUtf8(keys_.KeyNode(child));
    pugi::xml_attribute permalink = child.attribute("isPermaLink");
    values.permalink = !permalink || UpperAscii(permalink.value()) == "TRUE";
  } else if (name == "ENCLOSURE") {
    const std::string url = AttributeText(child, "url");
    if (!url.empty())
      values.enclosures.push_back(
          {AttributeText(child, "type"), EnclosureSize(AttributeText(child, "length")), Absolute(url)});
  } else if (name == "PUBDATE" || name == "DC:DATE") {
    values.dateText = NormalizeXmlWhiteSpace(NodeTextUtf8(child));
  } else if (IsCommentRssElement(child.name())) {
    values.commentFeedId = store_.GetCommentFeed(channel.feedId, values.articleId, Absolute(NodeTextUtf8(child)));
  } else if (name == "COMMENTS" && !HasElementChild(child)) {
    // The comment page's address, resolved like the item's link.
    TNewCustomTagBaseProperty* tag =
        tags.Add(child.name(), kt::Utf8ToWide(Absolute(TrimUtf8(NodeTextUtf8(child)))));
    tag->OwnerId = values.articleId;
    for (pugi::xml_attribute attribute : child.attributes())
      tag->Children().Add(attribute.name(), kt::Utf8ToWide(attribute.value()));
  } else {
    AddCustomTag(child, tags, values.articleId, whitespace, store_.Stopping());
  }
}

// Before the item may end unchanged: an enclosure URL whose token alone
// changed still reaches its row. One that cannot be stored costs the item
// nothing else, and is reported.
void TtidewellRssProcessor::StoreItemEnclosures(TItemValues& values) {
  if (values.enclosuresStored) return;
  values.enclosuresStored = true;
  store_.NoteDroppedEnclosures(
      store_.AddEnclosures(values.articleId, values.enclosures, values.moves));
}

void TtidewellRssProcessor::WriteArticle(TChannel& channel, TItemValues& values, TNewCustomTagsClass& tags,
                                         bool isNew) {
  TtidewellFeedContext& context = store_.Context();
  for (auto& tag : tags.List)
    if (tag->OwnerId == values.articleId) tag->Store = true;
  if (TrimUtf8(values.link).size() < 3 && values.permalink && IsHttpUrl(values.key)) values.link = values.key;
  values.link = Absolute(values.link);
  if (values.key.empty()) values.key = values.md5Key;
  TArticleRow row;
  row.id = values.articleId;
  row.guid = values.key;
  row.created = row.modified = ReadItemDate(values.dateText, values.defaultDate);
  row.title = values.title;
  row.body = CapArticleText(values.hasEncoded ? values.encoded : values.description);
  row.summary = values.hasEncoded ? values.description : std::u16string();
  row.link = values.link;
  row.creator = values.creator;
  row.md5Key = values.md5Key;
  row.parentId = channel.parentArticleId;
  row.commentFeedId = values.commentFeedId;
  store_.WriteArticle(channel.feedId, row, tags, channel.record, TtidewellFeedStore::TFailedArticle::storedReduced);
  store_.CollectArticleLinks(values.articleId, channel.pairs, row.body, *context.url, TrimUtf8(values.link));
  if (isNew) store_.AppendArticleId(values.articleId);
}

void TtidewellRssProcessor::WriteReducedArticle(const TChannel& channel, const TItemValues& values) {
  TArticleRow row;
  row.id = values.articleId;
  row.guid = values.key.empty() ? values.md5Key : values.key;
  row.created = row.modified = ReadItemDate(values.dateText, values.defaultDate);
  row.md5Key = values.md5Key;
  row.link = Absolute(values.link);
  store_.WriteReducedArticle(channel.feedId, row);
}

void TtidewellRssProcessor::UpdateFeedRow(TChannel& channel, const std::string& md5Text) {
  TtidewellFeedContext& context = store_.Context();
  TtidewellTrdJobPropClass& job = store_.Job();
  const TFeedProperty* record = channel.record;
  const TDateTime next = store_.NextUpdate(channel.feedId, record ? record->UpdateInterval : 0);
  TQueryWrapper* query = context.query;
  if (channel.isNew) store_.InsertNameSpaces(channel.feedId, channel.root);
  const bool withTitle = channel.isNew || record == nullptr || record->Title.empty();
  query->Close();
  query->SQL.Clear();
  query->SQL.Add("update feeds");
  query->SQL.Add("set link=substring(? from 1 for 1000),homepage=substring(? from 1 for 512),");
  query->SQL.Add("description=substring(? from 1 for 1000),page_lastmodified=?,");
  query->SQL.Add(
      "feedmodified=?,feedmodifiedTZ=substring(? from 1 for 20),etag=substring(? from 1 for 80),language_=substring(? "
      "from 1 for 5),feedMD5=?,");
  query->SQL.Add("last_feedupdate=?,next_feedupdate=?,feedCreated=?,feedCreatedTZ=substring(? from 1 for 20),");
  query->SQL.Add("username_=?,password_=?,lastHTTPCode=?,archiveSize=?,rtlEnabled=?,image=?");
  if (withTitle) query->SQL.Add(",title=substring(? from 1 for 512)");
  query->SQL.Add("where feed_id=?");
  query->Params(0).SetString(TrimUtf8(*context.url));
  query->Params(1).SetString(TrimUtf8(channel.homepage));
  query->Params(2).SetWideString(kt::TrimW(channel.description));
  std::optional<TDateTime> lastModified;
  if (!job.lastModified.empty() && !(job.lastModified[0] >= '0' && job.lastModified[0] <= '9'))
    lastModified = store_.LastModifiedUtc();
  if (lastModified)
    query->Params(3).SetDateTime(*lastModified);
  else
    query->Params(3).SetNull();
  query->Params(4).SetDateTime(channel.modified.value);
  query->Params(5).SetString(channel.modified.zone);
  query->Params(6).SetString(job.etag);
  query->Params(7).SetString(TrimUtf8(channel.language));
  query->Params(8).SetString(md5Text);
  query->Params(9).SetDateTime(TtidewellFeedStore::UtcNow());
  query->Params(10).SetDateTime(next);
  query->Params(11).SetDateTime(channel.published.value);
  query->Params(12).SetString(channel.published.zone);
  query->Params(13).SetString(*context.userName);
  query->Params(14).SetString(ScrambledPassword(*context.password));
  query->Params(15).SetInteger(job.httpCode);
  query->Params(16).SetInteger(channel.isNew || record == nullptr ? 0 : record->ArchiveSize);
  query->Params(17).SetInteger(channel.isNew || record == nullptr ? (IsRtlLanguage(channel.language) ? 1 : 0)
                                                                   : record->RtlEnabled);
  query->Params(18).SetString(UsableImageUrl(channel.image));
  if (withTitle) query->Params(19).SetWideString(channel.title);
  query->Params(withTitle ? 20 : 19).SetInteger(channel.feedId);
  ExecQueryTimed(query, false);
  query->Close();
}

}  // namespace tidewell
