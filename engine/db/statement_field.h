// SPDX-License-Identifier: MIT
// One column of a Statement's current row.
//
// Values convert the way a reader expects: numbers to each other and to
// decimal text, texts to numbers (kt::Exception when a text is no number),
// timestamps, dates and times to TDateTime and to text, blobs read whole as
// text or bytes. Texts are UTF-8; CHAR values lose their trailing blanks.
// A NULL value reads as 0, 0.0, "" or an empty blob; test IsNull first where
// NULL means something. Reading a field when the statement has no current
// row raises kt::Exception.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "engine/tidewell_struct.h"
#include "toolkit/stream.h"

namespace Firebird {
class IAttachment;
class ITransaction;
}  // namespace Firebird

namespace tidewell::db {

// The row a statement's fields read: set by the statement.
struct RowContext {
  const unsigned char* buffer = nullptr;
  bool hasRow = false;
  Firebird::IAttachment* attachment = nullptr;    // blobs are read through these
  Firebird::ITransaction* transaction = nullptr;
};

class Field {
 public:
  struct Layout {
    std::string name;  // the column's alias, as the engine reports it
    unsigned type = 0;
    int subType = 0;
    int scale = 0;
    unsigned length = 0;
    unsigned charSet = 0;
    unsigned offset = 0;
    unsigned nullOffset = 0;
  };

  Field(const RowContext* row, Layout layout) : row_(row), layout_(std::move(layout)) {}

  const std::string& Name() const { return layout_.name; }
  bool IsNull() const;
  bool IsBlob() const;

  int32_t AsInteger() const;
  int64_t AsInt64() const;
  double AsDouble() const;
  bool AsBoolean() const { return AsInt64() != 0; }
  // UTF-8; a blob is read whole.
  std::string AsString() const;
  kt::WideString AsWideString() const;
  TDateTime AsDateTime() const;
  // The bytes of a blob (or of a text), unchanged.
  std::string AsBlob() const { return AsString(); }
  // Writes the blob's (or text's) bytes to the stream at its position.
  void SaveToStream(kt::TStream& stream) const;

 private:
  const unsigned char* Value() const;
  std::string ReadBlob() const;
  std::string NumberText() const;
  double ScaledNumber() const;
  int64_t RawInteger() const;

  const RowContext* row_;
  Layout layout_;
};

}  // namespace tidewell::db
