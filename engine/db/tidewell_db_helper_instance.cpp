// SPDX-License-Identifier: MIT
#include "engine/db/tidewell_db_helper_instance.h"

#include <atomic>

#include "toolkit/exception.h"

namespace tidewell {
namespace {

std::atomic<TtidewellDbHelper*> instance{nullptr};

}  // namespace

TtidewellDbHelper* DbHelperInstance() { return instance.load(); }

TtidewellDbHelper& CreateDbHelperInstance() {
  auto* helper = new TtidewellDbHelper();
  TtidewellDbHelper* expected = nullptr;
  if (!instance.compare_exchange_strong(expected, helper)) {
    delete helper;
    throw kt::Exception("DB helper class already exists !");
  }
  return *helper;
}

void FreeDbHelperInstance() { delete instance.exchange(nullptr); }

void AbandonDbHelperInstance() { instance.store(nullptr); }

}  // namespace tidewell
