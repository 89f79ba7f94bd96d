// Real x86 ports. Each port's route is decided at its first access and kept:
// in-process ioperm (root), else /dev/port; else the kernel's parallel-port
// driver for the registers of a parallel port it manages (group lp); else
// portpanel-helper (group portpanel); else the port is refused.
#include "HelperClient.h"
#include "ParallelPorts.h"
#include "SystemRoot.h"
#include "inpout32.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <map>
#include <mutex>
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
    const int fd = open(PORTPANEL_SYSTEM_ROOT "/dev/port", O_RDWR | O_CLOEXEC);
    if (fd >= 0)
        return {Route::DevPort, fd, iopermError, 0};
    return {Route::Refused, -1, iopermError, errno};
}

const Direct &direct()
{
    static const Direct once = probe();
    return once;
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
    const std::string portpanel =
        std::string("the portpanel group ('sudo adduser $USER portpanel'; it opens the parallel "
                    "and serial ports, 888 among them, and the ports listed in ") +
        PORTPANEL_POLICY_PATH + ")";
    return "to reach " + what + ", join " +
           (parallelRegister ? "the lp group ('sudo adduser $USER lp') or " + portpanel
                             : portpanel) +
           ", then log in again";
}

bool inGroup(const char *name)
{
    group entry{}, *found = nullptr;
    char buffer[4096];
    return getgrnam_r(name, &entry, buffer, sizeof buffer, &found) == 0 && found &&
           group_member(found->gr_gid);
}

// Everything below is shared by every thread that calls the library, and
// taken under this one lock; only root's inline in/out goes without it.
std::mutex slowPath;
Route routes[portCount];
// Why each refused port was refused. An entry is made once and never
// changed, so the words PortProblem hands out stay valid.
std::map<unsigned short, std::string> failures;

Route refuse(unsigned short port, const std::string &why)
{
    failures.try_emplace(port, why);
    return routes[port] = Route::Refused;
}

// A register of a parallel port the kernel manages goes through its driver
// when this user may open it; otherwise, and for the registers the driver
// does not reach, through the helper while nobody holds the port.
Route decide(unsigned short port)
{
    if (direct().route != Route::Refused)
        return direct().route;
    const int parallelPort = parallel::portOf(port);
    const bool throughDriver = parallelPort >= 0 && parallel::driverReaches(parallelPort, port);
    std::string parallelWhy =
        parallelPort < 0 ? "not a register of a parallel port the kernel manages (it manages " +
                               parallel::managed() + ")"
                         : parallel::describe(parallelPort, port) +
                               " is not reached through the parallel-port driver";
    if (throughDriver) {
        switch (parallel::claim(parallelPort, parallelWhy)) {
        case parallel::Claim::Held:
            return Route::Parallel;
        case parallel::Claim::Refused: // never behind the holder's back
            return refuse(port, parallelWhy);
        case parallel::Claim::NotOpened:
            break;
        }
    }
    std::string helperWhy;
    if (helperclient::start(helperWhy))
        return Route::Helper;
    return refuse(port, directWords() + "; the parallel-port driver: " + parallelWhy +
                            "; the port helper: " + helperWhy + "; " +
                            fix(throughDriver, "this port"));
}

Route routeOf(unsigned short port)
{
    Route &route = routes[port];
    if (route == Route::Undecided)
        route = decide(port);
    return route;
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

// The helper reaches a register of a managed parallel port only while
// nobody holds that port, portpanel included: asked at every access.
bool nobodyHolds(unsigned short port, std::string &why)
{
    const int parallelPort = parallel::portOf(port);
    return parallelPort < 0 || parallel::free(parallelPort, why);
}

// Whether the route did the access; a route that fails refuses the port from
// then on, and the read that follows a refused write reports it.
bool accessed(unsigned short port, bool write, unsigned char &byte)
{
    std::string why;
    bool ok = false;
    switch (routeOf(port)) {
    case Route::Ioperm:
        if (!mayUsePortsInThisThread(port))
            return false;
        write ? outb(byte, port) : void(byte = inb(port));
        return true;
    case Route::DevPort:
        ok = (write ? pwrite(direct().devPort, &byte, 1, port)
                    : pread(direct().devPort, &byte, 1, port)) == 1;
        why = ok ? "" : failedAt(write ? "write" : "read", port);
        break;
    case Route::Parallel:
        ok = write ? parallel::write(parallel::portOf(port), port, byte, why)
                   : parallel::read(parallel::portOf(port), port, byte, why);
        break;
    case Route::Helper:
        ok = nobodyHolds(port, why) &&
             (write ? helperclient::out(port, byte, why) : helperclient::in(port, byte, why));
        break;
    default:
        return false;
    }
    if (!ok)
        refuse(port, why);
    return ok;
}

void slowOut(unsigned short port, unsigned char byte)
{
    const std::lock_guard lock(slowPath);
    accessed(port, true, byte);
}

short slowIn(unsigned short port)
{
    const std::lock_guard lock(slowPath);
    unsigned char byte = 0;
    return accessed(port, false, byte) ? short{byte} : refused;
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
    const std::lock_guard lock(slowPath);
    if (routeOf(address(port)) != Route::Refused)
        return nullptr;
    return failures.at(address(port)).c_str();
}

const char *ReadinessProblem(void)
{
    const std::lock_guard lock(slowPath);
    if (direct().route != Route::Refused || parallel::anyOpenable())
        return nullptr;
    if (access(helperclient::path(), X_OK) == 0)
        return nullptr;
    const int helperError = errno;
    static std::string words;
    // Debian loads ppdev on demand only: a user in lp has no /dev/parportN until it is.
    const bool noDriver = parallel::driverNotLoaded();
    words = directWords() + "; " +
            (noDriver ? "the kernel's parallel ports have no /dev/parportN: the ppdev module is "
                        "not loaded, and Debian loads it only when something asks for it; run "
                        "'sudo modprobe ppdev' (or add ppdev to /etc/modules to load it at every "
                        "start)"
                      : "no parallel port device this user may open (/dev/parportN, group lp)") +
            "; the port helper " + helperclient::path() + ": " + std::strerror(helperError) +
            (noDriver && inGroup("lp") ? "" : "; " + fix(true, "the ports"));
    return words.c_str();
}
