#pragma once

#include "RuntimeError.h"

#include <string>

namespace runtime {

// The top-level error path: a modal box with the error (none when there is no
// screen), the same line on stderr, and the end of the program with the error
// number as exit status. Only the first error is reported.
void reportAndEnd(const RuntimeError &error);

// The error that ended the program, or null while it runs.
const RuntimeError *endingError();

// A new program run starts with no error.
void beginRun();

// Each side of the runtime shows the box and ends its event loop.
namespace toolkit {
void showErrorBox(const std::string &line);
void endEventLoop(int status);
} // namespace toolkit

} // namespace runtime
