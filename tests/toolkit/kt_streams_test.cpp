// SPDX-License-Identifier: MIT
#include "toolkit/kt_streams.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace kt {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Written(const std::function<void(TKtBinaryWriter&)>& write) {
  TMemoryStream stream;
  {
    TKtBinaryWriter writer(stream, 16);
    write(writer);
  }
  return stream.Bytes();
}

TMemoryStream StreamOf(const Bytes& bytes) {
  TMemoryStream stream;
  stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  stream.SetPosition(0);
  return stream;
}

std::string ReadErrorOf(const Bytes& bytes, const std::function<void(TKtBinaryReader&)>& read) {
  TMemoryStream stream = StreamOf(bytes);
  TKtBinaryReader reader(stream, 16);
  try {
    read(reader);
  } catch (const EReadError& e) {
    return e.Message();
  }
  return "no error";
}

TEST(KtBinaryWriterTest, IntegersTakeTheFewestBytesTheirValueNeeds) {
  struct Case {
    int32_t value;
    Bytes bytes;
  };
  const std::vector<Case> cases = {
      {0, {2, 0}},
      {127, {2, 0x7F}},
      {128, {3, 0x80}},
      {255, {3, 0xFF}},
      {256, {5, 0x00, 0x01}},
      {65535, {6, 0xFF, 0xFF}},
      {65536, {8, 0, 0, 1}},
      {0x7FFFFFFF, {11, 0xFF, 0xFF, 0xFF, 0x7F}},
      {-1, {1, 0xFF}},
      {-128, {1, 0x80}},
      {-129, {4, 0x7F, 0xFF}},
      {-32769, {7, 0xFF, 0x7F, 0xFF}},
      {-2147483647 - 1, {10, 0x00, 0x00, 0x00, 0x80}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Written([&](TKtBinaryWriter& w) { w.WriteInteger(c.value); }), c.bytes) << c.value;
    TMemoryStream stream = StreamOf(c.bytes);
    TKtBinaryReader reader(stream, 16);
    EXPECT_EQ(reader.ReadInteger(), c.value) << c.value;
  }
}

