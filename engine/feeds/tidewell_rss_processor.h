// SPDX-License-Identifier: MIT
// Stores one RSS 0.9x/2.0 or RSS 1.0 (RDF) document: the channel into the
// feed row (made for a feed being added), each item into a new or matched
// article, rewritten only when its title or description changed. Articles
// marked deleted are never revived.
//
// Threads: the worker's thread, inside the worker's transaction (committed
// at the end, rolled back on failure).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "engine/feeds/tidewell_article_keys.h"
#include "engine/feeds/tidewell_episode_identity.h"
#include "engine/feeds/tidewell_feed_store.h"

namespace tidewell {

class TArticles;
class TFeedProperty;
class TStoredArticlesIndex;

class TtidewellRssProcessor {
 public:
  // REQUIRES: the store and the documents of keys outlive the processor.
  explicit TtidewellRssProcessor(TtidewellFeedStore& store, TArticleKeyView keys = {});

  // Stores the document whose root is root; feedId below 1 makes a new feed
  // row (of type "RSS" or "RDF") and receives its id. Fires
  // SyncFeedProcessed. Any failure records ErrUnknown with its message
  // ("Fetch operation was aborted" for a stop), rolls back and passes on.
  void ProcessRssChannel(const std::string& md5Text, bool isRdf, const TFeedProperty* record,
                         const pugi::xml_node& root, int32_t& feedId);

  // The identity of an item of a stored feed: its guid (or rdf:about), else
  // the MD5 key of title and description, which md5Key always receives. Both
  // come out as earlier versions made them (TArticleKeyView).
  void GetRssItemKey(const pugi::xml_node& item, bool& hasGuid, std::string& key, std::string& link,
                     std::string& md5Key);

 private:
  struct TChannel;
  struct TItemValues;
  struct TMatch;

  size_t CountItems(const pugi::xml_node& root) const;
  void ReadChannel(TChannel& channel, const pugi::xml_node& root);
  void ReadChannelElement(TChannel& channel, const pugi::xml_node& child, const std::string& name);
  void ReadModifiedDate(TChannel& channel, const std::string& text);
  TZonedDate ItemDefaultDate(TChannel& channel) const;
  int32_t ProcessRssItem(TChannel& channel, const pugi::xml_node& item, const TZonedDate& defaultDate);
  TMatch FindStoredArticle(TChannel& channel, const pugi::xml_node& item);
  TStoredArticlesIndex& StoredIndex(TChannel& channel);
  TEpisodeFacts EpisodeFactsOf(const pugi::xml_node& item);
  void ReadItemElements(TChannel& channel, const pugi::xml_node& item, TItemValues& values,
                        TNewCustomTagsClass& tags);
  void ReadItemElement(TChannel& channel, const pugi::xml_node& child, TItemValues& values,
                       TNewCustomTagsClass& tags);
  void WriteArticle(TChannel& channel, TItemValues& values, TNewCustomTagsClass& tags, bool isNew);
  void WriteReducedArticle(const TChannel& channel, const TItemValues& values);
  void UpdateFeedRow(TChannel& channel, const std::string& md5Text);
  std::string ItemContentKey(const pugi::xml_node& item);
  std::string Absolute(const std::string& reference) const;
  void StoreItemEnclosures(TItemValues& values);

  TtidewellFeedStore& store_;
  TArticleKeyView keys_;
  std::string base_;
};

// An item's date text in UTC with its zone text (ReadFeedDate: RFC 822,
// ISO 8601, SQL style as UTC), else today's midnight ("L"); an empty text
// gives the default.
TZonedDate ReadItemDate(const std::string& text, const TZonedDate& defaultDate);

// The size of an enclosure's length attribute: 0 when blank, not a whole
// number, negative, or beyond what the size column holds.
int32_t EnclosureSize(const std::string& length);

}  // namespace tidewell
