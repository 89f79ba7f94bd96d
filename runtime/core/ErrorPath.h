#pragma once

#include "RuntimeError.h"

namespace runtime {

// The top-level error path: a modal box with the error (none when there is no
// screen), the same line on stderr, and the end of the program with the error
// number as exit status. Only the first error is reported.
void reportAndEnd(const RuntimeError &error);

// The error that ended the program, or null while it runs.
const RuntimeError *endingError();

// A new program run starts with no error.
void beginRun();

} // namespace runtime
