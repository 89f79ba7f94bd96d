#pragma once

#include <optional>
#include <string>

// Where a program's manual is: the manual page on Linux, the text the zip
// carries beside the exe on Windows.
#ifdef _WIN32
#define PORTPANEL_MANUAL(page) "manuals\\" page ".txt beside the program"
#else
#define PORTPANEL_MANUAL(page) page "(1)"
#endif

namespace runtime {

// The program's name and usage text; portpanel's unless another program of
// the same runtime describes itself before it starts.
struct Program {
    const char *name;
    const char *usage;
    bool takesOperand = false; // one argument that is not an option: a port
};
void describeProgram(const Program &program);
const char *programName();
// The operand as typed (UTF-8), or empty.
const std::string &operand();

// The program reads no arguments but its port: --help and --version print,
// and the run ends with the returned status 0. A port is read as the form
// reads an address, and one that is not a number throws that error. Anything
// else prints the usage on stderr and throws the usage error. Nothing, when
// there are no arguments or only a port.
std::optional<int> handleArguments(int argc, char **argv);

} // namespace runtime
