// SPDX-License-Identifier: MIT
#include "engine/model/new_custom_tags_class.h"

#include <gtest/gtest.h>

#include "toolkit/exception.h"

namespace {

using namespace tidewell;

TEST(NewCustomTagsClassTest, AddKeepsTheOrderOfCallsAndStartsRowsUnmarked) {
  TNewCustomTagsClass tags;
  TNewCustomTagBaseProperty* first = tags.Add("media:rating", u"adult");
  tags.Add("itunes:author", u"Zoë");
  ASSERT_EQ(tags.Count(), 2);
  EXPECT_EQ(tags.GetItem(0), first);
  EXPECT_EQ(tags.GetItem(0)->Name, "media:rating");
  EXPECT_EQ(tags.GetItem(1)->Name, "itunes:author");
  EXPECT_EQ(tags.GetItem(1)->Value, u"Zoë");
  EXPECT_FALSE(first->Store);
  EXPECT_EQ(first->OwnerId, 0);
  EXPECT_EQ(first->Owner, nullptr);
  EXPECT_EQ(first->Children().Count(), 0);
}

TEST(NewCustomTagsClassTest, IndexOutsideTheListRaisesInvalidItemIndex) {
  TNewCustomTagsClass tags;
  tags.Add("a", u"1");
  for (int32_t index : {-1, 1}) {
    try {
      tags.GetItem(index);
      FAIL() << "index " << index;
    } catch (const kt::Exception& e) {
      EXPECT_EQ(e.Message(), "Invalid item index") << "index " << index;
    }
  }
}

TEST(NewCustomTagsClassTest, AttributesLiveInTheRowsChildListAndClearFreesAll) {
  TNewCustomTagsClass tags;
  TNewCustomTagBaseProperty* tag = tags.Add("media:content", u"");
  tag->Children().Add("url", u"http://example.org/a.mp3");
  tag->Children().Add("type", u"audio/mpeg");
  ASSERT_EQ(tag->Children().Count(), 2);
  EXPECT_EQ(tag->Children().GetItem(1)->Value, u"audio/mpeg");
  tags.Clear();
  EXPECT_EQ(tags.Count(), 0);
  EXPECT_THROW(tags.GetItem(0), kt::Exception);
}

}  // namespace
