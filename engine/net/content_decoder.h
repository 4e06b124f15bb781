// SPDX-License-Identifier: MIT
// Decodes a "gzip" or "deflate" body while it streams in and writes the
// plain bytes to a stream. Used on the downloading thread only.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <memory>
#include <string>

#include "toolkit/stream.h"

namespace tidewell {

class TContentDecoder {
 public:
  // True for the content encodings this decoder reads ("gzip", "x-gzip",
  // "deflate", any case).
  static bool Handles(const std::string& contentEncoding);

  // REQUIRES: Handles(contentEncoding). target outlives the decoder.
  TContentDecoder(const std::string& contentEncoding, kt::TStream& target);
  ~TContentDecoder();
  TContentDecoder(const TContentDecoder&) = delete;
  TContentDecoder& operator=(const TContentDecoder&) = delete;

  // Decodes the next piece of the body; false when the data is not valid
  // (then Error() tells why).
  bool Write(const char* data, size_t size);
  // True once the compressed stream ended properly.
  bool Finished() const { return finished_; }
  const std::string& Error() const { return error_; }
  // Bytes written to the target so far.
  int64_t DecodedBytes() const { return decoded_; }
  // Decoding stops once more than bytes were written (at most one output
  // block more), so that a small compressed body cannot expand without
  // bound; -1 (the default): no limit. Write then returns true and OverLimit
  // tells.
  void SetOutputLimit(int64_t bytes) { limit_ = bytes; }
  bool OverLimit() const { return limit_ >= 0 && decoded_ > limit_; }

 private:
  bool Inflate(const char* data, size_t size);
  bool RestartAsRawDeflate(const char* data, size_t size);

  kt::TStream& target_;
  z_stream zs_{};
  bool deflate_ = false;
  bool sawOutput_ = false;
  bool triedRaw_ = false;
  bool finished_ = false;
  int64_t decoded_ = 0;
  int64_t limit_ = -1;
  std::string error_;
  std::string firstBytes_;
};

}  // namespace tidewell
