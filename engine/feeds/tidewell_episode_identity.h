// SPDX-License-Identifier: MIT
// When an announced item and a stored article are the same episode, and two
// enclosure addresses the same file: the one rule the RSS/RDF and Atom
// processors keep, and the enclosure rows of an article with them.
//
// What each mistake costs decides where the signals disagree: a copy costs
// the listener a second download of a file already heard; a missed episode
// costs the episode; an episode merged into an article whose file was
// fetched is recorded as downloaded though it never was, the worst of all.
//
// The rule, row by row; the first row that applies decides (JudgeEpisode):
//
//  row            | item and stored row share ...                 | so they are
//  ---------------+-----------------------------------------------+-------------
//  byKey          | the same key (guid, rdf:about, Atom id), no   | the same
//                 | other item of the document carrying it, not   |
//                 | the site's address (the feed's home page); of |
//                 | an article the listener deleted, unless the   |
//                 | item's own date moved or its files are others,|
//                 | and its texts are new                         |
//  keyedApart     | a key on both sides, not the same one;        | different
//                 | unless text key, link and file agree and no   |
//                 | date moved: a new guid on the same episode    |
//                 | (a key on one side only, guids written or     |
//                 | dropped, one several items of the document    |
//                 | carry, or the site's address, tells nothing:  |
//                 | the rows below decide)                        |
//  fileApart      | files, and not one of them the same file (of  | different
//                 | an article deleted heard: its downloaded ones)|
//  byTextKey      | the text key (title and text unchanged), the  | the same
//                 | item's own date not moved, its own page not   |
//                 | another unless dated alike (else: different)  |
//  (no title)     | the item has no title: nothing below tells    | different
//  byOwnLink      | a link no other item or article has, and the  | the same
//                 | title (or one typo of it)                     |
//  byOwnFile      | a file no other item or article has, and the  | the same
//                 | title (or one typo of it)                     |
//  byOwnDate      | the item's own date, no other item has it,    | the same
//                 | link not apart, and the title (or one typo)   |
//  byTitle        | the title, and the link or the file, dates    | the same
//                 | not apart                                     |
//  otherwise      |                                               | different
//
// Why: a key is the publisher's own word, so a changed query, host or
// length never makes a new episode of an item found by its key. Without
// one a different file is a different episode: merging it would mark it
// downloaded. The text key holds while nothing changed; a page or a file
// of the episode's own holds while its text (a play counter, a corrected
// title, re-wrapped white space) changes. A title decides only where link
// and file are shared by several episodes, and there a date that moved
// keeps them apart, since a missed episode costs more than a copy. A date
// two episodes share (a latest-only feed that copies it) is not a title.
// An item a document lists twice is one episode (the processors skip its
// second listing). A date that every item of a document moved by the same
// amount since stored, or one date on every item, is the feed's stamp at
// each fetch: there keyed items are judged as undated (shares.stampedDate).
// Items without key keep their dates: bulletins at fixed addresses with
// the same texts move their dates alike from one edition to the next.
// Elsewhere the same texts under a moved date, or on a page of its own that
// is another, are the next edition of a bulletin at one address.
// An article deleted unheard has lost its title; the addresses of its
// files stay (a deletion by an earlier version kept none): its own link
// stands for it while no date moved, its own date always, and files
// apart tell it from the next episode. A deleted
// article is never written again, so under its key a moved date with new
// texts is the next episode the publisher gave that key.
//
// Two enclosures are the same file (SameFile), the first row deciding:
//
//  row        | they share ...                                   | so they are
//  -----------+--------------------------------------------------+------------
//  address    | the file: its path, scheme and host aside, or the | the same
//             | query of a file named by it, tokens aside; and    |
//             | lengths not apart                                 |
//  moved      | the file name, in an episode whose texts and date | the same
//             | are as they were (files moved under another path, |
//             | or corrected at their address); or found by its   |
//             | key, texts as they were, date not moved, with the |
//             | same known length (a file renamed in place)       |
//  otherwise  |                                                   | different
//
// A file is its path without scheme and host (a CDN switch moves a file,
// it makes no new one), and without the counter's prefix before a host
// named in the path; where the path is a script or names no file,
// its query without tokens and signatures. Its folders are part of it:
// many hosts name every episode's file alike (/ep/123/audio.mp3), and
// bulletins announce one length, so a file name, with or without its
// length, never makes two files one outside an unchanged episode. A
// path segment is a host only when it provably is one (letter-digit-
// hyphen labels, the last of letters): dotted dates (2026.12.07) and
// versions (v1.2) are folders. Announced lengths tell files
// apart only where both are known (above 0). A stored enclosure row keeps
// "downloaded" across a change of its URL only for the same file: any
// other file an item brings is a new download, whatever row joined it.
//
// Keys and links are compared with their scheme aside: a site that moves
// to https makes no new page, file or key.
//
// Titles are compared trimmed, inner white space as one blank, case
// folded, as far as the title column keeps them. A corrected typo is one
// letter put in, left out, changed, or two swapped; a changed digit is the
// next episode, and so is a changed part numeral or letter ("Part II",
// "Part B": a word of roman numerals or of one letter).
//
// Where the signals cannot tell, the rule takes a copy over a loss. The
// joins that may copy an episode (a second download of one heard):
//  - an item whose file moved (another path or folder, another length at
//    its address) while its feed gives no date, or while its texts or date
//    changed too;
//  - an item of a document that gives several items its key, when its
//    texts change;
//  - an item whose title word of roman numerals or of one letter is
//    corrected (taken for the next part);
//  - an article deleted heard comes back when the publisher re-uploads
//    its file under another name; one deleted unheard likewise, where the
//    deletion kept the addresses of its files;
//  - an item whose publisher re-dates it without changing its texts, in a
//    document where the other items' dates did not move alike (a feed of
//    one item that stamps each fetch is copied at each fetch, and so is
//    a feed without keys that stamps each fetch);
//  - an item whose guid the publisher drops or replaces while its texts
//    change: only the text key finds an article stored with a key;
//  - an item without key that only its title tells apart (its link and
//    file shared, no dates), when the title is corrected;
//  - an article deleted unheard without key, own link or own date comes
//    back when its text changes: the deletion keeps nothing to find it by;
//  - an article deleted, found by its key, comes back when the publisher
//    moves the item's own date (or dates it for the first time) and edits
//    its texts.
// The joins that can still lose an episode, where nothing tells the two
// apart: a publisher without keys gives the next episode the date of the
// last one right after the listener deleted that one unheard, in a feed
// whose files share one address or where an earlier version deleted it
// (kept no file addresses); a publisher reuses the key of an episode the
// listener deleted with the deleted one's title and text, or with its file
// address in a feed that gives no dates; a document stamped at each fetch
// whose new episode repeats an earlier one's texts at its file address
// (keyed bulletins at fixed addresses, a new guid and date per edition,
// two or more in one document, read as such a stamp).
//
// Threads: any; pure functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/tidewell_struct.h"

