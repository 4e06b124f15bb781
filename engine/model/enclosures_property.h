// SPDX-License-Identifier: MIT
// One enclosure row of an article.
#pragma once

#include <cstdint>
#include <string>

#include "engine/model/base_property.h"

namespace tidewell {

class TEnclosuresProperty : public TBaseProperty {
 public:
  using TBaseProperty::TBaseProperty;

  std::string Url;  // character references decoded
  int32_t Size = 0;
  int32_t EnclosureId = 0;
  std::string MimeType;
  std::string FileLocation;
  // 0 new, 1 downloading, 2 downloaded, 3 failed.
  int32_t DownloadStatus = 0;
};

}  // namespace tidewell
