// SPDX-License-Identifier: MIT
// A file stream opened from a 16-bit file name, as the enclosure downloads
// and the job property object use it.
#pragma once

#include <cstdint>

#include "toolkit/stream.h"
#include "toolkit/wide_string.h"

namespace tidewell {

// Raised when the file cannot be opened or created; the message names the
// file and the system's reason.
class EFCreateError : public kt::EStreamError {
 public:
  using kt::EStreamError::EStreamError;
};

class TFileStreamExt : public kt::TFileStream {
 public:
  // Mode kCreate creates (or empties) the file; a mode below it opens the
  // existing file: access bits 0 read only, 1 or 2 read and write (the share
  // bits above them are accepted and ignored).
  static constexpr uint16_t kCreate = 65535;

  // Raises EFCreateError with "Can't open file %s \r\n%s" or "Can't create
  // file %s \r\n%s" (file name, the system's reason).
  TFileStreamExt(const kt::WideString& fileName, uint16_t mode);
};

}  // namespace tidewell
