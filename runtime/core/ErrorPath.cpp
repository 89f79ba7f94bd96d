#include "ErrorPath.h"

#include "CommandLine.h"

#include <cstdio>
#include <optional>

namespace runtime {
namespace {

std::optional<RuntimeError> ending;

} // namespace

void reportAndEnd(const RuntimeError &error)
{
    if (ending)
        return;
    ending = error;
    const std::string line = error.report();
    std::fprintf(stderr, "%s: %s\n", programName(), line.c_str());
    std::fflush(stderr);
    toolkit::showErrorBox(line);
    toolkit::endEventLoop(error.number());
}

const RuntimeError *endingError() { return ending ? &*ending : nullptr; }

void beginRun() { ending.reset(); }

} // namespace runtime
