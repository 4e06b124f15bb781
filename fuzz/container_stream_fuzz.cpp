// SPDX-License-Identifier: MIT
#include "container_stream_fuzz.h"

#include <cstdlib>
#include <memory>

#include "toolkit/kt_key_handlers.h"
#include "toolkit/kt_tree.h"
#include "toolkit/kt_typed_containers.h"

namespace kt::fuzzing {
namespace {

constexpr int kKinds = 7;

std::unique_ptr<TKtContainer> NewContainer(int kind) {
  switch (kind) {
    case 0:
      return std::make_unique<TKtWideStringVector>();
    case 1:
      return std::make_unique<TKtWideString2CardinalVector>();
    case 2:
      return std::make_unique<TKtWideStringHash>(WideStringCIKeyHandler());
    case 3:
      return std::make_unique<TKtCardinalHash>(CardinalKeyHandler());
    case 4:
      return std::make_unique<TKtCardinalHash>(WideCharCSKeyHandler());
    case 5:
      return std::make_unique<TKtTree>(WideStringItemHandler());
    default:
      return std::make_unique<TKtWideStringHash>(WideStringCSKeyHandler());
  }
}

std::vector<uint8_t> Save(TKtContainer& container) {
  TMemoryStream stream;
  container.WriteData(&stream);
  return stream.Bytes();
}

// Typed values, read until the data gives out.
void ReadValues(const uint8_t* data, size_t size) {
  TMemoryStream stream;
  stream.WriteBuffer(data, static_cast<int64_t>(size));
  stream.SetPosition(0);
  TKtBinaryReader reader(stream, 7);
  try {
    for (int i = 0; i < 64; ++i) {
      switch (reader.ReadValueType() % 4) {
        case 0: reader.ReadWideStr(); break;
        case 1: reader.ReadInteger(); break;
        case 2: reader.ReadCardinal(); break;
        default: reader.ReadWord(); break;
      }
    }
  } catch (const Exception&) {
  }
}

}  // namespace

void LoadContainerStream(const uint8_t* data, size_t size) {
  if (size == 0) return;
  ReadValues(data + 1, size - 1);
  const int kind = data[0] % kKinds;
  std::unique_ptr<TKtContainer> container = NewContainer(kind);
  TMemoryStream stream;
  stream.WriteBuffer(data + 1, static_cast<int64_t>(size - 1));
  stream.SetPosition(0);
  try {
    container->ReadData(&stream);
  } catch (const Exception&) {
    // Refused input; whatever was kept must still save.
    Save(*container);
    return;
  }
  // What loaded saves, and the saved form loads back to the same bytes.
  const std::vector<uint8_t> saved = Save(*container);
  std::unique_ptr<TKtContainer> reloaded = NewContainer(kind);
  TMemoryStream again;
  again.WriteBuffer(saved.data(), static_cast<int64_t>(saved.size()));
  again.SetPosition(0);
  reloaded->ReadData(&again);
  if (Save(*reloaded) != saved) std::abort();
}

}  // namespace kt::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kt::fuzzing::LoadContainerStream(data, size);
  return 0;
}
