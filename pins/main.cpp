#include "CommandLine.h"
#include "PinsWindow.h"
#include "Startup.h"

#include <string>
#include <vector>

namespace {

constexpr const char *usage =
    "usage: portpanel-pins [PORT | --help | --version]\n"
    "Opens a window with the 17 signal pins of the parallel port whose base is PORT\n"
    "(decimal, or hex as 0x378 or &H378; 888 when none is given). See portpanel-pins(1).\n";

} // namespace

int main(int argc, char **argv)
{
    runtime::describeProgram({"portpanel-pins", usage});
    std::vector<char *> arguments(argv, argv + argc);
    std::string port;
    // One argument that is no option is the port; handleArguments reads the rest.
    if (argc == 2 && std::string(argv[1]).rfind("--", 0) != 0) {
        port = argv[1];
        arguments.pop_back();
    }
    return runtime::start(static_cast<int>(arguments.size()), arguments.data(),
                          [port] { return std::make_unique<pins::PinsWindow>(port); });
}
