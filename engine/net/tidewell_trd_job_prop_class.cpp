// SPDX-License-Identifier: MIT
#include "engine/net/tidewell_trd_job_prop_class.h"

#include <strings.h>

#include "engine/net/download_file_stream.h"

namespace tidewell {

TtidewellTrdJobPropClass::TtidewellTrdJobPropClass(const std::string& url, kt::TStream* callerStream,
                                                   const kt::WideString& fileName, TQueueJobTypes jobType)
    : url(url), localFileName(fileName) {
  switch (jobType) {
    case TQueueJobTypes::CgetEnclosure:
      ownedStream_ = std::make_unique<TDownloadFileStream>(fileName);
      break;
    case TQueueJobTypes::CgetRawData:
      ownsNoStream_ = true;
      stream_ = callerStream;
      return;
    case TQueueJobTypes::CfeedOperation:
    case TQueueJobTypes::CgetArticle:
    case TQueueJobTypes::CgetOpmlData:
      ownedStream_ = std::make_unique<kt::TMemoryStream>();
      break;
    case TQueueJobTypes::CNoJob:
      break;
  }
  stream_ = ownedStream_.get();
}

TtidewellTrdJobPropClass::~TtidewellTrdJobPropClass() = default;

void TtidewellTrdJobPropClass::CloseStream() {
  ownedStream_.reset();
  stream_ = nullptr;
}

void TtidewellTrdJobPropClass::CloseFile() {
  if (auto* file = dynamic_cast<TDownloadFileStream*>(ownedStream_.get())) file->Close();
  CloseStream();
}

std::string TtidewellTrdJobPropClass::FileGoneReason() const {
  if (auto* file = dynamic_cast<TDownloadFileStream*>(ownedStream_.get())) return file->GoneReason();
  return {};
}

void TtidewellTrdJobPropClass::DiscardFile() {
  if (auto* file = dynamic_cast<TDownloadFileStream*>(ownedStream_.get())) file->Discard();
  CloseStream();
}

std::string TtidewellTrdJobPropClass::Header(const std::string& name) const {
  for (const std::string& line : headers) {
    const size_t colon = line.find(':');
    if (colon != name.size() || strncasecmp(line.c_str(), name.c_str(), colon) != 0) continue;
    const size_t start = line.find_first_not_of(" \t", colon + 1);
    return start == std::string::npos ? std::string() : line.substr(start);
  }
  return {};
}

}  // namespace tidewell
