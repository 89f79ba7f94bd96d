// Real x86 ports. Each port's route is decided at its first access and kept:
// in-process ioperm (root), else /dev/port; else the kernel's parallel-port
// driver for the registers of a parallel port it manages (group lp); else
// portpanel-helper (group portpanel); else the port is refused.
#include "HelperClient.h"
#include "ParallelPorts.h"
#include "inpout32.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <string>
#include <sys/io.h>
#include <unistd.h>

namespace {

enum class Route : unsigned char { Undecided, Ioperm, DevPort, Parallel, Helper, Refused };

struct Direct {
    Route route;
    int devPort;
    int iopermError;
    int devPortError;
};

constexpr unsigned long portCount = 0x10000;
constexpr short refused = -1;

// Linux grants ioperm to the calling thread only, so each thread takes it
// once, on its first access.
__attribute__((tls_model("initial-exec"))) thread_local bool threadMayUsePorts = false;

int takePermission()
{
    if (ioperm(0, portCount, 1) != 0)
        return errno;
    threadMayUsePorts = true;
    return 0;
}

Direct probe()
{
    const int iopermError = takePermission();
    if (iopermError == 0)
        return {Route::Ioperm, -1, 0, 0};
    const int fd = open("/dev/port", O_RDWR | O_CLOEXEC);
    if (fd >= 0)
        return {Route::DevPort, fd, iopermError, 0};
    return {Route::Refused, -1, iopermError, errno};
}

const Direct &direct()
{
    static const Direct once = probe();
    return once;
}

Route routes[portCount];
// Why a port that had a route was refused later (a failed driver call or
// helper exchange, or a parallel port another program holds).
std::map<unsigned short, std::string> failures;

Route refuse(unsigned short port, const std::string &why)
{
    failures[port] = why;
    return routes[port] = Route::Refused;
}

Route decide(unsigned short port)
{
    if (direct().route != Route::Refused)
        return direct().route;
    std::string why;
    const int parallelPort = parallel::portHolding(port);
    const parallel::Claim claim =
        parallelPort >= 0 ? parallel::claim(parallelPort, why) : parallel::Claim::Refused;
    if (claim == parallel::Claim::Held)
        return Route::Parallel;
    if (claim == parallel::Claim::InUse) // not behind the holder's back through the helper
        return refuse(port, why);
    return helperclient::start(why) ? Route::Helper : Route::Refused;
}

Route routeOf(unsigned short port)
{
    Route &route = routes[port];
    if (route == Route::Undecided)
        route = decide(port);
    return route;
}

bool kernelLacksPortAccess()
{
    return direct().iopermError == ENOSYS && direct().devPortError == ENOENT;
}

std::string directWords()
{
    const std::string causes = std::string("ioperm: ") + std::strerror(direct().iopermError) +
                               "; /dev/port: " + std::strerror(direct().devPortError);
    return kernelLacksPortAccess() ? "this kernel has no user-space port access (" + causes + ")"
                                   : "no permission to use the I/O ports (" + causes + ")";
}

// What would grant access to what: one port, or the ports at all.
std::string fix(bool parallelRegister, const std::string &what)
{
    const std::string lp = "join the lp group ('sudo adduser $USER lp'), then log in again";
    if (kernelLacksPortAccess())
        return "this kernel reaches ports only through its parallel-port driver: for " +
               std::string(parallelRegister ? "this parallel port, " + lp
                                            : "other ports run portpanel on a kernel built with "
                                              "CONFIG_X86_IOPL_IOPERM=y, as Debian's own are");
    const std::string portpanel = "the portpanel group ('sudo adduser $USER portpanel')";
    return "to reach " + what + ", join " +
           (parallelRegister ? "the lp group ('sudo adduser $USER lp') or " + portpanel
                             : portpanel) +
           ", then log in again; or run portpanel as root";
}

std::string refusal(unsigned short port)
{
    std::string parallelWhy = "not a register of a parallel port the kernel manages";
    const int parallelPort = parallel::portHolding(port);
    if (parallelPort >= 0)
        (void)parallel::claim(parallelPort, parallelWhy);
    std::string helperWhy;
    helperclient::start(helperWhy);
    return directWords() + "; the parallel-port driver: " + parallelWhy +
           "; the port helper: " + helperWhy + "; " + fix(parallelPort >= 0, "this port");
}

std::string failedAt(const char *call, unsigned short port)
{
    return std::string("/dev/port: ") + call + " at " + std::to_string(port) + ": " +
           std::strerror(errno);
}

// A thread started after the first access takes permission for itself.
bool mayUsePortsInThisThread(unsigned short port)
{
    const int error = threadMayUsePorts ? 0 : takePermission();
    if (error != 0)
        refuse(port, std::string("ioperm in this thread: ") + std::strerror(error));
    return error == 0;
}

void slowOut(unsigned short port, unsigned char byte)
{
    std::string why;
    switch (routeOf(port)) {
    case Route::Ioperm:
        if (mayUsePortsInThisThread(port))
            outb(byte, port);
        break;
    case Route::DevPort:
        if (pwrite(direct().devPort, &byte, 1, port) != 1)
            refuse(port, failedAt("write", port));
        break;
    case Route::Parallel:
        if (!parallel::write(parallel::portHolding(port), port, byte, why))
            refuse(port, why);
        break;
    case Route::Helper:
        if (!helperclient::out(port, byte, why))
            refuse(port, why);
        break;
    default: // the read that follows reports the refusal
        break;
    }
}

// Whether the route reached the port; the byte read when it did. A route that
// fails refuses the port from then on.
bool reached(unsigned short port, unsigned char &byte)
{
    std::string why;
    bool ok = false;
    switch (routeOf(port)) {
    case Route::Ioperm:
        if (!mayUsePortsInThisThread(port))
            return false;
        byte = inb(port);
        return true;
    case Route::DevPort:
        ok = pread(direct().devPort, &byte, 1, port) == 1;
        why = ok ? "" : failedAt("read", port);
        break;
    case Route::Parallel:
        ok = parallel::read(parallel::portHolding(port), port, byte, why);
        break;
    case Route::Helper:
        ok = helperclient::in(port, byte, why);
        break;
    default:
        return false;
    }
    if (!ok)
        refuse(port, why);
    return ok;
}

short slowIn(unsigned short port)
{
    unsigned char byte = 0;
    return reached(port, byte) ? short{byte} : refused;
}

unsigned short address(short port) { return static_cast<unsigned short>(port); }

} // namespace

void INPOUT_CALL Out32(short port, short value)
{
    const auto byte = static_cast<unsigned char>(value);
    if (threadMayUsePorts)
        outb(byte, address(port));
    else
        slowOut(address(port), byte);
}

short INPOUT_CALL Inp32(short port)
{
    return threadMayUsePorts ? short{inb(address(port))} : slowIn(address(port));
}

const char *PortProblem(short port)
{
    static std::string words;
    if (routeOf(address(port)) != Route::Refused)
        return nullptr;
    const auto failure = failures.find(address(port));
    words = failure != failures.end() ? failure->second : refusal(address(port));
    return words.c_str();
}

const char *ReadinessProblem(void)
{
    if (direct().route != Route::Refused || parallel::anyOpenable())
        return nullptr;
    if (access(helperclient::path(), X_OK) == 0)
        return nullptr;
    const int helperError = errno;
    static std::string words;
    words = directWords() +
            "; no parallel port device this user may open (/dev/parportN, group "
            "lp); the port helper " +
            helperclient::path() + ": " + std::strerror(helperError) + "; " +
            fix(true, "the ports");
    return words.c_str();
}
