// SPDX-License-Identifier: MIT
// The result object of one transfer: the body stream, the response values
// and the error of the job. Made by the download for each call and handed to
// the worker's response handler; used on the worker's thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/tidewell_struct.h"
#include "toolkit/stream.h"
#include "toolkit/wide_string.h"

namespace tidewell {

class TtidewellTrdJobPropClass {
 public:
  // Stores the URL and file name and makes the stream by job kind:
  // CgetEnclosure a TDownloadFileStream that creates fileName (raises
  // EFCreateError when it cannot); CgetRawData callerStream, which stays the caller's;
  // CfeedOperation, CgetArticle and CgetOpmlData a memory stream; CNoJob none.
  TtidewellTrdJobPropClass(const std::string& url, kt::TStream* callerStream, const kt::WideString& fileName,
                           TQueueJobTypes jobType);
  ~TtidewellTrdJobPropClass();
  TtidewellTrdJobPropClass(const TtidewellTrdJobPropClass&) = delete;
  TtidewellTrdJobPropClass& operator=(const TtidewellTrdJobPropClass&) = delete;

  // The body of the transfer; nullptr when there is none (CNoJob, or after
  // CloseStream).
  kt::TStream* Stream() const { return stream_; }
  // Frees the stream unless it is the caller's; an enclosure's file is
  // closed this way before it is moved or deleted.
  void CloseStream();
  // The same for an enclosure's file, raising EFWriteError when the system
  // reports that the body did not reach it.
  void CloseFile();
  // True when the stream belongs to the caller.
  bool OwnsNoStream() const { return ownsNoStream_; }
  // For an enclosure's file still open: the system's reason why it is no
  // longer where it was created (its folder went away), else "".
  std::string FileGoneReason() const;
  // Frees the stream like CloseStream; an enclosure's file is removed
  // first, even from a folder that was renamed meanwhile.
  void DiscardFile();

  // A transfer that delivered its body: no error and code 200.
  bool Succeeded() const { return !error && httpCode == 200; }
  // The first value of a response header (name compared without case), or
  // "" when the response had none.
  std::string Header(const std::string& name) const;

  int32_t httpCode = 0;
  std::string url;
  std::string errorText;
  // Filled from the response when the transfer succeeded; empty (or -1 for
  // the length) otherwise.
  std::string lastModified;
  std::string etag;
  std::string finalUrl;
  std::string server;
  std::string contentType;
  std::string contentEncoding;
  int32_t contentLength = -1;
  // The response headers of the last request, "Name: value" each.
  std::vector<std::string> headers;
  kt::WideString localFileName;
  bool error = false;
  // The failure was the file's, not the transfer's: the body could not be
  // written, closed or moved into place.
  bool fileError = false;
  // The failure may pass: the same transfer may succeed later (a line
  // reset or timed out, an answer cut short, a 5xx).
  bool passingFailure = false;

 private:
  bool ownsNoStream_ = false;
  kt::TStream* stream_ = nullptr;
  std::unique_ptr<kt::TStream> ownedStream_;
};

}  // namespace tidewell
