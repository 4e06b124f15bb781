// SPDX-License-Identifier: MIT
// The exception of every failure that the Firebird engine reports: it carries
// the engine's own message text, its SQL code and its first error code.
#pragma once

#include <cstdint>
#include <string>

#include "toolkit/exception.h"

namespace tidewell::db {

class EFirebirdError : public kt::Exception {
 public:
  EFirebirdError(const std::string& message, int32_t sqlCode, intptr_t gdsCode)
      : kt::Exception(message), sql_code_(sqlCode), gds_code_(gdsCode) {}

  // The SQL code (e.g. -204 for an unknown table); 0 when the engine gave none.
  int32_t SqlCode() const { return sql_code_; }
  // The engine's first error code (isc_...), 0 when none.
  intptr_t GdsCode() const { return gds_code_; }

 private:
  int32_t sql_code_;
  intptr_t gds_code_;
};

}  // namespace tidewell::db
