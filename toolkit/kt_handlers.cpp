// SPDX-License-Identifier: MIT
#include "toolkit/kt_handlers.h"

#include <cassert>

namespace kt {

void TKtErrorObject::Error(const std::string& text) const {
  throw EKtContainerError(std::string("Class ") + class_name_ + ": " + text);
}

void TKtErrorObject::Error(const std::string& text, int64_t value) const {
  std::string message = text;
  const size_t at = message.find("%d");
  if (at != std::string::npos) message.replace(at, 2, std::to_string(value));
  Error(message);
}

TKtBaseHandler::~TKtBaseHandler() { assert(users_ == 0 && "ItemHandler in use during destruction"); }

void TKtBaseHandler::CheckNotInUse(const char* what) const {
  if (users_ > 0) Error(std::string("ItemHandler in use while ") + what);
}

void TKtItemHandler::SetItemSize(int32_t size) {
  CheckNotInUse("setting ItemSize");
  if (size < 0) Error("Invalid ItemSize (%d)", size);
  item_size_ = size;
}

void TKtItemHandler::SetOnInitItem(TKtInitItemProc proc) {
  CheckNotInUse("assigning OnInitItem");
  on_init_item_ = proc;
}

void TKtItemHandler::SetOnFreeItem(TKtFreeItemProc proc) {
  CheckNotInUse("assigning OnFreeItem");
  on_free_item_ = proc;
}

void TKtItemHandler::SetOnCopyItem(TKtCopyItemProc proc) {
  CheckNotInUse("assigning OnCopyItem");
  on_copy_item_ = proc;
}

void TKtItemHandler::SetOnReadItem(TKtReadItemProc proc) {
  CheckNotInUse("assigning OnReadItem");
  on_read_item_ = proc;
}

void TKtItemHandler::SetOnWriteItem(TKtWriteItemProc proc) {
  CheckNotInUse("assigning OnWriteItem");
  on_write_item_ = proc;
}

void TKtItemHandler::SetOnReadHeader(TKtReadHeaderProc proc) {
  CheckNotInUse("assigning OnReadHeader");
  on_read_header_ = proc;
}

void TKtItemHandler::SetOnWriteHeader(TKtWriteHeaderProc proc) {
  CheckNotInUse("assigning OnWriteHeader");
  on_write_header_ = proc;
}

void TKtKeyHandler::SetKeySize(int32_t size) {
  CheckNotInUse("setting KeySize");
  if (size < 0) Error("Invalid KeySize (%d)", size);
  key_size_ = size;
}

void TKtKeyHandler::SetOnHashKey(TKtHashKeyFunc func) {
  CheckNotInUse("assigning OnHashKey");
  on_hash_key_ = func;
}

void TKtKeyHandler::SetOnHashKeyBuf(TKtHashKeyBufFunc func) {
  CheckNotInUse("assigning OnHashKeyBuf");
  on_hash_key_buf_ = func;
}

void TKtKeyHandler::SetOnSameKeys(TKtSameKeysFunc func) {
  CheckNotInUse("assigning OnSameKeys");
  on_same_keys_ = func;
}

void TKtKeyHandler::SetOnSameKeyBuf(TKtSameKeyBufFunc func) {
  CheckNotInUse("assigning OnSameKeyBuf");
  on_same_key_buf_ = func;
}

void TKtKeyHandler::SetOnStoreKey(TKtStoreKeyProc proc) {
  CheckNotInUse("assigning OnStoreKey");
  on_store_key_ = proc;
}

void TKtKeyHandler::SetOnStoreKeyBuf(TKtStoreKeyBufProc proc) {
  CheckNotInUse("assigning OnStoreKeyBuf");
  on_store_key_buf_ = proc;
}

void TKtKeyHandler::SetOnFreeKey(TKtFreeKeyProc proc) {
  CheckNotInUse("assigning OnFreeKey");
  on_free_key_ = proc;
}

void TKtKeyHandler::SetOnReadKey(TKtReadKeyProc proc) {
  CheckNotInUse("assigning OnReadKey");
  on_read_key_ = proc;
}

void TKtKeyHandler::SetOnWriteKey(TKtWriteKeyProc proc) {
  CheckNotInUse("assigning OnWriteKey");
  on_write_key_ = proc;
}

}  // namespace kt
