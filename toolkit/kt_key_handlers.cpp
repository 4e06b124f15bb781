// SPDX-License-Identifier: MIT
#include "toolkit/kt_key_handlers.h"

#include <cstring>

#include "toolkit/kt_containers.h"
#include "toolkit/kt_string_ref.h"
#include "toolkit/kt_utils.h"

namespace kt {
namespace {

const WideString& TextOf(const void* key) { return static_cast<const TKtWideStringRef*>(key)->Get(); }
TKtWideStringRef& RefOf(void* key) { return *static_cast<TKtWideStringRef*>(key); }
const WideChar* CharsOf(const void* buffer) { return static_cast<const WideChar*>(buffer); }

// A negative length is taken as no characters.
std::u16string_view ViewOf(const void* buffer, int32_t length) {
  return length > 0 ? std::u16string_view(CharsOf(buffer), static_cast<size_t>(length)) : std::u16string_view();
}

uint32_t CardinalOf(const void* key) {
  uint32_t value;
  std::memcpy(&value, key, sizeof value);
  return value;
}

WideChar CharOf(const void* key) {
  WideChar value;
  std::memcpy(&value, key, sizeof value);
  return value;
}

void ReadStringKey(TKtContainer&, TKtBinaryReader& reader, void* key, void*) { RefOf(key).Assign(reader.ReadWideStr()); }
void WriteStringKey(TKtContainer&, TKtBinaryWriter& writer, const void* key, void*) { writer.WriteWideStr(TextOf(key)); }

// The parts the two string handlers share: storing, freeing and streaming.
TKtKeyHandler* MakeStringKeyHandler() {
  auto* handler = new TKtKeyHandler();
  handler->SetKeySize(sizeof(TKtWideStringRef));
  handler->SetOnStoreKey([](const void* key, void* dest) { RefOf(dest).Assign(TextOf(key)); });
  handler->SetOnStoreKeyBuf([](const void* buffer, int32_t length, void* dest) {
    RefOf(dest).Assign(ViewOf(buffer, length));
  });
  handler->SetOnFreeKey([](void* key) { RefOf(key).Release(); });
  handler->SetOnReadKey(ReadStringKey);
  handler->SetOnWriteKey(WriteStringKey);
  return handler;
}

TKtKeyHandler* MakeWideStringCSKeyHandler() {
  auto* handler = MakeStringKeyHandler();
  handler->SetOnHashKey([](const void* key) {
    const WideString& text = TextOf(key);
    return HashWideStringCS(text.data(), static_cast<int32_t>(text.size()));
  });
  handler->SetOnHashKeyBuf([](const void* buffer, int32_t length) { return HashWideStringCS(CharsOf(buffer), length); });
  handler->SetOnSameKeys([](const void* a, const void* b) { return SameStrW(TextOf(a), TextOf(b)); });
  handler->SetOnSameKeyBuf([](const void* key, const void* buffer, int32_t length) {
    return BufSameStrW(CharsOf(buffer), length, TextOf(key));
  });
  return handler;
}

TKtKeyHandler* MakeWideStringCIKeyHandler() {
  auto* handler = MakeStringKeyHandler();
  handler->SetOnHashKey([](const void* key) {
    const WideString& text = TextOf(key);
    return HashWideStringCI(text.data(), static_cast<int32_t>(text.size()));
  });
  handler->SetOnHashKeyBuf([](const void* buffer, int32_t length) { return HashWideStringCI(CharsOf(buffer), length); });
  handler->SetOnSameKeys([](const void* a, const void* b) { return SameTextW(TextOf(a), TextOf(b)); });
  handler->SetOnSameKeyBuf([](const void* key, const void* buffer, int32_t length) {
    return BufSameTextW(CharsOf(buffer), length, TextOf(key));
  });
  return handler;
}

TKtKeyHandler* MakeCardinalKeyHandler() {
  auto* handler = new TKtKeyHandler();
  handler->SetKeySize(sizeof(uint32_t));
  handler->SetOnHashKey([](const void* key) { return HashCardinalKey(CardinalOf(key)); });
  handler->SetOnSameKeys([](const void* a, const void* b) { return CardinalOf(a) == CardinalOf(b); });
  handler->SetOnStoreKey([](const void* key, void* dest) { std::memcpy(dest, key, sizeof(uint32_t)); });
  handler->SetOnReadKey([](TKtContainer&, TKtBinaryReader& reader, void* key, void*) {
    const uint32_t value = reader.ReadCardinal();
    std::memcpy(key, &value, sizeof value);
  });
  handler->SetOnWriteKey([](TKtContainer&, TKtBinaryWriter& writer, const void* key, void*) {
    writer.WriteCardinal(CardinalOf(key));
  });
  return handler;
}

TKtKeyHandler* MakeWideCharCSKeyHandler() {
  auto* handler = new TKtKeyHandler();
  handler->SetKeySize(sizeof(WideChar));
  handler->SetOnHashKey([](const void* key) { return HashWideCharKey(CharOf(key)); });
  handler->SetOnSameKeys([](const void* a, const void* b) { return CharOf(a) == CharOf(b); });
  handler->SetOnStoreKey([](const void* key, void* dest) { std::memcpy(dest, key, sizeof(WideChar)); });
  handler->SetOnReadKey([](TKtContainer&, TKtBinaryReader& reader, void* key, void*) {
    const WideChar value = reader.ReadWord();
    std::memcpy(key, &value, sizeof value);
  });
  handler->SetOnWriteKey([](TKtContainer&, TKtBinaryWriter& writer, const void* key, void*) {
    writer.WriteWord(CharOf(key));
  });
  return handler;
}

// The integer mix; the character mix differs only in its second step.
uint32_t Mix(uint32_t x, int second_shift) {
  x += x << 12;
  x ^= x >> second_shift;
  x += x << 4;
  x ^= x >> 9;
  x += x << 10;
  x ^= x >> 2;
  x += x << 7;
  x ^= x >> 12;
  return x;
}

}  // namespace

uint32_t HashCardinalKey(uint32_t x) { return Mix(x, 22); }
uint32_t HashWideCharKey(WideChar c) { return Mix(c, 4); }

uint32_t HashWideStringCS(const WideChar* text, int32_t length) {
  uint32_t h = 0;
  for (int32_t i = 0; i < length; ++i) h = h * 31 + text[i];
  return h;
}

uint32_t HashWideStringCI(const WideChar* text, int32_t length) {
  uint32_t h = 0;
  for (int32_t i = 0; i < length; ++i) h = h * 31 + CharFoldW(text[i]);
  return h;
}

// Made once, on first use (thread-safe static initialisation), and never
// freed: containers in static storage may still use them while the program
// ends.
TKtKeyHandler* CardinalKeyHandler() {
  static TKtKeyHandler* const handler = MakeCardinalKeyHandler();
  return handler;
}

TKtKeyHandler* WideStringCSKeyHandler() {
  static TKtKeyHandler* const handler = MakeWideStringCSKeyHandler();
  return handler;
}

TKtKeyHandler* WideStringCIKeyHandler() {
  static TKtKeyHandler* const handler = MakeWideStringCIKeyHandler();
  return handler;
}

TKtKeyHandler* WideCharCSKeyHandler() {
  static TKtKeyHandler* const handler = MakeWideCharCSKeyHandler();
  return handler;
}

}  // namespace kt
