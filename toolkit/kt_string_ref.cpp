// SPDX-License-Identifier: MIT
#include "toolkit/kt_string_ref.h"

namespace kt {

TKtWideStringRef TKtWideStringRef::Borrow(const WideString& text) {
  TKtWideStringRef ref;
  ref.text_ = const_cast<WideString*>(&text);
  return ref;
}

const WideString& TKtWideStringRef::Get() const {
  static const WideString kEmpty;
  return text_ == nullptr ? kEmpty : *text_;
}

void TKtWideStringRef::Assign(std::u16string_view text) {
  if (text.empty()) {
    Release();
  } else if (text_ == nullptr) {
    text_ = new WideString(text);
  } else {
    text_->assign(text.data(), text.size());  // safe when text lies in *text_
  }
}

void TKtWideStringRef::Release() {
  delete text_;
  text_ = nullptr;
}

}  // namespace kt
