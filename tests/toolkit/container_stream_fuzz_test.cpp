// SPDX-License-Identifier: MIT
// Replays mutated container streams through the fuzz target, so every test
// run covers the corrupt-input paths the fuzzer explores at length.
#include <gtest/gtest.h>

#include <random>

#include "fuzz/container_stream_fuzz.h"
#include "toolkit/kt_key_handlers.h"
#include "toolkit/kt_tree.h"
#include "toolkit/kt_typed_containers.h"

namespace kt {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes WithKind(uint8_t kind, TKtContainer& container) {
  TMemoryStream stream;
  stream.WriteBuffer(&kind, 1);
  container.WriteData(&stream);
  return stream.Bytes();
}

std::vector<Bytes> Seeds() {
  std::vector<Bytes> seeds;
  TKtWideStringVector strings;
  TKtWideString2CardinalVector tag;
  TKtWideStringHash by_name(WideStringCIKeyHandler());
  TKtCardinalHash by_number(CardinalKeyHandler());
  TKtCardinalHash by_char(WideCharCSKeyHandler());
  TKtTree tree(WideStringItemHandler());
  for (uint32_t i = 0; i < 12; ++i) {
    const WideString text = u"t" + Utf8ToWide(std::to_string(i * 37));
    strings.AddString(text);
    tag.AddItem(text, u"v", i);
    const TKtWideStringRef key = TKtWideStringRef::Borrow(text);
    static_cast<TKtWideStringRef*>(by_name.InsertKey(&key))->Assign(text);
    *static_cast<uint32_t*>(by_number.InsertKey(&i)) = i;
    const WideChar c = static_cast<WideChar>(u'a' + i);
    by_char.InsertKey(&c);
    static_cast<TKtWideStringRef*>(tree.NewChild(i % 3 == 0 ? nullptr : tree.Last()))->Assign(text);
  }
  seeds.push_back(WithKind(0, strings));
  seeds.push_back(WithKind(1, tag));
  seeds.push_back(WithKind(2, by_name));
  seeds.push_back(WithKind(3, by_number));
  seeds.push_back(WithKind(4, by_char));
  seeds.push_back(WithKind(5, tree));
  return seeds;
}

Bytes Mutated(const Bytes& seed, std::mt19937& random) {
  Bytes bytes = seed;
  const int edits = 1 + static_cast<int>(random() % 4);
  for (int i = 0; i < edits && bytes.size() > 1; ++i) {
    const size_t at = 1 + random() % (bytes.size() - 1);
    switch (random() % 4) {
      case 0: bytes[at] = static_cast<uint8_t>(random()); break;
      case 1: bytes[at] ^= static_cast<uint8_t>(1u << (random() % 8)); break;
      case 2: bytes.resize(at); break;
      default: bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), static_cast<uint8_t>(random())); break;
    }
  }
  return bytes;
}

TEST(ContainerStreamFuzzTest, SeedsLoadAndMutationsNeverCrash) {
  std::mt19937 random(20261207);
  for (const Bytes& seed : Seeds()) {
    fuzzing::LoadContainerStream(seed.data(), seed.size());
    for (int i = 0; i < 2000; ++i) {
      const Bytes bytes = Mutated(seed, random);
      fuzzing::LoadContainerStream(bytes.data(), bytes.size());
    }
  }
}

TEST(ContainerStreamFuzzTest, HugeLengthsAndCountsInShortStreams) {
  const std::vector<Bytes> cases = {
      {0, 'K', 'T', 'V', 'C', 2, 1, 2, 4, 2, 1, 38, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0},
      {2, 'K', 'T', 'H', 'C', 2, 1, 2, 4, 11, 0xFF, 0xFF, 0xFF, 0x3F, 33, 0xFF, 0xFF, 0xFF, 0xFF},
      {5, 'K', 'T', 'T', 'C', 2, 1, 2, 4, 11, 0xFF, 0xFF, 0xFF, 0x7F, 11, 0xFF, 0xFF, 0xFF, 0x7F, 34},
      {3, 'K', 'T', 'H', 'C', 2, 1, 2, 4, 12, 0xFF, 0xFF, 0xFF, 0xFF},
  };
  for (const Bytes& bytes : cases) fuzzing::LoadContainerStream(bytes.data(), bytes.size());
}

}  // namespace
}  // namespace kt
