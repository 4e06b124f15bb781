// SPDX-License-Identifier: MIT
#include "support/raised_message.h"

#include "toolkit/exception.h"

namespace testing_support {

std::string RaisedMessage(const std::function<void()>& action) {
  try {
    action();
  } catch (const kt::Exception& e) {
    return e.Message();
  }
  return "(nothing raised)";
}

}  // namespace testing_support
