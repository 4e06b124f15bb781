// SPDX-License-Identifier: MIT
// The exception of every failure that the Firebird engine reports: it carries
// the engine's own message text, its SQL code and its error codes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "toolkit/exception.h"

namespace tidewell::db {

class EFirebirdError : public kt::Exception {
 public:
  EFirebirdError(const std::string& message, int32_t sqlCode, intptr_t gdsCode,
                 std::vector<intptr_t> gdsCodes = {})
      : kt::Exception(message), sql_code_(sqlCode), gds_code_(gdsCode), gds_codes_(std::move(gdsCodes)) {
    if (gdsCode != 0 && !HasGdsCode(gdsCode)) gds_codes_.insert(gds_codes_.begin(), gdsCode);
  }

  // The SQL code (e.g. -204 for an unknown table); 0 when the engine gave none.
  int32_t SqlCode() const { return sql_code_; }
  // The engine's first error code (isc_...), 0 when none.
  intptr_t GdsCode() const { return gds_code_; }
  // Every error code of the engine's status, the first one first; the later
  // ones tell the first one's cause (an update conflict after "deadlock").
  const std::vector<intptr_t>& GdsCodes() const { return gds_codes_; }
  bool HasGdsCode(intptr_t code) const {
    return std::find(gds_codes_.begin(), gds_codes_.end(), code) != gds_codes_.end();
  }
  // Whether the attachment is gone (the server went away or shut it down):
  // the attachment must be made again before anything works on it.
  bool IsConnectionLost() const;

 private:
  int32_t sql_code_;
  intptr_t gds_code_;
  std::vector<intptr_t> gds_codes_;
};

// True for an EFirebirdError that tells a lost attachment.
bool IsConnectionLost(const std::exception& error);

}  // namespace tidewell::db
