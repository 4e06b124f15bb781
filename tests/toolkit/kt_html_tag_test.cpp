// SPDX-License-Identifier: MIT
#include "toolkit/kt_html_tag.h"

#include <gtest/gtest.h>

#include "kt_html_test_support.h"
#include "toolkit/kt_html_tag_filters.h"

namespace kt {
namespace {

WideString Appended(const TKtTag& tag, std::u16string_view value, TKtQuoteTags quote, bool* unquoted = nullptr) {
  WideString buffer;
  int used = 0;
  const bool result = tag.AppendAttribValue(value, buffer, used, quote);
  if (unquoted) *unquoted = result;
  buffer.resize(used);
  return buffer;
}

TEST(KtHtmlTag, SetAttribValueChangesTheFirstOrAppends) {
  TKtHtmlTag tag;
  tag.AddItem(u"href", u"a", 52);
  tag.AddItem(u"HREF", u"b", 52);
  EXPECT_TRUE(tag.SetAttribValue(52, u"href", u"c"));
  EXPECT_EQ(tag.GetSecondString(0), u"c");
  EXPECT_EQ(tag.GetSecondString(1), u"b");
  EXPECT_FALSE(tag.SetAttribValue(110, u"src", u"d"));
  EXPECT_EQ(tag.Count(), 3);
  EXPECT_EQ(tag.StringOfCardinal(110), u"d");
  EXPECT_EQ(tag.StringOfCardinal(1), u"");
}

TEST(KtHtmlTag, QuotingFollowsTheMode) {
  TKtHtmlTag html;
  TKtCustomTag custom;
  bool unquoted = false;
  EXPECT_EQ(Appended(html, u"", TKtQuoteTags::qtAlways, &unquoted), u"");
  EXPECT_FALSE(unquoted);
  EXPECT_EQ(Appended(html, u"x", TKtQuoteTags::qtSpecialChars, &unquoted), u"=x");
  EXPECT_TRUE(unquoted);
  EXPECT_EQ(Appended(html, u"a b", TKtQuoteTags::qtWhiteSpace), u"=\"a b\"");
  EXPECT_EQ(Appended(html, u"ab", TKtQuoteTags::qtWhiteSpace), u"=ab");
  EXPECT_EQ(Appended(html, u"'ab", TKtQuoteTags::qtWhiteSpace), u"=\"'ab\"");
  EXPECT_EQ(Appended(html, u"a\"b", TKtQuoteTags::qtAlways), u"='a\"b'");
  EXPECT_EQ(Appended(html, u"\"x\"'&{", TKtQuoteTags::qtAlways), u"='\"x\"&apos;&{'");
  EXPECT_EQ(Appended(custom, u"\"x\"'&{", TKtQuoteTags::qtAlways), u"='\"x\"&apos;&amp;{'");
  EXPECT_EQ(Appended(html, u"\"x'", TKtQuoteTags::qtAlways), u"=\"&quot;x'\"");
  EXPECT_EQ(Appended(html, u"a&b", TKtQuoteTags::qtSpecialChars), u"=\"a&b\"");
}

TEST(KtHtmlTag, ParseTagStringTakesTheFirstTagOrClears) {
  testing_html::RegisterNames();
  TKtHtmlTag tag;
  tag.ParseTagString(u"text <!-- <b> --> <XML version='1.0' encoding=\" utf-8 \"> <p>");
  EXPECT_EQ(tag.TagName, u"XML");
  EXPECT_EQ(tag.StringOfCardinal(41), u"utf-8");
  tag.ParseTagString(u"no tag at all");
  EXPECT_EQ(tag.TagName, u"");
  EXPECT_EQ(tag.Count(), 0);
}

TEST(KtHtmlTag, StreamAndAssignCarryTheWholeTag) {
  TKtHtmlTag tag;
  tag.TagName = u"Img";
  tag.TagID = 58;
  tag.EndTag = 2;
  tag.AddItem(u"src", u"a.gif", 110);
  TMemoryStream stream;
  {
    TKtBinaryWriter writer(stream, 64);
    tag.WriteToStream(writer, kKtStreamAll, nullptr);
  }
  stream.Seek(0, SeekOrigin::Beginning);
  TKtHtmlTag read;
  {
    TKtBinaryReader reader(stream, 64);
    read.ReadFromStream(reader, kKtStreamAll, nullptr);
  }
  EXPECT_EQ(read.TagName, u"Img");
  EXPECT_EQ(read.TagID, 58u);
  EXPECT_EQ(read.EndTag, 2);
  EXPECT_EQ(read.StringOfCardinal(110), u"a.gif");
  TKtSsiTag copy;
  copy.Assign(read);
  EXPECT_EQ(copy.TagName, u"Img");
  EXPECT_EQ(copy.GetString(0), u"src");
  copy.Clear();
  EXPECT_EQ(copy.TagID, 0u);
  EXPECT_EQ(copy.Count(), 0);
}

class RecordingOwner : public TKtTagFiltersOwner {
 public:
  void TagFiltersDestroyed(TKtTagFilters&) override { ++destroyed; }
  void TagFilterChanged(TKtTagFilters&, uint32_t tagID) override { changed.push_back(tagID); }
  int destroyed = 0;
  std::vector<uint32_t> changed;
};

TEST(KtTagFilters, SettingsNotifyOwnersOnlyOnChange) {
  RecordingOwner owner;
  auto filters = std::make_unique<TKtTagFilters>();
  filters->AddOwner(&owner);
  filters->SetStartTagFilter(0, TKtFilter::fiShow);
  EXPECT_TRUE(filters->TagIDs().empty());
  filters->SetEndTagFilter(58, TKtFilter::fiShowLocal);
  filters->SetStartTagFilter(58, TKtFilter::fiShow);
  filters->SetStartTagFilter(58, TKtFilter::fiShow);
  EXPECT_EQ(owner.changed, (std::vector<uint32_t>{58, 58}));
  EXPECT_EQ(filters->Word(58), 0xE8F0);
  filters->SetTagFilters({1, 67}, TKtFilter::fiHide);
  EXPECT_EQ(filters->Word(67), 0x81);
  const uint32_t more[] = {67, 110};
  filters->SetTagFilters(more, TKtFilter::fiShowShown);
  EXPECT_EQ(filters->Word(67), 0x84);
  EXPECT_EQ(filters->TagIDs().size(), 4u);
  filters.reset();
  EXPECT_EQ(owner.destroyed, 1);
}

TEST(KtTagFilters, OwnersAreCountedAndUnknownOnesIgnored) {
  RecordingOwner a;
  RecordingOwner b;
  TKtTagFilters filters;
  filters.AddOwner(&a);
  filters.AddOwner(&a);
  filters.RemoveOwner(&b);
  filters.RemoveOwner(&a);
  filters.SetStartTagFilter(1, TKtFilter::fiShow);
  EXPECT_EQ(a.changed.size(), 1u);
  filters.RemoveOwner(&a);
  filters.SetStartTagFilter(1, TKtFilter::fiHide);
  EXPECT_EQ(a.changed.size(), 1u);
}

TEST(KtTagFilter, ChangesCallTheHandlerOnce) {
  TKtTagFilter filter;
  int calls = 0;
  filter.OnChange = [&calls] { ++calls; };
  filter.SetStartAndEndTags(TKtFilter::fiShow);
  filter.SetStartTags(TKtFilter::fiShow);
  TKtTagFilter other;
  other.SetEndTags(TKtFilter::fiShowHidden);
  filter.Assign(other);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(filter.StartTags(), TKtFilter::fiHide);
  EXPECT_EQ(filter.EndTags(), TKtFilter::fiShowHidden);
}

}  // namespace
}  // namespace kt
