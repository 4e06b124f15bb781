// SPDX-License-Identifier: MIT
#include "engine/addresses/feed_address.h"
#include "engine/addresses/url_parts.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

namespace tidewell {
namespace {

struct Pair {
  std::string a;
  std::string b;
};

// Each row of the key's table from both sides: the case to join and the
// nearest case to keep apart.
TEST(FeedAddressTest, SameFeedJoinsWhatTheTableJoins) {
  const std::vector<Pair> same = {
      {" http://h/f ", "http://h/f"},
      {"HTTP://h/f", "http://h/f"},
      {"h/f", "http://h/f"},
      {"http://ann:secret@h/f", "http://h/f"},
      {"http://ann@h/f", "http://bob:other@h/f"},
      {"http://LOCALHOST/f", "http://localhost/f"},
      {"http://[::1]/f", "http://u:p@[::1]:80/f"},
      {"http://h:80/f", "http://h/f"},
      {"https://h:443/f", "https://h/f"},
      {"http://h", "http://h/"},
      {"http://h?q=1", "http://h/?q=1"},
      {"http://h/a%2fb", "http://h/a%2Fb"},
      {"http://h/f?x=%c3%a9", "http://h/f?x=%C3%A9"},
      {"http://h/f#top", "http://h/f"},
      {"http://h/Feed.XML?Q=1", "http://h/feed.xml?q=1"},
      {"http://ann:secret@H:80/f#x", "h/f"},
      {"http://h/%7Efeed.xml", "http://h/~feed.xml"},
      {"http://h/%61/f?%62=%2d", "http://h/a/f?b=-"},
      {"http://h/a/../feed.xml", "http://h/feed.xml"},
      {"http://h/a/./b/../f/..", "http://h/a/"},
      {"http://[0:0:0:0:0:0:0:1]/f", "http://[::1]/f"},
      {"http://[::FFFF:127.0.0.1]:80/f", "http://[::ffff:7f00:1]/f"},
      {"http://b\xC3\xBC" "cher.example/f", "http://xn--bcher-kva.example/f"},
      {"http://B\xC3\x9C" "CHER.example/f", "http://XN--BCHER-KVA.example/f"},
      {"http://\xD0\x9F\xD0\xA0\xD0\x98\xD0\x9C\xD0\x95\xD0\xA0.xn--80akhbyknj4f/f", "http://xn--e1afmkfd.XN--80AKHBYKNJ4F/f"},
  };
  for (const Pair& p : same) {
    EXPECT_TRUE(SameFeedAddress(p.a, p.b)) << p.a << " | " << p.b;
    EXPECT_TRUE(SameFeedAddress(p.b, p.a)) << p.b << " | " << p.a;
  }
}

TEST(FeedAddressTest, SameFeedKeepsApartWhatTheTableKeepsApart) {
  const std::vector<Pair> apart = {
      {"https://h/f", "http://h/f"},
      {"http://127.0.0.1/f", "http://127.0.0.2/f"},
      {"http://h/f", "http://h./f"},
      {"http://h:8080/f", "http://h/f"},
      {"https://h:80/f", "https://h/f"},
      {"http://h:443/f", "https://h/f"},
      {"http://h/f/", "http://h/f"},
      {"http://h/a%2Fb", "http://h/a/b"},
      {"http://h/f?a=1", "http://h/f?a=2"},
      {"http://h/f?a=1&b=2", "http://h/f?b=2&a=1"},
      {"http://h/f?", "http://h/f"},
      {"DELMARKED:http://h/f", "http://h/f"},
      {"http://h/a/../f", "http://h/a/f"},
      {"http://h/f?a=%2F", "http://h/f?a=/"},
      {"http://h/f?p=/a/../b", "http://h/f?p=/b"},
      {"http://h/%2E%2E/f", "http://h/%2E%2E%2Ff"},
      {"http://[::1]/f", "http://[::2]/f"},
      {"http://b\xC3\xBC" "cher.example/f", "http://bucher.example/f"},
  };
  for (const Pair& p : apart) {
    EXPECT_FALSE(SameFeedAddress(p.a, p.b)) << p.a << " | " << p.b;
    EXPECT_FALSE(SameFeedAddress(p.b, p.a)) << p.b << " | " << p.a;
  }
}

TEST(FeedAddressTest, PlaceIsSchemeHostAndPort) {
  const std::vector<Pair> same = {
      {"http://localhost/a", "http://LOCALHOST/b"},
      {"http://h:80/", "http://h/"},
      {"https://h:443/x", "https://u:p@H/y?z"},
      {"h/a", "http://h/b"},
  };
  for (const Pair& p : same) EXPECT_TRUE(SamePlace(p.a, p.b)) << p.a << " | " << p.b;
  const std::vector<Pair> apart = {
      {"https://h/f", "http://h/f"},
      {"http://127.0.0.1/f", "http://127.0.0.2/f"},
      {"http://h:8080/f", "http://h/f"},
      {"https://h:80/f", "http://h:80/f"},
  };
  for (const Pair& p : apart) EXPECT_FALSE(SamePlace(p.a, p.b)) << p.a << " | " << p.b;
  EXPECT_EQ(CredentialsPlace("HTTPS://Ann:x@Feeds.Example.org/f"), "https://feeds.example.org:443");
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Every letter, digit and "~" written as an escape, as some encoders do.
std::string EscapedUnreserved(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (std::isalnum(static_cast<unsigned char>(c)) == 0 && c != '~') escaped += c;
    else escaped += std::string("%") + "0123456789ABCDEF"[(c >> 4) & 15] + "0123456789ABCDEF"[c & 15];
  }
  return escaped;
}

// What the world changes in an address must not change the feed it names,
// and what changes the feed must change the key.
TEST(FeedAddressTest, KeyPropertiesUnderChangesOfTheAddress) {
  const std::vector<std::string> addresses = {"http://h/f", "https://h:8443/a/B.xml?x=1", "http://[::1]/p",
                                              "http://127.0.0.2/feed/", "http://b\xC3\xBC" "cher.example/f~"};
  for (const std::string& address : addresses) {
    const size_t at = address.find("://") + 3;
    const std::string withCredentials = address.substr(0, at) + "u%40x:p%40ss" + "@" + address.substr(at);
    EXPECT_TRUE(SameFeedAddress(address, withCredentials)) << address;
    EXPECT_TRUE(SameFeedAddress(address, address + "#fragment")) << address;
    std::string upperPlace = address;
    for (size_t i = 0; i < address.find('/', at); ++i) upperPlace[i] = static_cast<char>(std::toupper(upperPlace[i]));
    EXPECT_TRUE(SameFeedAddress(address, upperPlace)) << address;
    EXPECT_NE(Lower(upperPlace).find(FeedAddressLookupText(address)), std::string::npos) << address;
    const size_t path = address.find('/', at);
    EXPECT_TRUE(SameFeedAddress(address, address.substr(0, path) + "/x/.." + address.substr(path))) << address;
    EXPECT_TRUE(SameFeedAddress(address, address.substr(0, path) + EscapedUnreserved(address.substr(path))))
        << address;
    EXPECT_FALSE(SameFeedAddress(address, address + "x")) << address;
    EXPECT_FALSE(SameFeedAddress(address, address + "?")) << address;
    const std::string otherScheme = address.rfind("https", 0) == 0 ? "http" : "https";
    EXPECT_FALSE(SameFeedAddress(address, otherScheme + address.substr(address.find(':')))) << address;
  }
}

TEST(FeedAddressTest, StoredAddressHoldsNoCredentialsAndIsFoundByTheGivenOne) {
  const TFeedAddress stored = FeedAddressForStorage("  ann:secret@h:8080/private.xml ");
  EXPECT_EQ(stored.link, "http://h:8080/private.xml");
  EXPECT_TRUE(stored.withCredentials);
  EXPECT_EQ(stored.userName, "ann");
  EXPECT_EQ(stored.password, "secret");
  EXPECT_TRUE(SameFeedAddress(stored.link, "http://ann:secret@h:8080/private.xml"));
  const TFeedAddress open = FeedAddressForStorage("https://h/open.xml");
  EXPECT_EQ(open.link, "https://h/open.xml");
  EXPECT_FALSE(open.withCredentials);
  EXPECT_THROW(FeedAddressForStorage("  "), std::exception);
  // Written without a scheme but with "//", as a list may name it: the
  // password is taken out all the same, never kept in the link.
  const TFeedAddress schemeRelative = FeedAddressForStorage("//ann:secret@www.h/private.xml");
  EXPECT_EQ(schemeRelative.link, "http://www.h/private.xml");
  EXPECT_EQ(schemeRelative.password, "secret");
}

}  // namespace
}  // namespace tidewell

