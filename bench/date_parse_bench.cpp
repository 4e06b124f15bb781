// SPDX-License-Identifier: MIT
// Feed dates parsed per second: the engine's RFC 822 and ISO 8601 parsers
// next to strptime plus timegm on the same texts, in the same run.
#include <benchmark/benchmark.h>
#include <time.h>

#include <cmath>
#include <string>
#include <vector>

#include "engine/tidewell_date.h"

namespace {

// A mix as feeds write them: RSS pubDates with named and numeric zones, Atom
// and Dublin Core dates with "Z", offsets and fractions.
const std::vector<std::string>& Mix() {
  static const std::vector<std::string> texts = {
      "Fri, 05 Jan 2024 10:00:00 GMT",      "Sat, 06 Jan 2024 23:59:59 +0000",
      "Mon, 15 Jul 2024 08:30:00 -0500",    "Tue, 02 Apr 2024 12:00:00 +0200",
      "Wed, 20 Mar 2024 06:15:42 -0700",    "Thu, 31 Oct 2024 18:45:00 +0530",
      "Sun, 01 Dec 2024 00:00:01 +0100",    "Fri, 09 Feb 2024 14:22:10 -0800",
      "2024-01-05T10:00:00Z",               "2024-03-17T08:45:12+01:00",
      "2024-07-01T23:59:59-04:00",          "2024-11-20T12:00:00.123Z",
      "2024-02-29T00:00:00+05:30",          "2024-06-30T18:30:00-07:00",
      "2024-09-09T09:09:09.000000+00:00",   "2024-12-31T23:00:00+09:00",
  };
  return texts;
}

bool IsIso(const std::string& text) { return text.size() > 4 && text[4] == '-'; }

void BM_TidewellParsers(benchmark::State& state) {
  const auto& texts = Mix();
  double offset = 0;
  std::string zone;
  for (auto _ : state) {
    for (const std::string& text : texts) {
      const tidewell::TDateTime value = IsIso(text) ? tidewell::ParseISO8601Date(text, offset, zone)
                                                    : tidewell::ParseRFC822Date(text, offset, zone);
      benchmark::DoNotOptimize(tidewell::NormalizeToUTC(zone, offset, value));
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * texts.size()));
}
BENCHMARK(BM_TidewellParsers);

// The C library reference: strptime with "%z" (which also takes "+01:00")
// and timegm; fractions are skipped as the engine skips them.
time_t StrptimeTimegm(const std::string& text) {
  struct tm parts {};
  const char* rest = nullptr;
  if (IsIso(text)) {
    rest = ::strptime(text.c_str(), "%Y-%m-%dT%H:%M:%S", &parts);
    if (rest != nullptr && *rest == '.')
      for (++rest; *rest >= '0' && *rest <= '9';) ++rest;
    if (rest != nullptr) rest = ::strptime(rest, "%z", &parts);
  } else {
    rest = ::strptime(text.c_str(), "%a, %d %b %Y %H:%M:%S %z", &parts);
  }
  const long offset = parts.tm_gmtoff;
  return ::timegm(&parts) - offset;
}

// Both sides must read every text as the same instant, or the figures
// compare different work.
bool SameInstants() {
  double offset = 0;
  std::string zone;
  for (const std::string& text : Mix()) {
    const tidewell::TDateTime value = IsIso(text) ? tidewell::ParseISO8601Date(text, offset, zone)
                                                  : tidewell::ParseRFC822Date(text, offset, zone);
    const double seconds = (tidewell::NormalizeToUTC(zone, offset, value) - 25569.0) * 86400.0;
    if (std::llround(seconds) != StrptimeTimegm(text)) return false;
  }
  return true;
}

void BM_StrptimeTimegm(benchmark::State& state) {
  const auto& texts = Mix();
  if (!SameInstants()) state.SkipWithError("the two parsers disagree on the mix");
  for (auto _ : state)
    for (const std::string& text : texts) benchmark::DoNotOptimize(StrptimeTimegm(text));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * texts.size()));
}
BENCHMARK(BM_StrptimeTimegm);

}  // namespace
