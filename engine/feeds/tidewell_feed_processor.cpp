// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_feed_processor.h"

namespace tidewell {

void TtidewellFeedProcessor::ParseFeedForUpdate(TtidewellFeedContext& context, const TFeedProperty& feedRecord,
                                                TtidewellTrdJobPropClass& jobProps) {
  (void)context;
  (void)feedRecord;
  (void)jobProps;
}

void TtidewellFeedProcessor::ParseFeedForInsert(TtidewellFeedContext& context, TtidewellTrdJobPropClass& jobProps) {
  (void)context;
  (void)jobProps;
}

}  // namespace tidewell
