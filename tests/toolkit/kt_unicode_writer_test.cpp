// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "toolkit/kt_unicode.h"
#include "toolkit/kt_unicode_codecs.h"
#include "toolkit/kt_unicode_encodings.h"

namespace kt {
namespace {

// A stream that takes at most `room` bytes in all, as a full disk would.
class FullStream : public TMemoryStream {
 public:
  explicit FullStream(int64_t room) : room_(room) {}
  int64_t Write(const void* buffer, int64_t count) override {
    const int64_t taken = std::min(count, room_);
    room_ -= taken;
    return TMemoryStream::Write(buffer, taken);
  }

 private:
  int64_t room_;
};

struct HandlerCall {
  WideChar invalid;
  uint32_t attempt;
};

TEST(KtUnicodeWriterTest, DefaultIso88591WritesQuestionMarkForTheUnencodable) {
  TKtUnicodeWriter writer;
  writer.WriteStr(u"A\u00E9\u20AC");
  EXPECT_EQ(writer.Bytes(), "A\xE9?");
  writer.ReplacementChar = 0x20AC;  // refused as well: the last resort is '?'
  EXPECT_TRUE(writer.WriteChar(0x0100));
  EXPECT_EQ(writer.Bytes(), "A\xE9??");
}

TEST(KtUnicodeWriterTest, HandlerAbortStopsTheString) {
  TKtUnicodeWriter writer;
  writer.OnInvalidChar = [](TKtUnicodeWriter&, WideChar, WideChar&, uint32_t,
                            TKtInvalidCharAction& action) { action = TKtInvalidCharAction::icAbort; };
  writer.WriteStr(u"ab\u20ACcd");
  EXPECT_EQ(writer.Bytes(), "ab");
}

TEST(KtUnicodeWriterTest, HandlerIsAskedAgainWhileItOffersNewReplacements) {
  std::vector<HandlerCall> calls;
  TKtUnicodeWriter writer;
  writer.OnInvalidChar = [&calls](TKtUnicodeWriter&, WideChar invalid, WideChar& replacement,
                                  uint32_t attempt, TKtInvalidCharAction&) {
    calls.push_back({invalid, attempt});
    replacement = 0x20AC;
  };
  writer.WriteChar(0x0152);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].invalid, 0x0152);
  EXPECT_EQ(calls[0].attempt, 0u);
  EXPECT_EQ(calls[1].attempt, 1u);
  EXPECT_EQ(writer.Bytes(), "?");

  calls.clear();
  writer.OnInvalidChar = [&calls](TKtUnicodeWriter&, WideChar invalid, WideChar& replacement,
                                  uint32_t attempt, TKtInvalidCharAction&) {
    calls.push_back({invalid, attempt});
    replacement = attempt == 0 ? WideChar(0x20AC) : WideChar(u'E');
  };
  writer.WriteChar(0x0152);
  EXPECT_EQ(calls.size(), 2u);
  EXPECT_EQ(writer.Bytes(), "?E");
  EXPECT_EQ(writer.ReplacementChar, u'?');

  calls.clear();
  writer.OnInvalidChar = [&calls](TKtUnicodeWriter&, WideChar invalid, WideChar&, uint32_t attempt,
                                  TKtInvalidCharAction&) { calls.push_back({invalid, attempt}); };
  writer.WriteChar(0x0152);
  EXPECT_EQ(calls.size(), 1u);
  EXPECT_EQ(writer.Bytes(), "?E?");
}

TEST(KtUnicodeWriterTest, HandlerMayWriteItself) {
  TKtUnicodeWriter writer;
  writer.OnInvalidChar = [](TKtUnicodeWriter& sender, WideChar invalid, WideChar&, uint32_t,
                            TKtInvalidCharAction& action) {
    sender.WriteStr(u"&#x");
    sender.WriteHex(invalid);
    sender.WriteChar(u';');
    action = TKtInvalidCharAction::icOwnerWrite;
  };
  writer.WriteStr(u"a\u20ACb");
  EXPECT_EQ(writer.Bytes(), "a&#x20AC;b");
}

