// SPDX-License-Identifier: MIT
#include "toolkit/kt_item_handlers.h"

#include <cstring>

#include "toolkit/kt_containers.h"

namespace kt {
namespace {

// Bytes of an item beyond its layout, read and written raw.
int32_t ExtraBytes(const TKtContainer& container, int32_t layout_size) {
  return container.ItemHandler().ItemSize() - layout_size;
}

void ReadExtra(TKtContainer& container, TKtBinaryReader& reader, void* item, int32_t layout_size) {
  const int32_t extra = ExtraBytes(container, layout_size);
  if (extra > 0) reader.ReadBuffer(static_cast<uint8_t*>(item) + layout_size, extra);
}

void WriteExtra(TKtContainer& container, TKtBinaryWriter& writer, const void* item, int32_t layout_size) {
  const int32_t extra = ExtraBytes(container, layout_size);
  if (extra > 0) writer.WriteBuffer(static_cast<const uint8_t*>(item) + layout_size, extra);
}

// The header pair: the item size as it counts in streams, where a string
// reference counts 4 bytes whatever this machine's pointers take, so the
// stream layout does not depend on the machine.
template <int32_t kLayoutSize, int32_t kStreamSize>
void WriteSizeHeader(TKtContainer& container, TKtBinaryWriter& writer, void*) {
  writer.WriteInteger(ExtraBytes(container, kLayoutSize) + kStreamSize);
}

template <int32_t kLayoutSize, int32_t kStreamSize>
void ReadSizeHeader(TKtContainer& container, TKtBinaryReader& reader, void*) {
  const int32_t size = reader.ReadInteger();
  if (size != ExtraBytes(container, kLayoutSize) + kStreamSize) container.Error("Invalid ItemSize (%d)", size);
}

TKtWideStringRef& StringOf(void* item) { return *static_cast<TKtWideStringRef*>(item); }
const TKtWideStringRef& StringOf(const void* item) { return *static_cast<const TKtWideStringRef*>(item); }
TKtWideString2CardinalItem& TripleOf(void* item) { return *static_cast<TKtWideString2CardinalItem*>(item); }
const TKtWideString2CardinalItem& TripleOf(const void* item) {
  return *static_cast<const TKtWideString2CardinalItem*>(item);
}

constexpr int32_t kStringLayout = sizeof(TKtWideStringRef);
constexpr int32_t kTripleLayout = sizeof(TKtWideString2CardinalItem);
constexpr int32_t kCardinalLayout = sizeof(uint32_t);

TKtItemHandler* MakeWideStringItemHandler() {
  auto* handler = new TKtItemHandler();
  handler->SetItemSize(kStringLayout);
  handler->SetOnInitItem([](void* item) { std::memset(item, 0, kStringLayout); });
  handler->SetOnFreeItem([](void* item) { StringOf(item).Release(); });
  handler->SetOnCopyItem([](const void* source, void* dest) { StringOf(dest).Assign(StringOf(source).Get()); });
  handler->SetOnReadItem([](TKtContainer& container, TKtBinaryReader& reader, void* item, void*) {
    StringOf(item).Assign(reader.ReadWideStr());
    ReadExtra(container, reader, item, kStringLayout);
  });
  handler->SetOnWriteItem([](TKtContainer& container, TKtBinaryWriter& writer, const void* item, void*) {
    writer.WriteWideStr(StringOf(item).Get());
    WriteExtra(container, writer, item, kStringLayout);
  });
  handler->SetOnReadHeader(ReadSizeHeader<kStringLayout, kKtWideStringItemStreamSize>);
  handler->SetOnWriteHeader(WriteSizeHeader<kStringLayout, kKtWideStringItemStreamSize>);
  return handler;
}

TKtItemHandler* MakeWideString2CardinalItemHandler() {
  auto* handler = new TKtItemHandler();
  handler->SetItemSize(kTripleLayout);
  handler->SetOnInitItem([](void* item) { std::memset(item, 0, kTripleLayout); });
  handler->SetOnFreeItem([](void* item) {
    TripleOf(item).first.Release();
    TripleOf(item).second.Release();
  });
  handler->SetOnCopyItem([](const void* source, void* dest) {
    TripleOf(dest).first.Assign(TripleOf(source).first.Get());
    TripleOf(dest).second.Assign(TripleOf(source).second.Get());
    TripleOf(dest).number = TripleOf(source).number;
  });
  handler->SetOnReadItem([](TKtContainer& container, TKtBinaryReader& reader, void* item, void*) {
    TripleOf(item).first.Assign(reader.ReadWideStr());
    TripleOf(item).second.Assign(reader.ReadWideStr());
    TripleOf(item).number = reader.ReadCardinal();
    ReadExtra(container, reader, item, kTripleLayout);
  });
  handler->SetOnWriteItem([](TKtContainer& container, TKtBinaryWriter& writer, const void* item, void*) {
    writer.WriteWideStr(TripleOf(item).first.Get());
    writer.WriteWideStr(TripleOf(item).second.Get());
    writer.WriteCardinal(TripleOf(item).number);
    WriteExtra(container, writer, item, kTripleLayout);
  });
  handler->SetOnReadHeader(ReadSizeHeader<kTripleLayout, kKtWideString2CardinalItemStreamSize>);
  handler->SetOnWriteHeader(WriteSizeHeader<kTripleLayout, kKtWideString2CardinalItemStreamSize>);
  return handler;
}

TKtItemHandler* MakeCardinalItemHandler() {
  auto* handler = new TKtItemHandler();
  handler->SetItemSize(kCardinalLayout);
  handler->SetOnInitItem([](void* item) { std::memset(item, 0, kCardinalLayout); });
  handler->SetOnCopyItem([](const void* source, void* dest) { std::memcpy(dest, source, kCardinalLayout); });
  handler->SetOnReadItem([](TKtContainer& container, TKtBinaryReader& reader, void* item, void*) {
    *static_cast<uint32_t*>(item) = reader.ReadCardinal();
    ReadExtra(container, reader, item, kCardinalLayout);
  });
  handler->SetOnWriteItem([](TKtContainer& container, TKtBinaryWriter& writer, const void* item, void*) {
    writer.WriteCardinal(*static_cast<const uint32_t*>(item));
    WriteExtra(container, writer, item, kCardinalLayout);
  });
  handler->SetOnReadHeader(ReadSizeHeader<kCardinalLayout, kCardinalLayout>);
  handler->SetOnWriteHeader(WriteSizeHeader<kCardinalLayout, kCardinalLayout>);
  return handler;
}

}  // namespace

// Made once, on first use (thread-safe static initialisation), and never
// freed: containers in static storage may still use them while the program
// ends.
TKtItemHandler* WideStringItemHandler() {
  static TKtItemHandler* const handler = MakeWideStringItemHandler();
  return handler;
}

TKtItemHandler* WideString2CardinalItemHandler() {
  static TKtItemHandler* const handler = MakeWideString2CardinalItemHandler();
  return handler;
}

TKtItemHandler* CardinalItemHandler() {
  static TKtItemHandler* const handler = MakeCardinalItemHandler();
  return handler;
}

}  // namespace kt
