#pragma once

#include <functional>

namespace runtime {

// Runs one handler to completion. No exception gets past here, so none
// crosses the toolkit's event loop or a window procedure: an error goes to
// the error path, and once it has run no handler runs again.
void deliver(const std::function<void()> &handler);

} // namespace runtime
