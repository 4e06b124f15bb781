// SPDX-License-Identifier: MIT
#include "rssEngUtilities/widestringstream.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace tidewell {
namespace {

using kt::SeekOrigin;

std::vector<uint8_t> ReadAll(TWideStringStream& stream) {
  stream.Seek(0, SeekOrigin::Beginning);
  std::vector<uint8_t> bytes(static_cast<size_t>(stream.Size()));
  EXPECT_EQ(stream.Read(bytes.data(), static_cast<int64_t>(bytes.size())), static_cast<int64_t>(bytes.size()));
  return bytes;
}

TEST(TWideStringStreamTest, ATextIsCopiedAsLittleEndianCodeUnitsWithThePositionAtTheEnd) {
  TWideStringStream stream(u"abc");
  EXPECT_EQ(stream.Size(), 6);
  EXPECT_EQ(stream.Capacity(), 6);
  EXPECT_EQ(stream.Position(), 6);
  uint8_t byte = 0;
  EXPECT_EQ(stream.Read(&byte, 1), 0);
  EXPECT_EQ(stream.Read(&byte, 1), 0);
  EXPECT_EQ(ReadAll(stream), (std::vector<uint8_t>{'a', 0, 'b', 0, 'c', 0}));

  TWideStringStream wide(u"\u00e9\u4e2d\U0001F600");
  EXPECT_EQ(ReadAll(wide), (std::vector<uint8_t>{0xE9, 0x00, 0x2D, 0x4E, 0x3D, 0xD8, 0x00, 0xDE}));
}

TEST(TWideStringStreamTest, AnEmptyTextGivesAnEmptyStreamWithRoomToWrite) {
  TWideStringStream stream(u"");
  EXPECT_EQ(stream.Size(), 0);
  EXPECT_EQ(stream.Position(), 0);
  EXPECT_EQ(stream.Capacity(), 32768);
  const std::vector<uint8_t> data(100, 0x5A);
  EXPECT_EQ(stream.Write(data.data(), 100), 100);
  EXPECT_EQ(stream.Size(), 100);
  EXPECT_EQ(stream.Capacity(), 32768);
  EXPECT_EQ(ReadAll(stream), data);
}

TEST(TWideStringStreamTest, SeeksAreClampedToTheDataAndCountBackwardsFromTheEnd) {
  TWideStringStream stream(u"abc");
  EXPECT_EQ(stream.Seek(0, SeekOrigin::Beginning), 0);
  EXPECT_EQ(stream.Seek(-1, SeekOrigin::Current), 0);
  EXPECT_EQ(stream.Seek(0, SeekOrigin::End), 6);
  EXPECT_EQ(stream.Seek(2, SeekOrigin::End), 4);
  EXPECT_EQ(stream.Seek(-2, SeekOrigin::End), 6);
  EXPECT_EQ(stream.Seek(-3, SeekOrigin::Current), 3);
  EXPECT_EQ(stream.Seek(100, SeekOrigin::Beginning), 6);
  EXPECT_EQ(stream.Seek(-100, SeekOrigin::Beginning), 0);
  EXPECT_EQ(stream.Seek(std::numeric_limits<int64_t>::max(), SeekOrigin::Current), 6);
  EXPECT_EQ(stream.Seek(std::numeric_limits<int64_t>::min(), SeekOrigin::End), 6);
  EXPECT_EQ(stream.Seek(std::numeric_limits<int64_t>::max(), SeekOrigin::End), 0);
}

TEST(TWideStringStreamTest, ReadsStopAtTheEndOfTheData) {
  TWideStringStream stream(u"abc");
  stream.Seek(4, SeekOrigin::Beginning);
  uint8_t bytes[8] = {};
  EXPECT_EQ(stream.Read(bytes, 8), 2);
  EXPECT_EQ(bytes[0], 'c');
  EXPECT_EQ(stream.Position(), 6);
}

TEST(TWideStringStreamTest, WritesOverwriteInsideTheDataAndGrowItPastTheEnd) {
  const uint8_t four[4] = {1, 2, 3, 4};
  TWideStringStream inside(u"abc");
  inside.Seek(2, SeekOrigin::Beginning);
  EXPECT_EQ(inside.Write(four, 4), 4);
  EXPECT_EQ(inside.Size(), 6);
  EXPECT_EQ(inside.Position(), 6);
  EXPECT_EQ(ReadAll(inside), (std::vector<uint8_t>{'a', 0, 1, 2, 3, 4}));

  TWideStringStream past(u"abc");
  past.Seek(4, SeekOrigin::Beginning);
  EXPECT_EQ(past.Write(four, 4), 4);
  EXPECT_EQ(past.Size(), 8);
  EXPECT_EQ(past.Capacity(), 8);
  EXPECT_EQ(past.Position(), 8);
  EXPECT_EQ(ReadAll(past), (std::vector<uint8_t>{'a', 0, 'b', 0, 1, 2, 3, 4}));
}

TEST(TWideStringStreamTest, SetSizeCountsCharactersAndZeroFreesTheBlock) {
  TWideStringStream stream(u"abc");
  stream.SetSize(2);
  EXPECT_EQ(stream.Size(), 4);
  EXPECT_EQ(stream.Position(), 4);
  EXPECT_EQ(stream.Capacity(), 6);
  stream.SetSize(5);
  EXPECT_EQ(stream.Size(), 10);
  EXPECT_EQ(stream.Capacity(), 10);
  EXPECT_EQ(stream.Position(), 4);
  EXPECT_EQ(ReadAll(stream), (std::vector<uint8_t>{'a', 0, 'b', 0, 'c', 0, 0, 0, 0, 0}));

  stream.SetSize(0);
  EXPECT_EQ(stream.Size(), 0);
  EXPECT_EQ(stream.Capacity(), 0);
  EXPECT_EQ(stream.Position(), 0);
  const uint8_t two[2] = {7, 8};
  EXPECT_EQ(stream.Write(two, 2), 2);
  EXPECT_EQ(ReadAll(stream), (std::vector<uint8_t>{7, 8}));
}

TEST(TWideStringStreamTest, ImpossibleSizesRaiseAndChangeNothing) {
  TWideStringStream stream(u"abc");
  EXPECT_THROW(stream.SetSize(-1), kt::EStreamError);
  EXPECT_THROW(stream.SetSize(std::numeric_limits<int32_t>::max()), kt::EStreamError);
  const uint8_t byte = 1;
  try {
    stream.Write(&byte, std::numeric_limits<int64_t>::max());
    ADD_FAILURE() << "a write past 2 GiB was accepted";
  } catch (const kt::EStreamError& error) {
    EXPECT_EQ(error.Message(), "Invalid size !");
  }
  EXPECT_EQ(stream.Write(&byte, -5), 0);
  uint8_t out = 0;
  stream.Seek(0, SeekOrigin::Beginning);
  EXPECT_EQ(stream.Read(&out, -5), 0);
  EXPECT_EQ(stream.Position(), 0);
  EXPECT_EQ(ReadAll(stream), (std::vector<uint8_t>{'a', 0, 'b', 0, 'c', 0}));
}

TEST(TWideStringStreamTest, CopiesIntoAnotherStreamThroughTheCommonInterface) {
  TWideStringStream source(u"feed");
  kt::TMemoryStream target;
  EXPECT_EQ(target.CopyFrom(source, 0), 8);
  EXPECT_EQ(target.ToString(), std::string("f\0e\0e\0d\0", 8));

  TWideStringStream sink(u"");
  kt::TMemoryStream bytes;
  bytes.WriteBuffer("0123456789", 10);
  sink.CopyFrom(bytes, 0);
  EXPECT_EQ(sink.Size(), 10);
}

}  // namespace
}  // namespace tidewell
