// SPDX-License-Identifier: MIT
// Qt's X11 and Wayland platforms end the process with exit(1) when the
// connection to the display breaks (logout, a display server that died, a
// dropped forwarded session). exit() then destroys the process's objects
// while the engine's workers still wait for the main thread, and the process
// hangs. The close given here runs first, on the main thread: when Qt reports
// the broken connection, or else at the start of exit().
#pragma once

#include <functional>

namespace larkspur {

// Arms (close given) or disarms (empty) the close. It runs at most once.
// REQUIRES: the main thread.
void CloseBeforeExit(std::function<void()> close);

}  // namespace larkspur