TEST(KtBinaryWriterTest, CardinalsWordsAndBytes) {
  EXPECT_EQ(Written([](TKtBinaryWriter& w) { w.WriteCardinal(4294967295u); }), (Bytes{12, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Written([](TKtBinaryWriter& w) { w.WriteCardinal(1u << 23); }), (Bytes{9, 0, 0, 0x80}));
  EXPECT_EQ(Written([](TKtBinaryWriter& w) { w.WriteWord(40000); }), (Bytes{6, 0x40, 0x9C}));
  EXPECT_EQ(Written([](TKtBinaryWriter& w) { w.WriteByte(5); }), (Bytes{3, 5}));

  TMemoryStream stream = StreamOf({12, 0xFF, 0xFF, 0xFF, 0xFF, 3, 5, 3, 5, 6, 0x40, 0x9C});
  TKtBinaryReader reader(stream, 4);
  EXPECT_EQ(reader.ReadCardinal(), 4294967295u);
  EXPECT_EQ(reader.ReadByte(), 5);
  EXPECT_EQ(reader.ReadInteger(), 5);
  EXPECT_EQ(reader.ReadWord(), 40000);
}

TEST(KtBinaryWriterTest, WideStringsCarryTheirByteLength) {
  EXPECT_EQ(Written([](TKtBinaryWriter& w) { w.WriteWideStr(u""); }), (Bytes{34}));
  EXPECT_EQ(Written([](TKtBinaryWriter& w) { w.WriteWideStr(u"A\u20AC"); }), (Bytes{35, 4, 0x41, 0, 0xAC, 0x20}));

  const Bytes hundred = Written([](TKtBinaryWriter& w) { w.WriteWideStr(WideString(100, u'x')); });
  ASSERT_EQ(hundred.size(), 2u + 200u);
  EXPECT_EQ(hundred[0], 35);
  EXPECT_EQ(hundred[1], 200);

  const Bytes two_hundred = Written([](TKtBinaryWriter& w) { w.WriteWideStr(WideString(200, u'x')); });
  ASSERT_EQ(two_hundred.size(), 3u + 400u);
  EXPECT_EQ((Bytes{two_hundred[0], two_hundred[1], two_hundred[2]}), (Bytes{36, 0x90, 0x01}));
}

TEST(KtBinaryReaderTest, ReadsBackWhatWasWrittenAcrossBufferRefills) {
  const WideString long_text(3000, u'\u00E9');
  TMemoryStream stream;
  {
    TKtBinaryWriter writer(stream, 7);
    writer.WriteWideStr(long_text);
    writer.WriteInteger(-70000);
    writer.WriteWideStr(u"");
    writer.WriteCardinal(123456789);
  }
  stream.SetPosition(0);
  TKtBinaryReader reader(stream, 5);
  EXPECT_EQ(reader.ReadWideStr(), long_text);
  EXPECT_EQ(reader.ReadInteger(), -70000);
  EXPECT_EQ(reader.ReadWideStr(), u"");
  EXPECT_EQ(reader.ReadCardinal(), 123456789u);
}

TEST(KtBinaryReaderTest, EightBitStringsAreTakenAsUtf8) {
  TMemoryStream stream = StreamOf({29, 30, 3, 'a', 0xC3, 0xA9, 31, 1, 0, 'z'});
  TKtBinaryReader reader(stream, 16);
  EXPECT_EQ(reader.ReadWideStr(), u"");
  EXPECT_EQ(reader.ReadWideStr(), u"a\u00E9");
  EXPECT_EQ(reader.ReadWideStr(), u"z");
}

TEST(KtBinaryReaderTest, RefusedCodesRaiseInvalidElementTypeAndKeepTheData) {
  EXPECT_EQ(ReadErrorOf({12, 0xFF, 0xFF, 0xFF, 0xFF}, [](TKtBinaryReader& r) { r.ReadInteger(); }),
            "Invalid Element Type");
  EXPECT_EQ(ReadErrorOf({1, 0xFF}, [](TKtBinaryReader& r) { r.ReadCardinal(); }), "Invalid Element Type");
  EXPECT_EQ(ReadErrorOf({5, 0, 1}, [](TKtBinaryReader& r) { r.ReadByte(); }), "Invalid Element Type");
  EXPECT_EQ(ReadErrorOf({8, 0, 0, 1}, [](TKtBinaryReader& r) { r.ReadWord(); }), "Invalid Element Type");
  EXPECT_EQ(ReadErrorOf({2, 1}, [](TKtBinaryReader& r) { r.ReadWideStr(); }), "Invalid Element Type");
  for (int code : {0, 13, 24, 25, 28, 39, 255}) {
    EXPECT_EQ(ReadErrorOf({static_cast<uint8_t>(code), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                          [](TKtBinaryReader& r) { r.ReadInteger(); }),
              "Invalid Element Type")
        << code;
  }

  TMemoryStream stream = StreamOf({5, 0x34, 0x12});
  TKtBinaryReader reader(stream, 16);
  EXPECT_THROW(reader.ReadByte(), EReadError);
  uint8_t data[2];
  reader.ReadBuffer(data, 2);
  EXPECT_EQ((Bytes{data[0], data[1]}), (Bytes{0x34, 0x12}));
}

TEST(KtBinaryReaderTest, TruncatedValuesRaiseStreamReadError) {
  EXPECT_EQ(ReadErrorOf({}, [](TKtBinaryReader& r) { r.ReadInteger(); }), "Stream read error");
  EXPECT_EQ(ReadErrorOf({11, 1, 2}, [](TKtBinaryReader& r) { r.ReadInteger(); }), "Stream read error");
  EXPECT_EQ(ReadErrorOf({35, 10, 'a', 0}, [](TKtBinaryReader& r) { r.ReadWideStr(); }), "Stream read error");
}

TEST(KtBinaryReaderTest, LengthBeyondTheRemainingBytesIsRefusedBeforeAllocating) {
  Bytes bytes = {38, 0xFF, 0xFF, 0xFF, 0xFF};
  bytes.resize(20, 'x');
  EXPECT_EQ(ReadErrorOf(bytes, [](TKtBinaryReader& r) { r.ReadWideStr(); }), "Stream read error");
  bytes[0] = 33;
  EXPECT_EQ(ReadErrorOf(bytes, [](TKtBinaryReader& r) { r.ReadWideStr(); }), "Stream read error");
}

TEST(KtBinaryReaderTest, OddByteLengthKeepsWholeCharactersAndStaysInStep) {
  TMemoryStream stream = StreamOf({35, 3, 'a', 0, 'b', 2, 7});
  TKtBinaryReader reader(stream, 16);
  EXPECT_EQ(reader.ReadWideStr(), u"a");
  EXPECT_EQ(reader.ReadInteger(), 7);
}

TEST(KtBinaryReaderTest, DestroyingTheReaderLeavesTheStreamAtTheNextValue) {
  TMemoryStream stream = StreamOf({2, 1, 2, 2, 2, 3});
  {
    TKtBinaryReader reader(stream, 4096);
    EXPECT_EQ(reader.ReadInteger(), 1);
  }
  EXPECT_EQ(stream.Position(), 2);
  TKtBinaryReader next(stream, 4096);
  EXPECT_EQ(next.ReadInteger(), 2);
}

TEST(KtBinaryWriterTest, WritesReachTheStreamOnFlushOrDestruction) {
  TMemoryStream stream;
  TKtBinaryWriter writer(stream, 4096);
  writer.WriteInteger(1);
  EXPECT_EQ(stream.Size(), 0);
  writer.FlushBuffer();
  EXPECT_EQ(stream.Bytes(), (Bytes{2, 1}));
}

TEST(KtBinaryWriterTest, FailedFlushReachesTheCallerButNotTheDestructor) {
  class FullStream : public TMemoryStream {
   public:
    int64_t Write(const void*, int64_t) override { return 0; }
  };
  FullStream stream;
  {
    TKtBinaryWriter writer(stream, 8);
    writer.WriteInteger(1);
    EXPECT_THROW(writer.FlushBuffer(), EStreamError);
    writer.WriteInteger(2);
  }
  EXPECT_EQ(stream.Size(), 0);
}

TEST(KtStreamsTest, BitAndByteLengths) {
  EXPECT_EQ(BitLength(0), 0);
  EXPECT_EQ(BitLength(1), 1);
  EXPECT_EQ(BitLength(255), 8);
  EXPECT_EQ(BitLength(0xFFFFFFFFu), 32);
  EXPECT_EQ(ByteLength(0), 0);
  EXPECT_EQ(ByteLength(256), 2);
  EXPECT_EQ(ByteLength(0x1000000u), 4);
  TMemoryStream stream;
  EXPECT_THROW(TKtBinaryReader(stream, 0), Exception);
}

}  // namespace
}  // namespace kt
