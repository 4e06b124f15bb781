// SPDX-License-Identifier: MIT
#include "toolkit/kt_containers.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace kt {
namespace {

int64_t HighestPowerOfTwoNotAbove(int64_t n) { return int64_t{1} << (63 - std::countl_zero(static_cast<uint64_t>(n))); }

}  // namespace

int32_t GrowCapacity(int32_t n) {
  if (n <= 0) return 0;
  const int64_t p = HighestPowerOfTwoNotAbove(n);
  if (p == n) return n;
  const int64_t s = std::max<int64_t>(p / 4, 2);
  for (int64_t step = 1; step <= 3; ++step) {
    if (p + step * s >= n) return static_cast<int32_t>(p + step * s);
  }
  return static_cast<int32_t>(p + 4 * s);
}

int32_t ShrinkCapacity(int32_t n) {
  if (n < 3) return n;
  const int64_t p = HighestPowerOfTwoNotAbove(n - 1);
  const int64_t s = std::max<int64_t>(p / 4, 2);
  const int64_t floor = n - s;
  for (const int64_t candidate : {p - s + 1, p + 1, p + 1 + s, p + 1 + 2 * s}) {
    if (candidate > floor) return static_cast<int32_t>(candidate);
  }
  return static_cast<int32_t>(p + 1 + 3 * s);
}

TKtContainer::TKtContainer(const char* class_name, TKtItemHandler* handler)
    : TKtErrorObject(class_name), item_handler_(handler) {
  if (handler == nullptr) Error("ItemHandler is nil");
  item_handler_->AddUser();
}

TKtContainer::~TKtContainer() { item_handler_->RemoveUser(); }

void TKtContainer::Assign(const TKtContainer& source) {
  throw Exception(std::string("Cannot assign a ") + source.ClassName() + " to a " + ClassName());
}

bool TKtContainer::ContainsFromFirst(const void* value, TKtSameItemsFunc same) const {
  return FirstThat(value, same) != nullptr;
}

bool TKtContainer::ContainsFromLast(const void* value, TKtSameItemsFunc same) const {
  return LastThat(value, same) != nullptr;
}

void TKtContainer::ReadData(TStream* stream) {
  if (stream == nullptr) Error("Stream is nil");
  TKtBinaryReader reader(*stream, TKtFiler::kDefaultBufSize);
  ReadFromStream(reader, kKtStreamAll, nullptr);
}

void TKtContainer::WriteData(TStream* stream) {
  if (stream == nullptr) Error("Stream is nil");
  TKtBinaryWriter writer(*stream, TKtFiler::kDefaultBufSize);
  WriteToStream(writer, kKtStreamAll, nullptr);
  writer.FlushBuffer();
}

void TKtContainer::CheckSameItems(TKtSameItemsFunc same) const {
  if (same == nullptr) Error("SameItems not assigned");
}

void TKtContainer::CheckIterateItems(TKtIterateItemsProc iterate) const {
  if (iterate == nullptr) Error("IterateItems not assigned");
}

void TKtContainer::CheckCanWrite() const {
  if (item_handler_->OnWriteItem() == nullptr) Error("OnWriteItem not assigned");
}

void TKtContainer::CheckCanRead() const {
  if (item_handler_->OnReadItem() == nullptr) Error("OnReadItem not assigned");
}

void TKtContainer::CheckIndex(int32_t index, int32_t count) const {
  if (index < 0 || index >= count) Error("List index out of bounds (%d)", index);
}

void TKtContainer::InitItem(void* item) const {
  if (item_handler_->OnInitItem() != nullptr) item_handler_->OnInitItem()(item);
}

void TKtContainer::FreeItem(void* item) const {
  if (item_handler_->OnFreeItem() != nullptr) item_handler_->OnFreeItem()(item);
}

void TKtContainer::WritePrologue(TKtBinaryWriter& writer, TKtStreamOptions options, void* data,
                                 const char* signature) {
  if (options & kKtStreamSignature) writer.WriteBuffer(signature, 4);
  if (options & kKtStreamVersion) writer.WriteCardinal(kKtStreamFormatVersion);
  if ((options & kKtStreamHeader) && item_handler_->OnWriteHeader() != nullptr) {
    item_handler_->OnWriteHeader()(*this, writer, data);
  }
}

void TKtContainer::ReadPrologue(TKtBinaryReader& reader, TKtStreamOptions options, void* data,
                                const char* signature) {
  if (options & kKtStreamSignature) {
    char found[4];
    reader.ReadBuffer(found, 4);
    if (std::memcmp(found, signature, 4) != 0) Error("Invalid stream format");
  }
  if ((options & kKtStreamVersion) && reader.ReadCardinal() != kKtStreamFormatVersion) {
    Error("Invalid stream format");
  }
  if ((options & kKtStreamHeader) && item_handler_->OnReadHeader() != nullptr) {
    item_handler_->OnReadHeader()(*this, reader, data);
  }
}

}  // namespace kt
