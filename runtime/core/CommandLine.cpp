#include "CommandLine.h"

#include "Conversions.h"
#include "RuntimeError.h"
#include "Version.h"

#include <cstdio>
#include <string>

namespace runtime {
namespace {

Program program{"portpanel",
                "usage: portpanel [--help | --version]\n"
                "Opens a window that writes a byte to an x86 I/O port and reads the port back.\n"
                "It takes no other arguments; see " PORTPANEL_MANUAL("portpanel") ".\n"};

std::string given;

} // namespace

const std::string &operand() { return given; }

void describeProgram(const Program &described) { program = described; }

const char *programName() { return program.name; }

std::optional<int> handleArguments(int argc, char **argv)
{
    if (argc <= 1)
        return std::nullopt;
    const std::string argument = argv[1];
    // "-8176" is a port; "-h" is an option, and not one of ours.
    const bool isOption =
        argument.size() > 1 && argument[0] == '-' && (argument[1] < '0' || argument[1] > '9');
    const bool isOperand = program.takesOperand && !isOption;
    if (argc == 2 && argument == "--help") {
        std::fputs(program.usage, stdout);
        return 0;
    }
    if (argc == 2 && isOperand) {
        textToInteger(argument); // a port the window would refuse ends the run here
        given = argument;
        return std::nullopt;
    }
    if (argc == 2 && argument == "--version") {
        std::printf("%s %s\n", program.name, PORTPANEL_VERSION);
        return 0;
    }
    // "--help x" and "PORT x" name x, the argument that is not known.
    const bool known = isOperand || argument == "--help" || argument == "--version";
    std::fputs(program.usage, stderr);
    throw RuntimeError(
        ErrorNumber::Usage,
        "unknown argument " + quoted(known ? std::string(argv[2]) : argument) + ": " +
            program.name + " takes only " +
            (program.takesOperand ? "one PORT, --help or --version" : "--help or --version"));
}

} // namespace runtime
