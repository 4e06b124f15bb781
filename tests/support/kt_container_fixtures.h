// SPDX-License-Identifier: MIT
// What the container tests share: 32-bit integer items that record every
// initialisation and free, 32-bit unsigned keys hashed by their value, and
// routines that stream containers and catch their errors.
//
//   using namespace kt::testing;
//   IntItemHandler handler;
//   TKtVector vector(&handler);
//   EXPECT_EQ(WriteErrorOf(vector), "no error");
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "toolkit/kt_containers.h"
#include "toolkit/kt_streams.h"
#include "toolkit/stream.h"

namespace kt::testing {

using Bytes = std::vector<uint8_t>;

// Items freed, in order, by any container using an IntItemHandler.
inline std::vector<int32_t>& FreedItems() {
  static std::vector<int32_t> freed;
  return freed;
}

inline int32_t& LiveItems() {
  static int32_t live = 0;
  return live;
}

// What container writes to a stream, as bytes.
inline std::vector<uint8_t> WrittenBytes(TKtContainer& container, TKtStreamOptions options = kKtStreamAll) {
  TMemoryStream stream;
  {
    TKtBinaryWriter writer(stream, 4096);
    container.WriteToStream(writer, options, nullptr);
  }
  return stream.Bytes();
}

// Reads container back from bytes.
inline void ReadBytes(TKtContainer& container, const std::vector<uint8_t>& bytes) {
  TMemoryStream stream;
  stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  stream.SetPosition(0);
  TKtBinaryReader reader(stream, 4096);
  container.ReadFromStream(reader, kKtStreamAll, nullptr);
}

inline std::vector<uint8_t> BytesOf(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

inline std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// New items read -7, so a test can tell initialised items from raw ones.
class IntItemHandler : public TKtItemHandler {
 public:
  static constexpr int32_t kInitValue = -7;

  explicit IntItemHandler(bool with_header = true) {
    SetItemSize(4);
    SetOnInitItem([](void* item) {
      *static_cast<int32_t*>(item) = kInitValue;
      ++LiveItems();
    });
    SetOnFreeItem([](void* item) {
      FreedItems().push_back(*static_cast<int32_t*>(item));
      --LiveItems();
    });
    SetOnCopyItem([](const void* source, void* dest) { std::memcpy(dest, source, 4); });
    SetOnReadItem([](TKtContainer&, TKtBinaryReader& reader, void* item, void*) {
      *static_cast<int32_t*>(item) = reader.ReadInteger();
    });
    SetOnWriteItem([](TKtContainer&, TKtBinaryWriter& writer, const void* item, void*) {
      writer.WriteInteger(*static_cast<const int32_t*>(item));
    });
    if (with_header) {
      SetOnWriteHeader([](TKtContainer& c, TKtBinaryWriter& writer, void*) {
        writer.WriteInteger(c.ItemHandler().ItemSize());
      });
      SetOnReadHeader([](TKtContainer& c, TKtBinaryReader& reader, void*) {
        if (reader.ReadInteger() != c.ItemHandler().ItemSize()) throw Exception("bad header");
      });
    }
  }
};

class UIntKeyHandler : public TKtKeyHandler {
 public:
  UIntKeyHandler() {
    SetKeySize(4);
    SetOnHashKey([](const void* key) { return *static_cast<const uint32_t*>(key); });
    SetOnHashKeyBuf([](const void* buffer, int32_t) { return *static_cast<const uint32_t*>(buffer); });
    SetOnSameKeys([](const void* a, const void* b) {
      return *static_cast<const uint32_t*>(a) == *static_cast<const uint32_t*>(b);
    });
    SetOnSameKeyBuf([](const void* key, const void* buffer, int32_t) {
      return *static_cast<const uint32_t*>(key) == *static_cast<const uint32_t*>(buffer);
    });
    SetOnStoreKey([](const void* key, void* dest) { std::memcpy(dest, key, 4); });
    SetOnReadKey([](TKtContainer&, TKtBinaryReader& reader, void* key, void*) {
      *static_cast<uint32_t*>(key) = reader.ReadCardinal();
    });
    SetOnWriteKey([](TKtContainer&, TKtBinaryWriter& writer, const void* key, void*) {
      writer.WriteCardinal(*static_cast<const uint32_t*>(key));
    });
  }
};

inline int32_t& IntAt(void* item) { return *static_cast<int32_t*>(item); }

// The message of the EKtContainerError that fn raises, or "no error".
template <typename Fn>
std::string ContainerErrorOf(Fn&& fn) {
  try {
    fn();
  } catch (const EKtContainerError& e) {
    return e.Message();
  }
  return "no error";
}

// The error of writing container to a stream, or "no error".
inline std::string WriteErrorOf(TKtContainer& container) {
  TMemoryStream stream;
  TKtBinaryWriter writer(stream, 16);
  return ContainerErrorOf([&] { container.WriteToStream(writer, kKtStreamAll, nullptr); });
}

// The error of reading container from an empty stream, or "no error".
inline std::string ReadErrorOf(TKtContainer& container) {
  TMemoryStream stream;
  TKtBinaryReader reader(stream, 16);
  return ContainerErrorOf([&] { container.ReadFromStream(reader, kKtStreamAll, nullptr); });
}

}  // namespace kt::testing
