// SPDX-License-Identifier: MIT
#include "engine/db/statement_param.h"

#include <utility>

#include "engine/utf8_text.h"
#include "toolkit/wide_string.h"

namespace tidewell::db {

void Param::SetString(std::string_view utf8) {
  if (IsValidUtf8(utf8)) {
    Assign(Kind::Text).bytes_.assign(utf8);
  } else {
    Assign(Kind::Text).bytes_ = RepairUtf8(utf8);
  }
}

void Param::SetWideString(std::u16string_view text) { SetString(kt::WideToUtf8(text)); }

void Param::SetBlobFromStream(kt::TStream& stream) {
  std::string bytes(static_cast<size_t>(stream.Size()), '\0');
  stream.SetPosition(0);
  stream.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  Assign(Kind::Blob).bytes_ = std::move(bytes);
}

}  // namespace tidewell::db
