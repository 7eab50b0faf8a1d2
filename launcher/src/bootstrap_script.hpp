#pragma once

namespace z47::launcher {

// The Python text the launcher runs in the runtime's __main__ module right after start-up.
extern const char bootstrap_script[];

}  // namespace z47::launcher