TEST(KtUnicodeWriterTest, WriteHexHasNoLeadingZeros) {
  const std::pair<WideChar, std::string> cases[] = {
      {0x0000, "0"}, {0x000F, "F"}, {0x00FF, "FF"}, {0x0FFF, "FFF"}, {0x1000, "1000"}, {0xFFFF, "FFFF"}};
  for (const auto& [c, hex] : cases) {
    TKtUnicodeWriter writer;
    writer.WriteHex(c);
    EXPECT_EQ(writer.Bytes(), hex) << static_cast<int>(c);
  }
}

TEST(KtUnicodeWriterTest, MemoryGrowsByAboutAQuarter) {
  TKtUnicodeWriter writer;
  std::vector<uint32_t> capacities;
  for (int i = 0; i < 40; ++i) {
    writer.WriteByte('x');
    if (capacities.empty() || capacities.back() != writer.BufCapacity) {
      capacities.push_back(writer.BufCapacity);
    }
  }
  EXPECT_EQ(capacities, (std::vector<uint32_t>{4, 8, 12, 16, 24, 32, 44}));
}

TEST(KtUnicodeWriterTest, StreamModeWritesBlocksAndDropsEarlierMemoryBytes) {
  TMemoryStream stream;
  TKtUnicodeWriter writer;
  writer.WriteStr(u"lost");
  writer.SetStream(&stream);
  EXPECT_EQ(writer.BufCapacity, 4096u);
  const WideString text(5000, u'z');
  writer.WriteStr(text);
  EXPECT_EQ(stream.Size(), 4096);
  writer.Flush();
  EXPECT_EQ(stream.ToString(), std::string(5000, 'z'));
  writer.WriteStr(u"end");
  writer.SetStream(nullptr);
  EXPECT_EQ(stream.ToString(), std::string(5000, 'z') + "end");
  EXPECT_EQ(writer.BufCapacity, 0u);
  writer.WriteStr(u"mem");
  EXPECT_EQ(writer.Bytes(), "mem");
}

TEST(KtUnicodeWriterTest, DestructorFlushesToTheStream) {
  TMemoryStream stream;
  {
    TKtUnicodeWriter writer;
    writer.SetStream(&stream);
    writer.SetWriteMethods(UnicodeEncodings[57].WriteMethods);  // UTF-7
    writer.WriteChar(0x263A);
  }
  EXPECT_EQ(stream.ToString(), "+Jjo");
}

TEST(KtUnicodeWriterTest, AStreamThatTakesTooLittleIsReported) {
  FullStream stream(2);
  {
    TKtUnicodeWriter writer;
    writer.SetStream(&stream);
    writer.WriteStr(u"abc");
    EXPECT_THROW(writer.Flush(), EStreamError);
    EXPECT_EQ(writer.BufPos, 3u);  // nothing is dropped silently
  }  // the destructor's second attempt fails quietly
  FullStream full(0);
  TKtUnicodeWriter writer;
  writer.SetStream(&full);
  writer.WriteStr(WideString(4096, u'a'));
  EXPECT_THROW(writer.WriteChar(u'b'), EStreamError);
}

TEST(KtUnicodeWriterTest, WriteMethodsWithoutWriteCharInstallIso88591) {
  TKtUnicodeWriter writer;
  writer.SetWriteMethods({nullptr, Write_UTF_8, nullptr, nullptr});
  writer.WriteChar(0x00E9);
  writer.SetWriteMethods({});
  writer.WriteChar(0x00E9);
  EXPECT_EQ(writer.Bytes(), "\xC3\xA9\xE9");
}

TEST(KtUnicodeWriterTest, ChangingTheEncoderFlushesWhatTheOldOneHeld) {
  TKtUnicodeWriter writer;
  writer.SetWriteMethods(UnicodeEncodings[57].WriteMethods);  // UTF-7
  writer.WriteChar(0x263A);
  writer.SetWriteMethods({nullptr, Write_UTF_8, nullptr, nullptr});
  EXPECT_EQ(writer.CodecState, nullptr);
  writer.WriteChar(0xD83D);
  writer.SetWriteMethods({});
  writer.WriteChar(u'x');
  EXPECT_EQ(writer.Bytes(), "+Jjo\xEF\xBF\xBDx");
}

}  // namespace
}  // namespace kt
