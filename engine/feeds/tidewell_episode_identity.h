// SPDX-License-Identifier: MIT
// When two announcements are the same episode, and two enclosure addresses
// the same file: the one rule the RSS/RDF and Atom processors keep.
//
// An episode without a key (no guid, rdf:about or Atom id) is told by its
// title under its link, else under its file: a counter or a rotating advert
// in its text leaves it the same episode, a new title makes a new one; an
// item without a title is the same episode as nothing. An article deleted
// unheard has lost its title; there the item's own date stands for it, and
// without one it is the same episode as nothing.
//
// A file is told by its address without query and fragment, a token or a
// signature set aside, unless the address names its file only by its query
// (a download script or a path without a file name): there the query is the
// file. A file whose announced length changed is another file.
//
// Threads: any; pure functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/tidewell_struct.h"

namespace tidewell {

class TArticleProperty;

// An item without a key, as the document has it.
struct TKeylessItem {
  std::u16string title;                // as it is stored (text, or markup for Atom)
  std::optional<TDateTime> published;  // its own readable date (UTC), if any
  std::string link;                    // as the document has it
  std::string enclosureUrl;            // its first enclosure, absolute
};

// Whether the stored keyless article is the episode the item announces
// (the link or file is already known to be the same).
bool SameEpisode(const TArticleProperty& stored, const TKeylessItem& item);

// The title as the title column keeps it (cut to its width), trimmed.
std::u16string StoredTitleOf(const std::u16string& title);

// Whether the URL names its file only by its query.
bool NamedByQuery(const std::string& url);
// What tells the file of an enclosure URL: the URL without fragment, and
// without its query unless the query names the file.
std::string EnclosureFileIdentity(const std::string& url);
// Announced lengths tell files apart only when both are known (above 0).
inline bool SameAnnouncedLength(int32_t a, int32_t b) { return a <= 0 || b <= 0 || a == b; }

}  // namespace tidewell
