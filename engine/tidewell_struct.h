// SPDX-License-Identifier: MIT
// The engine's shared value types. Every enumeration is a one-byte ordinal
// counted from 0; where one is stored in the database the stored number is
// the ordinal.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "toolkit/stream.h"
#include "toolkit/wide_string.h"

namespace tidewell {

using kt::WideChar;
using kt::WideString;

// Days since 1899-12-30 (54789.0 is 2050-01-01); the fraction is the time.
using TDateTime = double;

enum class TQueueJobTypes : uint8_t {
  CNoJob = 0,
  CfeedOperation = 1,
  CgetArticle = 2,
  CgetEnclosure = 3,
  CgetRawData = 4,
  CgetOpmlData = 5,
};

enum class TFeedOpType : uint8_t { cunknown = 0, cInsert = 1, cUpdate = 2 };

enum class TErrorCategory : uint8_t {
  noErrors = 0,
  ErrHttpGet = 1,
  ErrXMLparse = 2,
  ErrDatabaseOp = 3,
  ErrGUI = 4,
  ErrIO = 5,
  ErrUnknown = 6,
};

enum class TArticleReadStatus : uint8_t { cmarkasUnRead = 0, cmarkAsRead = 1, cmarkAsRemoved = 2, cRSNoChange = 3 };

enum class TArticleFlagType : uint8_t {
  cFTNoFlag = 0,
  cFTRed = 1,
  cFTYellow = 2,
  cFTGreen = 3,
  cFTBlue = 4,
  cFTOrange = 5,
  cFTPurple = 6,
  cFTNoChange = 7,
};

// Value names, for storage and display; an ordinal out of range yields "".
const char* EnumName(TQueueJobTypes value);
const char* EnumName(TFeedOpType value);
const char* EnumName(TErrorCategory value);
const char* EnumName(TArticleReadStatus value);
const char* EnumName(TArticleFlagType value);

// The value of a name or an ordinal; nothing for an unknown one.
template <typename E>
std::optional<E> EnumFromName(const std::string& name);
template <typename E>
std::optional<E> EnumFromOrdinal(int ordinal);

template <typename E>
constexpr int Ordinal(E value) {
  return static_cast<int>(value);
}

// Ids of feeds, articles or enclosures; its length is the number of ids.
using TDynIntArray = std::vector<int32_t>;

// The request record of a raw-data job. The caller fills it and hands it over
// with the job; the worker that runs the job owns it from then on.
struct THttpRawDataReq {
  enum : uint8_t { kGet = 0, kPut = 1, kPost = 2 };
  enum : uint8_t { kDeliverToApplication = 0, kStoreInFileCache = 1 };
  static constexpr uint8_t kOwnsStream = 0x01;

  uint8_t requestKind = kGet;
  // Receives (GET) or supplies (PUT, POST) the data; owned when the flags
  // say so, and then freed with the record.
  kt::TStream* stream = nullptr;
  intptr_t articleId = 0;
  intptr_t userData = 0;  // carried along untouched
  uint8_t deliveryKind = kDeliverToApplication;
  uint8_t unused = 0;
  // 2 makes the file cache keep the answer; 2 and 4 put the transfer under
  // the global size limit.
  uint8_t cacheMode = 0;
  uint8_t flags = 0;

  THttpRawDataReq() = default;
  THttpRawDataReq(const THttpRawDataReq&) = delete;
  THttpRawDataReq& operator=(const THttpRawDataReq&) = delete;
  ~THttpRawDataReq() {
    if (flags & kOwnsStream) delete stream;
  }
};
using PHttpRawDataReq = THttpRawDataReq*;

// Languages written right to left; the feed processors test a feed's
// language against them.
const std::vector<std::string>& RightToLeftLanguageCodes();

}  // namespace tidewell