namespace tidewell {
namespace {

// Host names as libcurl resolves them (libidn2, UTS 46 non-transitional):
// what it sends to two hosts is two places, what it sends to one is one.
TEST(FeedAddressTest, HostNamesAreOnePlaceExactlyWhereTheResolverSeesOneHost) {
  const std::vector<Pair> same = {
      {"http://stra\xC3\x9F" "e.example/f", "http://xn--strae-oqa.example/f"},       // ß kept
      {"http://\xE1\xBA\x9E.example/f", "http://ss.example/f"},                       // ẞ is "ss"
      {"http://\xEF\xAC\x81sh.example/f", "http://fish.example/f"},                  // the ligature fi
      {"http://XN--STRAE-OQA.example/f", "http://xn--strae-oqa.example/f"},
      {"http://%62%C3%BCcher.example/f", "http://xn--bcher-kva.example/f"},
  };
  for (const Pair& p : same) {
    EXPECT_TRUE(SamePlace(p.a, p.b)) << p.a << " | " << p.b;
    EXPECT_TRUE(SameFeedAddress(p.a, p.b)) << p.a << " | " << p.b;
  }
  const std::vector<Pair> apart = {
      {"http://\xE1\xBA\x9E.example/f", "http://\xC3\x9F.example/f"},  // ss.example vs xn--zca.example
      {"http://xn--zca.example/f", "http://ss.example/f"},
      // Two ASCII names that differ in the case of an encoded letter ("bÜcher"
      // and "bücher") are two names to DNS, which folds ASCII case only.
      {"http://xn--bcher-2pa.example/f", "http://xn--bcher-kva.example/f"},
  };
  for (const Pair& p : apart) {
    EXPECT_FALSE(SamePlace(p.a, p.b)) << p.a << " | " << p.b;
    EXPECT_FALSE(SameFeedAddress(p.a, p.b)) << p.a << " | " << p.b;
  }
}

// A host longer than DNS allows names no server: it is at no place (no
// credentials go there) and a request for it is refused before any work.
TEST(FeedAddressTest, AHostLongerThanDnsAllowsIsRefused) {
  const std::string longest = std::string(63, 'a') + "." + std::string(63, 'b') + "." + std::string(63, 'c') + "." +
                              std::string(61, 'd');  // 253 characters
  EXPECT_FALSE(CredentialsPlace("http://" + longest + "/f").empty());
  std::string international;
  for (int i = 0; i < 40000; ++i) international += "\xC3\xBC";  // 40,000 code points
  for (const std::string& name : {longest + "d", std::string(40000, 'a'), international}) {
    const std::string address = "http://u:p@" + name + "/f";
    EXPECT_TRUE(CredentialsPlace(address).empty()) << name.size();
    EXPECT_FALSE(SamePlace(address, address)) << name.size();
    EXPECT_THROW(RequestUrl(address), std::exception) << name.size();
    EXPECT_EQ(UrlWithoutCredentials(address).find("u:p"), std::string::npos) << name.size();
  }
}

}  // namespace
}  // namespace tidewell
