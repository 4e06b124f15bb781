// SPDX-License-Identifier: MIT
// Stores one Atom 0.3 or 1.0 document: the feed's elements into the feed
// row (made, of type "ATOM", for a feed being added), each entry into a new
// or matched article (matched by its id, else by the MD5 key of its texts),
// rewritten only when its date or, without one, its texts changed.
//
// Threads: the worker's thread, inside the worker's transaction. Unlike the
// RSS processor, a failure is recorded (ErrUnknown and its message, or
// "Fetch operation was aborted") and the work rolled back, but not raised.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "engine/feeds/tidewell_article_keys.h"
#include "engine/feeds/tidewell_episode_identity.h"
#include "engine/feeds/tidewell_feed_store.h"

namespace tidewell {

class TStoredArticlesIndex;

class TFeedProperty;

class TtidewellAtomProcessor {
 public:
  // REQUIRES: the store and the documents of keys outlive the processor.
  explicit TtidewellAtomProcessor(TtidewellFeedStore& store, TArticleKeyView keys = {});

  void ProcessAtomFeed(const std::string& md5Text, int32_t& feedId, const TFeedProperty* record, bool isAtom10,
                       const pugi::xml_node& root);

  // The entry's first non-empty ID, else the MD5 key of its title and of
  // its content followed by its summary, as earlier versions made it
  // (TArticleKeyView).
  std::string GetAtomEntryKey(const pugi::xml_node& entry);
  // The MD5 key of the entry's title and of its content followed by its
  // summary (a long summary standing in for missing content).
  std::string EntryContentKey(const pugi::xml_node& entry);

 private:
  struct TFeed;
  struct TEntry;

  void ReadFeed(TFeed& feed);
  void ReadFeedElement(TFeed& feed, const pugi::xml_node& child, const std::string& name);
  int32_t ProcessAtomEntry(TFeed& feed, const pugi::xml_node& entry);
  std::string EntryBase(const pugi::xml_node& entry) const;
  void ReadEntryElement(TFeed& feed, TEntry& entry, const pugi::xml_node& child);
  void ReadEntryLink(TFeed& feed, TEntry& entry, const pugi::xml_node& link);
  void EntryIdentity(const pugi::xml_node& entry, std::string& link, std::vector<TEpisodeFile>& files) const;
  TStoredArticlesIndex& StoredIndex(TFeed& feed);
  TEpisodeFacts EpisodeFactsOf(const pugi::xml_node& entry);
  bool EntryChanged(const TEntry& entry, TDateTime storedModified, const std::string& storedMD5) const;
  void WriteEntry(TFeed& feed, TEntry& entry, bool isNew);
  std::string Homepage(const TFeed& feed) const;
  void UpdateFeedRow(TFeed& feed, const std::string& md5Text);

  TtidewellFeedStore& store_;
  TArticleKeyView keys_;
  std::string documentBase_;
};

}  // namespace tidewell
