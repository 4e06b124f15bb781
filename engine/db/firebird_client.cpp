// SPDX-License-Identifier: MIT
#include "engine/db/firebird_client.h"

#include <cmath>
#include <vector>

#include "engine/db/update_conflict.h"

namespace tidewell::db::fb {
namespace {

// The day 1899-12-30 (TDateTime 0) counted from 1858-11-17 (ISC_DATE 0).
constexpr int32_t kDateTimeEpochInIscDays = 15018;
constexpr int64_t kTicksPerDay = 86400LL * ISC_TIME_SECONDS_PRECISION;

}  // namespace

Firebird::IMaster* Master() {
  static Firebird::IMaster* const master = Firebird::fb_get_master_interface();
  return master;
}

Firebird::IUtil* Util() { return Master()->getUtilInterface(); }

Firebird::IProvider* Provider() {
  static Firebird::IProvider* const provider = Master()->getDispatcher();
  return provider;
}

// The codes of a status vector's isc_arg_gds entries, in order.
std::vector<intptr_t> GdsCodesOf(const intptr_t* errors) {
  std::vector<intptr_t> codes;
  if (errors == nullptr) return codes;
  for (const intptr_t* entry = errors; *entry != isc_arg_end;) {
    if (entry[0] == isc_arg_gds) codes.push_back(entry[1]);
    // A counted string takes two values (length, text); every other kind one.
    entry += entry[0] == isc_arg_cstring ? 3 : 2;
  }
  return codes;
}

}  // namespace tidewell::db::fb

namespace tidewell::db {

// A server that dies while it holds a new connection unanswered (as one
// that restarts does) makes the client say "connection rejected by remote
// interface": it is gone as surely as one that refuses the connection. One
// that is starting again may fail a login for its own reasons ("error
// occurred during login"; a wrong password is isc_login): it answers soon.
bool EFirebirdError::IsConnectionLost() const {
  for (const intptr_t code : {isc_net_read_err, isc_net_write_err, isc_network_error, isc_lost_db_connection,
                              isc_conn_lost, isc_att_shutdown, isc_shutdown, isc_bad_db_handle, isc_connect_reject,
                              isc_login_error})
    if (HasGdsCode(code)) return true;
  return false;
}

bool IsConnectionLost(const std::exception& error) {
  const auto* failure = dynamic_cast<const EFirebirdError*>(&error);
  return failure != nullptr && failure->IsConnectionLost();
}

}  // namespace tidewell::db

namespace tidewell::db::fb {

EFirebirdError ToError(const Firebird::IStatus* status) {
  char text[2048] = {};
  Util()->formatStatus(text, sizeof text, const_cast<Firebird::IStatus*>(status));
  const intptr_t* errors = status->getErrors();
  const intptr_t gds = errors != nullptr && errors[0] == isc_arg_gds ? errors[1] : 0;
  const int32_t sqlCode = errors != nullptr ? isc_sqlcode(errors) : 0;
  EFirebirdError error(text, sqlCode, gds, GdsCodesOf(errors));
  if (IsUpdateConflict(error)) NoteUpdateConflictRaised(error.what());
  return error;
}

// TDateTime keeps the time of day as a positive fraction also for days
// before 1899-12-30: -1.25 is 1899-12-29 06:00.
ISC_TIMESTAMP ToTimestamp(TDateTime value) {
  const double whole = std::trunc(value);
  int64_t days = static_cast<int64_t>(whole);
  int64_t ticks = std::llround(std::fabs(value - whole) * static_cast<double>(kTicksPerDay));
  if (ticks >= kTicksPerDay) {
    ticks -= kTicksPerDay;
    days += value < 0 ? -1 : 1;
  }
  ISC_TIMESTAMP result;
  result.timestamp_date = static_cast<ISC_DATE>(days + kDateTimeEpochInIscDays);
  result.timestamp_time = static_cast<ISC_TIME>(ticks);
  return result;
}

TDateTime FromDate(ISC_DATE value) { return static_cast<double>(value - kDateTimeEpochInIscDays); }

TDateTime FromTime(ISC_TIME value) { return static_cast<double>(value) / static_cast<double>(kTicksPerDay); }

TDateTime FromTimestamp(const ISC_TIMESTAMP& value) {
  const TDateTime days = FromDate(value.timestamp_date);
  const TDateTime fraction = FromTime(value.timestamp_time);
  return days < 0 ? days - fraction : days + fraction;
}

}  // namespace tidewell::db::fb
