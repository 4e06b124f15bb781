// SPDX-License-Identifier: MIT
// Failures the window has no place for go to the standard error stream, one
// line each, so that a user (or the session's log) can see what failed and
// why: "Larkspur Podcast Downloader: " followed by the text, line breaks of
// the text turned into blanks and other control characters shown escaped
// ("\x1B", "\u009B"), never sent to the terminal. Any thread may call.
#pragma once

#include <string>

namespace larkspur {

void ReportFailureLine(const std::string& text);

}  // namespace larkspur
