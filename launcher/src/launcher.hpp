#pragma once

namespace z47::launcher {

// The whole life of the launcher process; the result is the process exit code.
int run();

}  // namespace z47::launcher
