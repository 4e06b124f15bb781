// SPDX-License-Identifier: MIT
// Item and key handlers: what an untyped container knows about its items and
// keys. A handler gives the size of one item (or key) and the routines that
// initialise, free, copy, hash, compare, read and write one. Handlers are
// shared by many containers and not owned by them; a handler refuses every
// change while a container uses it. Used by one thread at a time; the shared
// handlers are only read once made.
#pragma once

#include <cstdint>
#include <string>

#include "toolkit/exception.h"

namespace kt {

class TKtContainer;
class TKtBinaryReader;
class TKtBinaryWriter;

// Every container and handler failure: "Class " + class name + ": " + text.
class EKtContainerError : public Exception {
 public:
  using Exception::Exception;
};

// Raises EKtContainerError on behalf of an object that knows its class name.
class TKtErrorObject {
 public:
  explicit TKtErrorObject(const char* class_name) : class_name_(class_name) {}
  virtual ~TKtErrorObject() = default;

  // The class name the object reports in its errors ("TKtVector", ...).
  const char* ClassName() const { return class_name_; }

  [[noreturn]] void Error(const std::string& text) const;
  // text holds one "%d", replaced by value.
  [[noreturn]] void Error(const std::string& text, int64_t value) const;

 private:
  const char* class_name_;
};

// Items and keys are raw blocks of ItemSize (KeySize) bytes, moved by the
// containers as raw bytes: an item type must therefore be trivially
// relocatable (strings are held through TKtWideStringRef for this reason).
// The routines are plain function pointers; any may be absent (nullptr).
using TKtInitItemProc = void (*)(void* item);
using TKtFreeItemProc = void (*)(void* item);
using TKtCopyItemProc = void (*)(const void* source, void* dest);
using TKtReadItemProc = void (*)(TKtContainer& container, TKtBinaryReader& reader, void* item, void* data);
using TKtWriteItemProc = void (*)(TKtContainer& container, TKtBinaryWriter& writer, const void* item, void* data);
using TKtReadHeaderProc = void (*)(TKtContainer& container, TKtBinaryReader& reader, void* data);
using TKtWriteHeaderProc = void (*)(TKtContainer& container, TKtBinaryWriter& writer, void* data);

// A key is passed as the address of a key in its stored layout. The "Buf"
// forms take a character buffer and its length in characters instead.
using TKtHashKeyFunc = uint32_t (*)(const void* key);
using TKtHashKeyBufFunc = uint32_t (*)(const void* buffer, int32_t length);
using TKtSameKeysFunc = bool (*)(const void* key1, const void* key2);
using TKtSameKeyBufFunc = bool (*)(const void* key, const void* buffer, int32_t length);
using TKtStoreKeyProc = void (*)(const void* key, void* dest);
using TKtStoreKeyBufProc = void (*)(const void* buffer, int32_t length, void* dest);
using TKtFreeKeyProc = void (*)(void* key);
using TKtReadKeyProc = void (*)(TKtContainer& container, TKtBinaryReader& reader, void* key, void* data);
using TKtWriteKeyProc = void (*)(TKtContainer& container, TKtBinaryWriter& writer, const void* key, void* data);

// Counts the containers that use a handler.
class TKtBaseHandler : public TKtErrorObject {
 public:
  using TKtErrorObject::TKtErrorObject;
  // Destroying a handler that containers still use is a programming error;
  // since a destructor never throws, it is checked by an assertion.
  ~TKtBaseHandler() override;
  TKtBaseHandler(const TKtBaseHandler&) = delete;
  TKtBaseHandler& operator=(const TKtBaseHandler&) = delete;

  int32_t Users() const { return users_; }
  // Called by the containers that take the handler on and give it up.
  void AddUser() { ++users_; }
  void RemoveUser() { --users_; }

 protected:
  // Fails with "ItemHandler in use while <what>" while the handler has users.
  void CheckNotInUse(const char* what) const;

 private:
  int32_t users_ = 0;
};

class TKtItemHandler : public TKtBaseHandler {
 public:
  TKtItemHandler() : TKtBaseHandler("TKtItemHandler") {}

