#pragma once

#include <optional>

namespace runtime {

// The program reads no arguments: --help and --version print, and the run
// ends with the returned status 0. Anything else prints the usage on stderr
// and throws the usage error. Nothing, when there are no arguments.
std::optional<int> handleArguments(int argc, char **argv);

} // namespace runtime
