// SPDX-License-Identifier: MIT
#include "engine/tidewell_msg.h"

#include <gtest/gtest.h>

#include "engine/tidewell_struct.h"

namespace tidewell {
namespace {

TEST(MessageTableTest, HoldsFiftySevenTextsAndSkipsForeignIds) {
  EXPECT_EQ(MessageCount(), 57);
  for (int id : {65214, 65215, 65248, 65249, 65250, 65251, 65252}) EXPECT_STREQ(MessageText(id), "") << id;
  EXPECT_STREQ(MessageText(65200), "Can't perform operation, query open ?");
  EXPECT_STREQ(MessageText(65263), "No RSS URLs found !\r\n%s");
}

TEST(MessageTableTest, KeepsBlanksAndQuotesAsWritten) {
  EXPECT_STREQ(MessageText(kDatetimeEmpty), "Datetime value was empty  !");
  EXPECT_STREQ(MessageText(kEnclosureRenameFailed), "Enclosure rename failed ! Error  code : %d");
  EXPECT_STREQ(MessageText(kEnclosureInsertUpdateFailed), "Enclosure insert/update failed ! ");
  EXPECT_STREQ(MessageText(kFeedAlreadyInDatabase), "Feed (%s) is already in database ");
  EXPECT_STREQ(MessageText(kGroupingFunctionError), "Error in grouping function ! \r\n\r\n%s");
}

TEST(MessageTableTest, RaisedMessagesAreFormatted) {
  try {
    RaiseMessage(kDatabaseFileNotFound, std::string("/tmp/x.fdb"));
    FAIL();
  } catch (const kt::Exception& error) {
    EXPECT_EQ(error.Message(), "Database file \"/tmp/x.fdb\" not found");
  }
  EXPECT_EQ(FormatText(MessageText(kNoRssUrlsFound), std::string()), "No RSS URLs found !\r\n");
  EXPECT_EQ(FormatText(MessageText(kFeedTooLarge), 6000000, 5242880),
            "Feed size (6000000 bytes) too large. Quata size 5242880 bytes");
  EXPECT_EQ(FormatText(MessageText(kMaxRedirectsExceeded), 6), "Max redirects exceeded ! Max. 6");
}

TEST(SharedEnumerationsTest, OrdinalsAndNamesRoundTrip) {
  EXPECT_EQ(EnumFromOrdinal<TArticleFlagType>(7), TArticleFlagType::cFTNoChange);
  EXPECT_EQ(EnumFromOrdinal<TArticleReadStatus>(3), TArticleReadStatus::cRSNoChange);
  EXPECT_EQ(EnumFromOrdinal<TArticleReadStatus>(4), std::nullopt);
  EXPECT_STREQ(EnumName(TQueueJobTypes::CgetOpmlData), "CgetOpmlData");
  EXPECT_EQ(EnumFromName<TErrorCategory>("ErrXMLparse"), TErrorCategory::ErrXMLparse);
  EXPECT_EQ(Ordinal(TErrorCategory::ErrUnknown), 6);
  EXPECT_EQ(RightToLeftLanguageCodes(), (std::vector<std::string>{"FA", "AR", "HE"}));
}

}  // namespace
}  // namespace tidewell
