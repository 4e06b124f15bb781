// SPDX-License-Identifier: MIT
// When two addresses name the same feed, and how a given address is stored.
// Every comparison of feed addresses in the engine goes through
// FeedAddressKey (AddFeed, FindFeedIdByUrl, a list's merge, the check of a
// feed added by URL), so that they all agree; the place that credentials
// belong to is the front part of the same key (CredentialsPlace). Both read
// the address with ParseAddress, as libcurl reads it when it connects: the
// place credentials are kept for, the host they are sent to and the key
// cannot disagree.
#pragma once

#include <string>
#include <string_view>

namespace tidewell {

// The place that credentials are given for and sent to, as
// "scheme://host:port", and the front of every feed address key:
//
//   part       | rule                              | one place                  | two places
//   -----------+-----------------------------------+----------------------------+---------------------------
//   blanks     | around the address ignored        | " http://h/" = "http://h/" |
//   scheme     | ASCII case ignored; none = http   | HTTP://h = http://h = h    | https://h vs http://h
//   user-info  | not part of it; it ends at the    | http://a:s@h = http://h    | http://h:8080/x@o/f is
//              | authority's first "@"             |                            | h:8080, not o
//   host       | one spelling (CanonicalHostName): | LOCALHOST = localhost,     | 127.0.0.1 vs 127.0.0.2,
//              | case, an international name and   | bücher.example =           | h vs h., ß.de vs ẞ.de,
//              | its lookup form, IPv6 written out | XN--BCHER-KVA.example,     | two xn-- spellings of
//              | or shortened make no difference   | [0:0:0:0:0:0:0:1] = [::1]  | one name
//   unreadable | libcurl refuses it: at no place,  |                            | any readable address
//              | where no credentials go           |                            |
//   port       | the scheme's own (80, 443) = none | http://h:80 = http://h     | http://h:8080 vs http://h,
//              |                                   | https://h:443 = https://h  | https://h:80 vs https://h
//   the rest   | not part of it                    | http://h/a = http://h/b    |
std::string CredentialsPlace(std::string_view url);
bool SamePlace(std::string_view a, std::string_view b);

// The feed address key: two addresses name the same feed exactly when their
// keys are equal.
//
//   part       | rule                                   | same feed              | two feeds
//   -----------+----------------------------------------+------------------------+-------------------------
//   place      | as CredentialsPlace: credentials, case | http://a:s@H:80/f =    | https://h/f vs http://h/f
//              | of scheme and host, default port and a | h/f                    |
//              | missing scheme make no difference      |                        |
//   path       | ASCII case ignored; empty = "/";       | /Feed = /feed,         | /f/ vs /f, /a%2Fb vs /a/b,
//              | escaped letters, digits, "-._~" are    | http://h = http://h/,  | /a/../f vs /a/f
//              | the characters; "." and ".." segments  | /%7Ea = /~a,           |
//              | resolved                               | /a/../f = /./f = /f    |
//   query      | ASCII case ignored, "?" included;      | ?Q=1 = ?q=1,           | ?a=1 vs ?a=2,
//              | escaped unreserved characters as in    | ?%61=1 = ?a=1          | ?a&b vs ?b&a, /f? vs /f,
//              | the path (dots stay)                   |                        | ?a=%2F vs ?a=/
//   fragment   | ignored: it never reaches the server   | /f#top = /f            |
//
// Letter case is ignored in the whole address, as feeds were always found:
// a list or a setting that writes a stored feed's address in other letters
// must find that feed, not delete it and subscribe it again.
// A deleted feed's link ("DELMARKED:" + link) names no address but its own;
// so does an address libcurl cannot read ("unread:" + its text, lower case).
std::string FeedAddressKey(std::string_view url);
bool SameFeedAddress(std::string_view a, std::string_view b);

// A text that every address naming the same feed holds in some letter case
// unless it writes an escape (the longest run of letters and digits of its
// last path segment and query, its first 100 characters), for a look-up to
// narrow stored links down by before SameFeedAddress decides; empty (every
// link) when there is none. kFeedAddressLookupCondition is the look-up's
// condition on the link column, with the text as its one parameter: a link
// holding an escape ("%46eed" for "feed") is always a candidate.
std::string FeedAddressLookupText(std::string_view url);
extern const char kFeedAddressLookupCondition[];

// A permanent change of a feed's address, weighed against the place its
// credentials belong to (the place of its address before the change; an
// address never moves away from its credentials' place while it holds them,
// so the two stay one):
//
//   the new address is ...         | no credentials | credentials, 301 | credentials, a page's feed
//                                  |                |                  | or a list's new address
//   -------------------------------+----------------+------------------+---------------------------
//   at the same place              | moved          | moved, kept      | moved, kept
//   at another place: host, port,  | moved          | not moved        | moved, credentials left
//   scheme (https to http included)|                |                  | behind (columns emptied)
//
// A 301 not stored costs one redirect per pass; a page's feed not adopted
// would never be read, so there the new place must ask for its own through
// the authentication event.
enum class TAddressChange { kPermanentRedirect, kAdoptedAddress };
enum class TAddressMove { kMove, kMoveWithoutCredentials, kStay };
TAddressMove DecideAddressMove(TAddressChange change, std::string_view credentialsPlace, std::string_view newAddress,
                               bool withCredentials);

// An address as a feed row keeps it: trimmed, "http://" in front when it has
// no scheme, and any user-info taken out of the link into the credentials
// (decoded). Raises "Invalid URL !" for a blank address, kUserInfoNotEscaped
// for one whose user-info holds a raw "/", "?" or "#" (UserInfoNeedsEscaping).
struct TFeedAddress {
  std::string link;
  std::string userName;
  std::string password;
  bool withCredentials = false;
};
TFeedAddress FeedAddressForStorage(const std::string& url);

}  // namespace tidewell
