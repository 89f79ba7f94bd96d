#include "CommandLine.h"
#include "PinsWindow.h"
#include "Startup.h"

namespace {

constexpr const char *usage =
    "usage: portpanel-pins [PORT | --help | --version]\n"
    "Opens a window with the 17 signal pins of the parallel port whose base is PORT\n"
    "(decimal, or hex as 0x378 or &H378; 888 when none is given).\n"
    "See " PORTPANEL_MANUAL("portpanel-pins") ".\n";

} // namespace

int main(int argc, char **argv)
{
    runtime::describeProgram({"portpanel-pins", usage, true});
    return runtime::start(argc, argv,
                          [] { return std::make_unique<pins::PinsWindow>(runtime::operand()); });
}
