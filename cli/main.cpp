// portpanel-io: the ports on the command line, over the window's binder, port
// layer and conversions.
#include "Arguments.h"
#include "Commands.h"
#include "Output.h"
#include "RuntimeError.h"
#include "Version.h"

#include <cstdio>

#ifndef _WIN32
#include "SecureMode.h"

#include <csignal>
#endif

namespace {

constexpr const char *about =
    "Reads and writes x86 I/O ports, single bits, pulses and watches them, measures them,\n"
    "captures them into a VCD file, and lists the ports this machine has with the access this\n"
    "user gets. PORT is 888, 0x378 or &H378; VALUE is 0 to 255 or 0x00 to 0xFF; BIT is 0 to\n"
    "7. A bare time is in the unit its name says (MILLISECONDS and MS: milliseconds, US:\n"
    "microseconds, S: seconds); a unit may follow the number instead: 100us, 5ms, 2s.\n"
    "See portpanel-io(1).\n";

void dispatch(const cli::Request &request)
{
    using cli::Verb;
    switch (request.verb) {
    case Verb::Help:
        cli::emit(std::string(cli::usageText) + about);
        return;
    case Verb::Version:
        cli::emit("portpanel-io " PORTPANEL_VERSION);
        return;
    case Verb::Ports:
        return cli::listPorts(request);
    case Verb::Read:
        return cli::readPorts(request);
    case Verb::Write:
        return cli::writePort(request);
    case Verb::Set:
    case Verb::Clear:
    case Verb::Toggle:
        return cli::changeBit(request);
    case Verb::Pulse:
        return cli::pulse(request);
    case Verb::Watch:
        return cli::watch(request);
    case Verb::Bench:
        return cli::bench(request);
    case Verb::Capture:
        return cli::capture(request);
    }
}

// 0 when every access was done, also when the reader of the output left
// first; 2 for a usage mistake; else the window's error number.
int run(const std::vector<std::string> &arguments)
{
    try {
#ifndef _WIN32
        runtime::refusePrivilege("portpanel-io");
        // A reader that leaves shows as EPIPE on the next write: see emit().
        std::signal(SIGPIPE, SIG_IGN);
#endif
        dispatch(cli::parse(arguments));
        return 0;
    } catch (const cli::UsageError &error) {
        std::fprintf(stderr, "portpanel-io: %s\n%s", error.what(), error.usage().c_str());
        return 2;
    } catch (const cli::OutputClosed &) {
        return 0;
    } catch (const runtime::RuntimeError &error) {
        std::fprintf(stderr, "portpanel-io: %s\n", error.report().c_str());
        return error.number();
    } catch (const std::exception &error) {
        const runtime::RuntimeError internal(runtime::ErrorNumber::Internal, error.what());
        std::fprintf(stderr, "portpanel-io: %s\n", internal.report().c_str());
        return internal.number();
    }
}

} // namespace

int main(int argc, char **argv) { return run(std::vector<std::string>(argv + 1, argv + argc)); }
