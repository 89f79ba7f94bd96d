#include "CommandLine.h"

#include "RuntimeError.h"
#include "Version.h"

#include <cstdio>
#include <string>

namespace runtime {
namespace {

constexpr const char *usage =
    "usage: portpanel [--help | --version]\n"
    "Opens a window that writes a byte to an x86 I/O port and reads the port back.\n"
    "It takes no other arguments; see portpanel(1).\n";

} // namespace

std::optional<int> handleArguments(int argc, char **argv)
{
    if (argc <= 1)
        return std::nullopt;
    const std::string argument = argv[1];
    if (argc == 2 && argument == "--help") {
        std::fputs(usage, stdout);
        return 0;
    }
    if (argc == 2 && argument == "--version") {
        std::puts("portpanel " PORTPANEL_VERSION);
        return 0;
    }
    // "--help x" names x, the argument that is not known.
    const bool known = argument == "--help" || argument == "--version";
    std::fputs(usage, stderr);
    throw RuntimeError(ErrorNumber::Usage, "unknown argument " +
                                               quoted(known ? std::string(argv[2]) : argument) +
                                               ": portpanel takes only --help or --version");
}

} // namespace runtime
