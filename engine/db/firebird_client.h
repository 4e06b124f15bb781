// SPDX-License-Identifier: MIT
// Internal to the database access layer: the entry points of libfbclient, the
// one place where the engine's status is turned into EFirebirdError, handle
// ownership, and the conversion of timestamps to and from TDateTime.
#pragma once

#include <firebird/Interface.h>
#include <ibase.h>

#include <utility>

#include "engine/db/firebird_error.h"
#include "engine/db/server_waits.h"
#include "engine/tidewell_struct.h"

namespace tidewell::db::fb {

Firebird::IMaster* Master();
Firebird::IUtil* Util();
// The dispatcher: routes "host:path" to a server and a plain path to the
// in-process engine. Shared by the whole process; never released.
Firebird::IProvider* Provider();

EFirebirdError ToError(const Firebird::IStatus* status);

// Runs call(status) with a fresh status of its own (statuses are not shared
// between threads), within the calling thread's bound (server_waits.h); a
// failure is raised as EFirebirdError.
template <typename Call>
auto Invoke(Call&& call) {
  Firebird::ThrowStatusWrapper status(Master()->getStatus());
  struct Disposer {
    Firebird::ThrowStatusWrapper& status;
    ~Disposer() { status.dispose(); }
  } disposer{status};
  const ServerWait wait;
  try {
    return std::forward<Call>(call)(&status);
  } catch (const Firebird::FbException& e) {
    throw ToError(e.getStatus());
  }
}

// Owns one reference to a Firebird interface and releases it unless the
// object was closed (which frees it) and Forget() was called.
template <typename T>
class Ref {
 public:
  Ref() = default;
  explicit Ref(T* handle) : handle_(handle) {}
  ~Ref() { Reset(); }
  Ref(Ref&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  Ref& operator=(Ref&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;

  T* get() const { return handle_; }
  T* operator->() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  // After a successful close/free/commit the interface is gone already.
  void Forget() { handle_ = nullptr; }
  void Reset(T* handle = nullptr) {
    if (handle_ != nullptr) handle_->release();
    handle_ = handle;
  }

 private:
  T* handle_ = nullptr;
};

ISC_TIMESTAMP ToTimestamp(TDateTime value);
TDateTime FromTimestamp(const ISC_TIMESTAMP& value);
TDateTime FromDate(ISC_DATE value);
TDateTime FromTime(ISC_TIME value);

}  // namespace tidewell::db::fb
