// portpanel-io: the ports on the command line, over the window's binder, port
// layer and conversions.
#include "Arguments.h"
#include "CommandLine.h"
#include "Commands.h"
#include "Output.h"
#include "RuntimeError.h"
#include "Version.h"

#ifdef _WIN32
#include "WideText.h"
#else
#include "SecureMode.h"

#include <csignal>
#endif

namespace {

constexpr const char *about =
    "Reads and writes x86 I/O ports, single bits, pulses and watches them, measures them,\n"
    "captures them into a VCD file, tests a parallel port, and lists the ports this machine has "
    "with the access this\n"
    "user gets. PORT is 888, 0x378 or &H378; VALUE is 0 to 255 or 0x00 to 0xFF; BIT is 0 to\n"
    "7. A bare time is in the unit its name says (MILLISECONDS and MS: milliseconds, US:\n"
    "microseconds, S: seconds); a unit may follow the number instead: 100us, 5ms, 2s.\n"
    "See " PORTPANEL_MANUAL("portpanel-io") ".\n";

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
    case Verb::Test:
        return cli::test(request);
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
        cli::complain(std::string(error.what()) + "\n" + error.usage());
        return 2;
    } catch (const cli::OutputClosed &) {
        return 0;
    } catch (const cli::FaultFound &) {
        return 1;
    } catch (const runtime::RuntimeError &error) {
        cli::complain(error.report());
        return error.number();
    } catch (const std::exception &error) {
        const runtime::RuntimeError internal(runtime::ErrorNumber::Internal, error.what());
        cli::complain(internal.report());
        return internal.number();
    }
}

} // namespace

#ifdef _WIN32
// The arguments as typed, in UTF-8: the narrow ones come in the ANSI code page,
// which turns a name such as "測定.vcd" into question marks.
int wmain(int argc, wchar_t **argv)
{
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.push_back(runtime::utf8(argv[i]));
    return run(arguments);
}
#else
int main(int argc, char **argv) { return run(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