namespace tidewell {

// An enclosure: its absolute URL and announced length (0: not known).
struct TEpisodeFile {
  std::string url;
  int32_t length = 0;
};

// What one side shows of an episode.
struct TEpisodeFacts {
  bool keyed = false;       // key is the publisher's, not made of texts
  std::string key;          // as stored (cut to the column)
  std::string textKey;      // MD5 key of its texts
  std::string link;         // trimmed, absolute
  std::string relativeLink; // as a document gave it, when relative (earlier versions stored it so)
  std::u16string title;     // ComparableTitle; empty when not known
  bool titleKnown = true;   // false for an article deleted unheard
  std::optional<TDateTime> date;  // its own date (UTC)
  std::vector<TEpisodeFile> files;
  bool filesKnown = true;   // all of them: false for a deleted article
  bool deleted = false;     // by the listener
};

// Whether the signals the item holds are shared by several episodes of
// the document or of the stored articles.
struct TEpisodeShares {
  bool ownLink = false;
  bool ownFile = false;
  bool ownDate = false;
  bool ownTitle = false;  // no other item of the document has title and link
  bool sharedKey = false; // another item of the document has the item's key, or it is the site's address
  bool stampedDate = false;  // the document's dates are the feed's stamp
};

// What an episode's verdict tells of its files (SameFile's "moved" row):
// nothing; a file of the same name and known length is the one moved (an
// episode found by its key, texts as they were, its date not moved); a
// file of the same name is, whatever its length (texts and date as they
// were: a file corrected at its address).
enum class TFileMoves { none, sameNameAndLength, sameName };

enum class TEpisodeRow { byKey, keyedApart, fileApart, byTextKey, byOwnLink, byOwnFile, byOwnDate, byTitle, none };

struct TEpisodeVerdict {
  bool same = false;
  TEpisodeRow row = TEpisodeRow::none;
  // How the episode's files may have moved (SameFile).
  TFileMoves moves = TFileMoves::none;
};

// The rule of the table above.
TEpisodeVerdict JudgeEpisode(const TEpisodeFacts& item, const TEpisodeFacts& stored, const TEpisodeShares& shares);

// A title as the rule compares it.
std::u16string ComparableTitle(const std::u16string& title);

// Whether the URL names its file only by its query.
bool NamedByQuery(const std::string& url);
// What tells the file of an enclosure URL (see above).
std::string EnclosureFileIdentity(const std::string& url);
// Announced lengths tell files apart only when both are known (above 0).
inline bool SameAnnouncedLength(int32_t a, int32_t b) { return a <= 0 || b <= 0 || a == b; }
// Two enclosures are the same file (the table above); moves as the
// verdict of the episode that holds them tells.
bool SameFile(const TEpisodeFile& a, const TEpisodeFile& b, TFileMoves moves = TFileMoves::none);
// The last segment of a URL's path when it names a file; else empty.
std::string FileNameOf(const std::string& url);
// A page, file or key address as the rule compares it: scheme aside,
// ASCII case folded.
std::string ComparableAddress(const std::string& url);

}  // namespace tidewell
