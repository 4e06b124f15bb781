// SPDX-License-Identifier: MIT
#include "toolkit/kt_name_chars.h"

namespace kt {

bool IsNameStartChar(WideChar c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

bool IsNameChar(WideChar c) {
  return IsNameStartChar(c) || (c >= u'0' && c <= u'9') || c == u'-' || c == u'.' ||
         c == u':' || c == u'_';
}

}  // namespace kt
