// SPDX-License-Identifier: MIT
// The base of the untyped containers (vector, hash, tree): items of a fixed
// size stored by value, described by a shared item handler, saved to and
// loaded from a value stream. Used by one thread at a time.
//
// Stream layout of every container, in order: the signature (4 raw bytes,
// "KTVC", "KTHC" or "KTTC"), the version (cardinal value 1), the item
// handler's header, then the container's own data. Items are written by the
// handler's routines as typed values, never as memory images, so a stream's
// layout does not depend on the machine: the item sizes that the shared
// handlers put in their headers are the logical sizes of the items (4 for a
// string reference, as on the 32-bit machines the format was made on), not
// the sizes of this machine's pointers.
#pragma once

#include <cstdint>
#include <string>

#include "toolkit/kt_handlers.h"
#include "toolkit/kt_streams.h"

namespace kt {

// Options of ReadFromStream and WriteToStream: what precedes the data.
using TKtStreamOptions = uint32_t;
constexpr TKtStreamOptions kKtStreamSignature = 1;
constexpr TKtStreamOptions kKtStreamVersion = 2;
constexpr TKtStreamOptions kKtStreamHeader = 4;
constexpr TKtStreamOptions kKtStreamAll = 7;

constexpr uint32_t kKtStreamFormatVersion = 1;

// The most items a container holds: hash entry links keep their index in 30
// bits.
constexpr int32_t kKtMaxCount = (1 << 30) - 1;

// The capacity steps: a block for n items holds GrowCapacity(n) items, and is
// shrunk when the count falls below ShrinkCapacity of the count it was sized
// for. REQUIRES: 0 <= n <= kKtMaxCount.
int32_t GrowCapacity(int32_t n);
int32_t ShrinkCapacity(int32_t n);

using TKtSameItemsFunc = bool (*)(const void* item, const void* value);
using TKtIterateItemsProc = void (*)(void* item, void* data);

class TKtContainer : public TKtErrorObject {
 public:
  ~TKtContainer() override;
  TKtContainer(const TKtContainer&) = delete;
  TKtContainer& operator=(const TKtContainer&) = delete;

  TKtItemHandler& ItemHandler() const { return *item_handler_; }
  int32_t Count() const { return count_; }

  // Copies the items of source; containers of other kinds are refused with
  // kt::Exception "Cannot assign a <source class> to a <own class>".
  virtual void Assign(const TKtContainer& source);
  virtual void Clear() = 0;
  // Whether same(item, value) holds for some item, scanning from the first
  // or from the last item. "SameItems not assigned" when same is absent.
  virtual bool ContainsFromFirst(const void* value, TKtSameItemsFunc same) const;
  virtual bool ContainsFromLast(const void* value, TKtSameItemsFunc same) const;
  // Calls iterate(item, data) for every item in order.
  virtual void Iterate(TKtIterateItemsProc iterate, void* data) = 0;
  // The first or last item for which same(item, value) holds, or nullptr.
  virtual void* FirstThat(const void* value, TKtSameItemsFunc same) const = 0;
  virtual void* LastThat(const void* value, TKtSameItemsFunc same) const = 0;
  // Replaces the content by the one read. A wrong signature or version fails
  // with "Invalid stream format", a truncated stream with EReadError "Stream
  // read error"; a failure while items are read leaves those read so far.
  virtual void ReadFromStream(TKtBinaryReader& reader, TKtStreamOptions options, void* data) = 0;
  virtual void WriteToStream(TKtBinaryWriter& writer, TKtStreamOptions options, void* data) = 0;

  // Component streaming: a data property named after the class, present
  // when the container is not empty, written and read with all options
  // through a 4096-byte buffer. "Stream is nil" when stream is null.
  std::string PropertyName() const { return ClassName(); }
  bool HasData() const { return count_ != 0; }
  void ReadData(TStream* stream);
  void WriteData(TStream* stream);

 protected:
  // Fails with "ItemHandler is nil" when handler is null.
  TKtContainer(const char* class_name, TKtItemHandler* handler);

  void CheckSameItems(TKtSameItemsFunc same) const;
  void CheckIterateItems(TKtIterateItemsProc iterate) const;
  void CheckCanWrite() const;
  void CheckCanRead() const;
  // "List index out of bounds (%d)" for index outside 0..count - 1.
  void CheckIndex(int32_t index, int32_t count) const;
  void InitItem(void* item) const;
  void FreeItem(void* item) const;

  void WritePrologue(TKtBinaryWriter& writer, TKtStreamOptions options, void* data, const char* signature);
  void ReadPrologue(TKtBinaryReader& reader, TKtStreamOptions options, void* data, const char* signature);

  TKtItemHandler* item_handler_;
  int32_t count_ = 0;
};

// A container whose items form one sequence with a first and a last item.
class TKtLinearContainer : public TKtContainer {
 public:
  // Each insert returns the new item's address; the Raw forms leave the item
  // uninitialised.
  virtual void* InsertFirst() = 0;
  virtual void* InsertFirstRaw() = 0;
  virtual void* InsertLast() = 0;
  virtual void* InsertLastRaw() = 0;
  virtual void* First() const = 0;
  virtual void* Last() const = 0;

 protected:
  using TKtContainer::TKtContainer;
};

}  // namespace kt
