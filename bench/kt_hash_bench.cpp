// SPDX-License-Identifier: MIT
// Inserting and finding a million 16-bit string keys: the toolkit's hashes
// next to std::unordered_map doing the same work in the same run.
#include <benchmark/benchmark.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "toolkit/kt_key_handlers.h"
#include "toolkit/kt_typed_containers.h"

namespace {

constexpr int kKeys = 1000000;

const std::vector<std::u16string>& Keys() {
  static const std::vector<std::u16string> keys = [] {
    std::vector<std::u16string> made;
    made.reserve(kKeys);
    for (int i = 0; i < kKeys; ++i) made.push_back(kt::Utf8ToWide("element-" + std::to_string(static_cast<int64_t>(i) * 7919)));
    return made;
  }();
  return keys;
}

void BM_KtWideStringHash(benchmark::State& state) {
  const auto& keys = Keys();
  for (auto _ : state) {
    kt::TKtWideStringHash hash(kt::WideStringCSKeyHandler());
    for (const auto& key : keys) {
      const kt::TKtWideStringRef ref = kt::TKtWideStringRef::Borrow(key);
      hash.InsertKey(&ref);
    }
    int64_t found = 0;
    for (const auto& key : keys) {
      const kt::TKtWideStringRef ref = kt::TKtWideStringRef::Borrow(key);
      found += hash.IndexOfKey(&ref) >= 0;
    }
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(state.iterations() * kKeys * 2);
}

void BM_KtCardinalHashFromBuffers(benchmark::State& state) {
  const auto& keys = Keys();
  for (auto _ : state) {
    kt::TKtCardinalHash hash(kt::WideStringCSKeyHandler());
    uint32_t value = 0;
    for (const auto& key : keys) {
      *static_cast<uint32_t*>(hash.InsertKeyBuf(key.data(), static_cast<int32_t>(key.size()))) = value++;
    }
    uint64_t sum = 0;
    for (const auto& key : keys) sum += hash.ValueOfKey(key.data(), static_cast<int32_t>(key.size()));
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kKeys * 2);
}

void BM_StdUnorderedMap(benchmark::State& state) {
  const auto& keys = Keys();
  for (auto _ : state) {
    std::unordered_map<std::u16string, uint32_t> map;
    uint32_t value = 0;
    for (const auto& key : keys) map.emplace(key, value++);
    uint64_t sum = 0;
    for (const auto& key : keys) {
      const auto found = map.find(key);
      if (found != map.end()) sum += found->second;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kKeys * 2);
}

BENCHMARK(BM_KtWideStringHash)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KtCardinalHashFromBuffers)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdUnorderedMap)->Unit(benchmark::kMillisecond);

}  // namespace
