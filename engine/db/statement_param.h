// SPDX-License-Identifier: MIT
// One positional parameter of a Statement: the value the next execution
// binds. A value stays set across executions until it is changed.
//
// Texts are UTF-8 (16-bit text is converted here, unpaired surrogates
// becoming U+FFFD; invalid UTF-8 is repaired). A text or byte value bound to a BLOB parameter is stored
// as a blob of any size (a text of a text blob up to 32765 bytes travels as
// a text, and the engine makes the blob); elsewhere the engine converts the value to the
// parameter's type and reports what does not fit. A parameter never set
// binds NULL.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/tidewell_struct.h"
#include "toolkit/stream.h"

namespace tidewell::db {

class Param {
 public:
  enum class Kind { Null, Integer, Int64, Double, Text, DateTime, Blob };

  void SetNull() { Assign(Kind::Null); }
  void SetInteger(int32_t value) { Assign(Kind::Integer).integer_ = value; }
  void SetInt64(int64_t value) { Assign(Kind::Int64).integer_ = value; }
  void SetDouble(double value) { Assign(Kind::Double).real_ = value; }
  void SetBoolean(bool value) { SetInteger(value ? 1 : 0); }
  // Bytes that are no valid UTF-8 are repaired (RepairUtf8) rather than
  // refused by the database as a malformed string.
  void SetString(std::string_view utf8);
  void SetWideString(std::u16string_view text);
  void SetDateTime(TDateTime value) { Assign(Kind::DateTime).real_ = value; }
  // Bytes stored as they are (binary or text blob).
  void SetBlob(std::string_view bytes) { Assign(Kind::Blob).bytes_.assign(bytes); }
  // The stream's bytes from its start to its end.
  void SetBlobFromStream(kt::TStream& stream);

  Kind GetKind() const { return kind_; }
  bool IsNull() const { return kind_ == Kind::Null; }
  int64_t IntegerValue() const { return integer_; }
  double RealValue() const { return real_; }
  const std::string& Bytes() const { return bytes_; }

  // Set by the statement when its SQL cuts this parameter with
  // "substring(? from 1 for N)": the characters the SQL keeps (0: no cut).
  // A caller may set it after binding, for a parameter the SQL declares
  // itself ("execute block (p varchar(N) = ?)"); preparing the statement
  // again resets it.
  void SetCutLength(int32_t characters) { cut_length_ = characters; }
  int32_t CutLength() const { return cut_length_; }

 private:
  Param& Assign(Kind kind) {
    kind_ = kind;
    bytes_.clear();
    return *this;
  }

  Kind kind_ = Kind::Null;
  int64_t integer_ = 0;
  double real_ = 0;
  std::string bytes_;
  int32_t cut_length_ = 0;
};

}  // namespace tidewell::db
