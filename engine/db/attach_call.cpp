// SPDX-License-Identifier: MIT
#include "engine/db/attach_call.h"

#include <atomic>
#include <string>
#include <thread>

#include "engine/db/firebird_client.h"
#include "engine/db/firebird_error.h"
#include "toolkit/exception.h"

namespace tidewell::db {
namespace {

std::atomic<int> attachThreads{0};

// An attachment made after its caller left: nobody uses it.
void DropUnwanted(Firebird::IAttachment* attachment) {
  try {
    fb::Invoke([&](Firebird::ThrowStatusWrapper* status) { attachment->detach(status); });
  } catch (const std::exception&) {
    attachment->release();
  }
}

// The caller throws a failure made anew from the attach thread's, never that
// object nor a copy of it (a copied message shares its text): the thread
// frees its own when it ends, while the caller's may still be handled (and
// kept) elsewhere.
[[noreturn]] void ThrowAnew(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const EFirebirdError& error) {
    throw EFirebirdError(std::string(error.what()), error.SqlCode(), error.GdsCode(), error.GdsCodes());
  } catch (const kt::Exception& error) {
    throw kt::Exception(std::string(error.what()));
  }
}

}  // namespace

std::shared_ptr<AttachCall> AttachCall::Start(Attach attach) {
  auto call = std::make_shared<AttachCall>();
  ++attachThreads;
  try {
    std::thread([call, attach = std::move(attach)] {
      call->Run(attach);
      --attachThreads;
    }).detach();
  } catch (...) {
    --attachThreads;
    throw;
  }
  return call;
}

void AttachCall::Run(const Attach& attach) {
  Firebird::IAttachment* attachment = nullptr;
  std::exception_ptr failure;
  try {
    attachment = fb::Invoke(attach);
  } catch (...) {
    failure = std::current_exception();
  }
  bool abandoned = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
    abandoned = abandoned_;
    if (!abandoned) {
      attachment_ = attachment;
      failure_ = failure;
    }
  }
  changed_.notify_all();
  if (abandoned && attachment != nullptr) DropUnwanted(attachment);
}

Firebird::IAttachment* AttachCall::Wait(std::chrono::milliseconds bound) {
  std::unique_lock<std::mutex> lock(mutex_);
  const bool ended = changed_.wait_for(lock, bound, [&] { return done_ || abandoned_; });
  if (done_ && !abandoned_) {
    if (failure_) ThrowAnew(failure_);
    return attachment_;
  }
  abandoned_ = true;
  if (ended)
    throw EFirebirdError("The attachment to the database server was given up (cut or closing)", 0, isc_net_read_err);
  throw EFirebirdError("The database server took the connection but did not complete the attachment within " +
                           std::to_string(bound.count() / 1000) + " s",
                       0, isc_net_read_err);
}

void AttachCall::Abandon() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (done_) return;
    abandoned_ = true;
  }
  changed_.notify_all();
}

int AttachThreadsRunning() { return attachThreads.load(); }

}  // namespace tidewell::db
