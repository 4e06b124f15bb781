// SPDX-License-Identifier: MIT
#include "engine/net/content_decoder.h"

#include <strings.h>

namespace tidewell {
namespace {

constexpr int kGzipWindow = 15 + 16;
constexpr int kZlibWindow = 15;
constexpr int kRawWindow = -15;

}  // namespace

bool TContentDecoder::Handles(const std::string& contentEncoding) {
  return strcasecmp(contentEncoding.c_str(), "gzip") == 0 || strcasecmp(contentEncoding.c_str(), "x-gzip") == 0 ||
         strcasecmp(contentEncoding.c_str(), "deflate") == 0;
}

TContentDecoder::TContentDecoder(const std::string& contentEncoding, kt::TStream& target) : target_(target) {
  deflate_ = strcasecmp(contentEncoding.c_str(), "deflate") == 0;
  inflateInit2(&zs_, deflate_ ? kZlibWindow : kGzipWindow);
}

TContentDecoder::~TContentDecoder() { inflateEnd(&zs_); }

bool TContentDecoder::Write(const char* data, size_t size) {
  if (!error_.empty()) return false;
  if (OverLimit()) return true;
  // "deflate" is meant as zlib data, but some servers send raw deflate data;
  // the first bytes tell which, so they are kept until output appears.
  if (deflate_ && !sawOutput_) firstBytes_.append(data, size);
  return Inflate(data, size);
}

bool TContentDecoder::Inflate(const char* data, size_t size) {
  unsigned char out[1 << 16];
  zs_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
  zs_.avail_in = static_cast<uInt>(size);
  while (zs_.avail_in > 0 && !finished_ && !OverLimit()) {
    zs_.next_out = out;
    zs_.avail_out = sizeof out;
    const int status = inflate(&zs_, Z_NO_FLUSH);
    if (status == Z_DATA_ERROR && deflate_ && !sawOutput_ && !triedRaw_) return RestartAsRawDeflate(data, size);
    if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
      error_ = zs_.msg != nullptr ? zs_.msg : "invalid compressed data";
      return false;
    }
    const size_t produced = sizeof out - zs_.avail_out;
    if (produced > 0) {
      target_.WriteBuffer(out, static_cast<int64_t>(produced));
      decoded_ += static_cast<int64_t>(produced);
      sawOutput_ = true;
      firstBytes_.clear();
    }
    if (status == Z_STREAM_END) finished_ = true;
    if (status == Z_BUF_ERROR) break;
  }
  return true;
}

bool TContentDecoder::RestartAsRawDeflate(const char*, size_t) {
  triedRaw_ = true;
  inflateEnd(&zs_);
  zs_ = z_stream{};
  inflateInit2(&zs_, kRawWindow);
  const std::string replay = std::move(firstBytes_);
  firstBytes_.clear();
  return Inflate(replay.data(), replay.size());
}

}  // namespace tidewell
