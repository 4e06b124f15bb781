// SPDX-License-Identifier: MIT
// The message of the kt::Exception an action raises, for comparing with the
// expected text in one line:
//
//   EXPECT_EQ(testing_support::RaisedMessage([&] { list.GetItem(5); }), "Invalid item index");
//
// Gives "(nothing raised)" when the action returns; other exceptions pass through.
#pragma once

#include <functional>
#include <string>

namespace testing_support {

std::string RaisedMessage(const std::function<void()>& action);

}  // namespace testing_support
