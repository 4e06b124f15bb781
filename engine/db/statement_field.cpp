// SPDX-License-Identifier: MIT
#include "engine/db/statement_field.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/db/firebird_client.h"
#include "toolkit/wide_string.h"

namespace tidewell::db {
namespace {

template <typename T>
T Load(const unsigned char* at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

bool IsIntegerType(unsigned type) {
  return type == SQL_SHORT || type == SQL_LONG || type == SQL_INT64 || type == SQL_BOOLEAN;
}

double PowerOfTen(int exponent) { return std::pow(10.0, exponent); }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::string DateTimeText(TDateTime value, bool withDate, bool withTime) {
  const ISC_TIMESTAMP stamp = fb::ToTimestamp(value);
  unsigned year = 0, month = 0, day = 0, hours = 0, minutes = 0, seconds = 0, fractions = 0;
  fb::Util()->decodeDate(stamp.timestamp_date, &year, &month, &day);
  fb::Util()->decodeTime(stamp.timestamp_time, &hours, &minutes, &seconds, &fractions);
  char text[48];
  if (withDate && withTime)
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", year, month, day, hours, minutes, seconds);
  else if (withDate)
    std::snprintf(text, sizeof text, "%04u-%02u-%02u", year, month, day);
  else
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", hours, minutes, seconds);
  return text;
}

}  // namespace

const unsigned char* Field::Value() const {
  if (row_ == nullptr || !row_->hasRow) throw kt::Exception("Field " + layout_.name + ": no current row");
  return row_->buffer + layout_.offset;
}

bool Field::IsNull() const {
  Value();
  return Load<int16_t>(row_->buffer + layout_.nullOffset) != 0;
}

bool Field::IsBlob() const { return layout_.type == SQL_BLOB; }

int64_t Field::RawInteger() const {
  const unsigned char* value = Value();
  switch (layout_.type) {
    case SQL_SHORT: return Load<int16_t>(value);
    case SQL_LONG: return Load<int32_t>(value);
    case SQL_INT64: return Load<int64_t>(value);
    case SQL_BOOLEAN: return Load<unsigned char>(value) != 0 ? 1 : 0;
    default: return 0;
  }
}

double Field::ScaledNumber() const {
  const unsigned char* value = Value();
  switch (layout_.type) {
    case SQL_FLOAT: return Load<float>(value);
    case SQL_DOUBLE:
    case SQL_D_FLOAT: return Load<double>(value);
    case SQL_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME: return AsDateTime();
    default:
      if (IsIntegerType(layout_.type)) return static_cast<double>(RawInteger()) * PowerOfTen(layout_.scale);
  }
  const std::string text(TrimBlanks(AsString()));
  double number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size())
    throw kt::Exception("Field " + layout_.name + ": '" + text + "' is not a number");
  return number;
}

int64_t Field::AsInt64() const {
  if (IsNull()) return 0;
  if (IsIntegerType(layout_.type) && layout_.scale == 0) return RawInteger();
  return std::llround(ScaledNumber());
}

int32_t Field::AsInteger() const { return static_cast<int32_t>(AsInt64()); }

double Field::AsDouble() const { return IsNull() ? 0.0 : ScaledNumber(); }

TDateTime Field::AsDateTime() const {
  if (IsNull()) return 0.0;
  const unsigned char* value = Value();
  switch (layout_.type) {
    case SQL_TIMESTAMP: return fb::FromTimestamp(Load<ISC_TIMESTAMP>(value));
    case SQL_TYPE_DATE: return fb::FromDate(Load<ISC_DATE>(value));
    case SQL_TYPE_TIME: return fb::FromTime(Load<ISC_TIME>(value));
    default: return AsDouble();
  }
}

std::string Field::NumberText() const {
  if (IsIntegerType(layout_.type) && layout_.scale == 0) return std::to_string(RawInteger());
  char text[64];
  if (IsIntegerType(layout_.type))
    std::snprintf(text, sizeof text, "%.*f", -layout_.scale, ScaledNumber());
  else
    std::snprintf(text, sizeof text, "%.17g", ScaledNumber());
  return text;
}

std::string Field::AsString() const {
  if (IsNull()) return std::string();
  const unsigned char* value = Value();
  switch (layout_.type) {
    case SQL_VARYING:
      return std::string(reinterpret_cast<const char*>(value) + 2, Load<uint16_t>(value));
    case SQL_TEXT: {
      std::string_view text(reinterpret_cast<const char*>(value), layout_.length);
      while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
      return std::string(text);
    }
    case SQL_BLOB: return ReadBlob();
    case SQL_TIMESTAMP: return DateTimeText(AsDateTime(), true, true);
    case SQL_TYPE_DATE: return DateTimeText(AsDateTime(), true, false);
    case SQL_TYPE_TIME: return DateTimeText(AsDateTime(), false, true);
    default: return NumberText();
  }
}

kt::WideString Field::AsWideString() const { return kt::Utf8ToWide(AsString()); }

std::string Field::ReadBlob() const {
  ISC_QUAD id = Load<ISC_QUAD>(Value());
  std::string bytes;
  fb::Invoke([&](Firebird::ThrowStatusWrapper* status) {
    fb::Ref<Firebird::IBlob> blob(row_->attachment->openBlob(status, row_->transaction, &id, 0, nullptr));
    char chunk[32768];
    for (;;) {
      unsigned length = 0;
      const int result = blob->getSegment(status, sizeof chunk, chunk, &length);
      if (result == Firebird::IStatus::RESULT_NO_DATA) break;
      bytes.append(chunk, length);
    }
    blob->close(status);
    blob.Forget();
  });
  return bytes;
}

void Field::SaveToStream(kt::TStream& stream) const {
  const std::string bytes = AsBlob();
  stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
}

}  // namespace tidewell::db