  int32_t ItemSize() const { return item_size_; }
  TKtInitItemProc OnInitItem() const { return on_init_item_; }
  TKtFreeItemProc OnFreeItem() const { return on_free_item_; }
  TKtCopyItemProc OnCopyItem() const { return on_copy_item_; }
  TKtReadItemProc OnReadItem() const { return on_read_item_; }
  TKtWriteItemProc OnWriteItem() const { return on_write_item_; }
  TKtReadHeaderProc OnReadHeader() const { return on_read_header_; }
  TKtWriteHeaderProc OnWriteHeader() const { return on_write_header_; }

  // Each setter fails while the handler is in use. A negative size fails
  // with "Invalid ItemSize (%d)".
  void SetItemSize(int32_t size);
  void SetOnInitItem(TKtInitItemProc proc);
  void SetOnFreeItem(TKtFreeItemProc proc);
  void SetOnCopyItem(TKtCopyItemProc proc);
  void SetOnReadItem(TKtReadItemProc proc);
  void SetOnWriteItem(TKtWriteItemProc proc);
  void SetOnReadHeader(TKtReadHeaderProc proc);
  void SetOnWriteHeader(TKtWriteHeaderProc proc);

 private:
  int32_t item_size_ = 0;
  TKtInitItemProc on_init_item_ = nullptr;
  TKtFreeItemProc on_free_item_ = nullptr;
  TKtCopyItemProc on_copy_item_ = nullptr;
  TKtReadItemProc on_read_item_ = nullptr;
  TKtWriteItemProc on_write_item_ = nullptr;
  TKtReadHeaderProc on_read_header_ = nullptr;
  TKtWriteHeaderProc on_write_header_ = nullptr;
};

class TKtKeyHandler : public TKtBaseHandler {
 public:
  TKtKeyHandler() : TKtBaseHandler("TKtKeyHandler") {}

  int32_t KeySize() const { return key_size_; }
  TKtHashKeyFunc OnHashKey() const { return on_hash_key_; }
  TKtHashKeyBufFunc OnHashKeyBuf() const { return on_hash_key_buf_; }
  TKtSameKeysFunc OnSameKeys() const { return on_same_keys_; }
  TKtSameKeyBufFunc OnSameKeyBuf() const { return on_same_key_buf_; }
  TKtStoreKeyProc OnStoreKey() const { return on_store_key_; }
  TKtStoreKeyBufProc OnStoreKeyBuf() const { return on_store_key_buf_; }
  TKtFreeKeyProc OnFreeKey() const { return on_free_key_; }
  TKtReadKeyProc OnReadKey() const { return on_read_key_; }
  TKtWriteKeyProc OnWriteKey() const { return on_write_key_; }

  // Each setter fails while the handler is in use (the texts say
  // "ItemHandler", as the item handler's do). A negative size fails with
  // "Invalid KeySize (%d)".
  void SetKeySize(int32_t size);
  void SetOnHashKey(TKtHashKeyFunc func);
  void SetOnHashKeyBuf(TKtHashKeyBufFunc func);
  void SetOnSameKeys(TKtSameKeysFunc func);
  void SetOnSameKeyBuf(TKtSameKeyBufFunc func);
  void SetOnStoreKey(TKtStoreKeyProc proc);
  void SetOnStoreKeyBuf(TKtStoreKeyBufProc proc);
  void SetOnFreeKey(TKtFreeKeyProc proc);
  void SetOnReadKey(TKtReadKeyProc proc);
  void SetOnWriteKey(TKtWriteKeyProc proc);

 private:
  int32_t key_size_ = 0;
  TKtHashKeyFunc on_hash_key_ = nullptr;
  TKtHashKeyBufFunc on_hash_key_buf_ = nullptr;
  TKtSameKeysFunc on_same_keys_ = nullptr;
  TKtSameKeyBufFunc on_same_key_buf_ = nullptr;
  TKtStoreKeyProc on_store_key_ = nullptr;
  TKtStoreKeyBufProc on_store_key_buf_ = nullptr;
  TKtFreeKeyProc on_free_key_ = nullptr;
  TKtReadKeyProc on_read_key_ = nullptr;
  TKtWriteKeyProc on_write_key_ = nullptr;
};

}  // namespace kt
