// Real x86 ports. Each port's route is decided at its first access and kept:
// the permission portpanel-run granted with the process, else in-process
// ioperm (root), else /dev/port; else the kernel's parallel-port
// driver for the registers of a parallel port it manages (group lp); else
// portpanel-helper (group portpanel); else the port is refused. A locked-down
// kernel refuses ioperm and /dev/port to every program: there only the
// driver is tried, for root too.
#include "Advice.h"
#include "Granted.h"
#include "HelperClient.h"
#include "ParallelPorts.h"
#include "Privilege.h"
#include "SystemRoot.h"
#include "inpout32.h"

#include <algorithm>
#include <bitset>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <pthread.h>
#include <set>
#include <string>
#include <sys/io.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

enum class Route : unsigned char { Undecided, Granted, Ioperm, DevPort, Parallel, Helper, Refused };

struct Direct {
    Route route;
    int devPort;
    int iopermError;
    int devPortError;
};

constexpr unsigned long portCount = 0x10000;
constexpr short refused = -1;

using PortSet = std::bitset<portCount>;

// The ports this thread may reach inline. Linux grants ioperm per thread and
// per port, so each thread takes it for a port at its first access there.
__attribute__((tls_model("initial-exec"))) thread_local PortSet *permittedHere = nullptr;

// Set while this thread is in the library's slow path: a signal handler that
// interrupts it and calls in again is refused instead of waiting for itself.
__attribute__((tls_model("initial-exec"))) thread_local bool insideHere = false;

// Whether root's route exists, taking no permission: ioperm for no port says
// whether the kernel has it, the capability whether it would grant it.
int iopermProbe()
{
    if (ioperm(0, 0, 0) != 0 && errno == ENOSYS)
        return ENOSYS;
    return privilege::holdsRawio() ? 0 : EPERM;
}

// The lockdown level in force, read once; empty where not known.
const std::string &lockdown()
{
    static const std::string &level = *new std::string(
        privilege::lockdownLevel(PORTPANEL_SYSTEM_ROOT "/sys/kernel/security/lockdown"));
    return level;
}

Direct probe()
{
    if (privilege::lockedDown(lockdown()))
        return {Route::Refused, -1, EPERM, EPERM};
    const int iopermError = iopermProbe();
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

// Why root's routes are not taken, for the refusal's line about them.
std::string directWhy()
{
    if (privilege::lockedDown(lockdown()))
        return advice::lockedOut(lockdown());
    const std::string causes = std::string("ioperm: ") + std::strerror(direct().iopermError) +
                               "; /dev/port: " + std::strerror(direct().devPortError);
    return kernelLacksPortAccess() ? "this kernel has no user-space port access (" + causes + ")"
                                   : "no permission to use the I/O ports (" + causes + ")";
}

constexpr const char *rootRoutes = "ioperm and /dev/port";

// What decides the first line of a refusal.
advice::Situation situation(bool parallelRegister, advice::Helper helper)
{
    return {lockdown(),
            kernelLacksPortAccess(),
            parallelRegister,
            privilege::inGroup("lp"),
            parallel::driverNotLoaded(),
            helper};
}

// Everything below is shared by every thread that calls the library, and
// taken under this one lock; only root's inline in/out goes without it. None
// of it is ever destroyed: a host's global destructor may still call in.
std::mutex slowPath;
Route routes[portCount];
const char *failures[portCount]; // why each refused port was refused

// Words handed out stay valid until the process ends: each distinct text is
// kept once and never freed.
const char *kept(const std::string &words)
{
    static auto &all = *new std::set<std::string>;
    return all.insert(words).first->c_str();
}

Route refuse(unsigned short port, const std::string &why)
{
    failures[port] = kept(why);
    return routes[port] = Route::Refused;
}

// Root's permission for one port, in this thread, or the permission the
// thread already holds (granted). The set of each thread is freed when the
// thread ends.
bool permitHere(unsigned short port, bool granted = false)
{
    static const pthread_key_t owner = [] {
        pthread_key_t key{};
        pthread_key_create(&key, [](void *set) { delete static_cast<PortSet *>(set); });
        return key;
    }();
    if (!permittedHere)
        pthread_setspecific(owner, permittedHere = new PortSet);
    if ((*permittedHere)[port])
        return true;
    if (!granted && ioperm(port, 1, 1) != 0) {
        refuse(port, advice::iopermRefused(errno, privilege::holdsRawio()));
        return false;
    }
    (*permittedHere)[port] = true;
    return true;
}

constexpr const char *lockedHelper = "the locked-down kernel refuses it port permission too";

// A register of a parallel port the kernel manages goes through its driver
// when this user may open it; otherwise, and for the registers the driver
// does not reach, through the helper while nobody holds the port.
Route decide(unsigned short port)
{
    const int parallelPort = parallel::portOf(port);
    std::string parallelWhy;
    const bool withProcess = granted::covers(port);
    if (withProcess || direct().route != Route::Refused) // never behind a holder's back
        return parallelPort >= 0 && !parallel::free(parallelPort, parallelWhy)
                   ? refuse(port, parallelWhy)
               : withProcess ? Route::Granted
                             : direct().route;
    const bool throughDriver = parallelPort >= 0 && parallel::driverReaches(parallelPort, port);
    parallelWhy = parallelPort < 0
                      ? "not a register of a parallel port the kernel manages (it manages " +
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
    std::string helperWhy = std::string("not started: ") + lockedHelper;
    // Under no_new_privs (a sandbox's, say) the kernel gives the helper's file
    // no capability: it could never serve.
    const bool noNewPrivileges = prctl(PR_GET_NO_NEW_PRIVS, 0, 0, 0, 0) == 1;
    if (noNewPrivileges)
        helperWhy = "not started: this program runs with no_new_privs, under which the kernel "
                    "gives the helper no capability";
    else if (!privilege::lockedDown(lockdown()) && helperclient::start(helperWhy))
        return Route::Helper;
    const advice::Refusal refusal{
        noNewPrivileges && granted::any()
            ? advice::notInPolicy(port, PORTPANEL_POLICY_PATH)
            : advice::action(situation(throughDriver, noNewPrivileges ? advice::Helper::Refused
                                                                      : helperclient::standing()),
                             "this port", PORTPANEL_POLICY_PATH),
        {{rootRoutes, directWhy()},
         {"the parallel-port driver", parallelWhy},
         {"the port helper", helperWhy}}};
    return refuse(port, advice::lines(refusal));
}

bool anyDecided = false; // spares a fork in a program that never used the library

Route routeOf(unsigned short port)
{
    Route &route = routes[port];
    if (route == Route::Undecided)
        route = decide(port), anyDecided = true;
    return route;
}

std::string failedAt(const char *call, unsigned short port)
{
    return std::string("/dev/port: ") + call + " at " + std::to_string(port) + ": " +
           std::strerror(errno);
}

// The helper reaches a register of a managed parallel port only while
// nobody holds that port, portpanel included: asked at every access.
bool nobodyHolds(unsigned short port, std::string &why)
{
    const int parallelPort = parallel::portOf(port);
    return parallelPort < 0 || parallel::free(parallelPort, why);
}

bool accessed(unsigned short port, bool write, unsigned char &byte);

// A granted port's first access in this thread is made in a child, which
// proves the permission real here (as the variable alone cannot); a grant
// that is not leaves the port to the routes it would take without one.
bool grantedAccess(unsigned short port, bool write, unsigned char &byte)
{
    switch (granted::accessInChild(port, write, byte)) {
    case granted::Proof::Made:
        return permitHere(port, true);
    case granted::Proof::Refused:
        granted::forget(port);
        routes[port] = decide(port);
        return accessed(port, write, byte);
    default:
        refuse(port, std::string("portpanel-run's grant could not be checked: no process could "
                                 "be started to try it (clone: ") +
                         std::strerror(errno) + ")");
        return false;
    }
}

// Whether the route did the access; a route that fails refuses the port from
// then on, and the read that follows a refused write reports it.
bool accessed(unsigned short port, bool write, unsigned char &byte)
{
    std::string why;
    bool ok = false;
    switch (routeOf(port)) {
    case Route::Granted:
        return grantedAccess(port, write, byte);
    case Route::Ioperm:
        if (!permitHere(port))
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

constexpr const char *reentered =
    "the port library was called from a signal handler that interrupted it in the same thread; "
    "its entry points are not async-signal-safe";

// The slow path's lock, taken with the thread's cancellation held off: a
// cancelled exchange would leave its answer to the next one. Not taken, and
// the call refused, when this thread is already inside.
class Inside {
  public:
    Inside() : again(insideHere)
    {
        if (again)
            return;
        pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &cancelState);
        insideHere = true;
        slowPath.lock();
    }
    ~Inside()
    {
        if (again)
            return;
        slowPath.unlock();
        insideHere = false;
        pthread_setcancelstate(cancelState, nullptr);
    }
    Inside(const Inside &) = delete;
    Inside &operator=(const Inside &) = delete;
    [[nodiscard]] bool refused() const { return again; }

  private:
    bool again;
    int cancelState = 0;
};

void slowOut(unsigned short port, unsigned char byte)
{
    const Inside inside;
    if (!inside.refused())
        accessed(port, true, byte);
}

short slowIn(unsigned short port)
{
    const Inside inside;
    unsigned char byte = 0;
    return !inside.refused() && accessed(port, false, byte) ? short{byte} : refused;
}

// Fork waits for the slow path to be free, so the child gets consistent state
// and a free lock; the child then leaves the parent's helper and claims to
// the parent, and decides those routes afresh. Root's ports stay permitted:
// the child inherits the forking thread's permission, and so the granted ports.
void beforeFork()
{
    if (!insideHere)
        slowPath.lock();
}

void afterForkInParent()
{
    if (!insideHere)
        slowPath.unlock();
}

void afterForkInChild()
{
    helperclient::forgetAfterFork();
    parallel::forgetAfterFork();
    if (anyDecided)
        std::ranges::replace_if(
            routes,
            [](Route route) {
                return route != Route::Granted && route != Route::Ioperm && route != Route::DevPort;
            },
            Route::Undecided);
    afterForkInParent();
}

[[maybe_unused]] const int forkHandlers =
    pthread_atfork(beforeFork, afterForkInParent, afterForkInChild);

unsigned short address(short port) { return static_cast<unsigned short>(port); }

bool permitted(unsigned short port)
{
    const PortSet *ports = permittedHere;
    return ports && (*ports)[port];
}

// Words for a library that no route can take to any port.
std::string notReady(bool locked, int helperError)
{
    const std::string helperWhy =
        locked ? "not started: " + std::string(lockedHelper)
               : std::string(helperclient::path()) + ": " + std::strerror(helperError);
    advice::Situation everyPort = situation(true, locked                  ? advice::Helper::Refused
                                                  : helperError == ENOENT ? advice::Helper::Missing
                                                                          : advice::Helper::NotRun);
    everyPort.everyPort = true;
    // Debian loads ppdev on demand only: a user in lp has no /dev/parportN until it is.
    const advice::Refusal refusal{
        advice::action(everyPort, "the ports", PORTPANEL_POLICY_PATH),
        {{rootRoutes, directWhy()},
         {"the parallel-port driver",
          parallel::driverNotLoaded()
              ? "the kernel's parallel ports have no /dev/parportN: the ppdev module is not "
                "loaded, and Debian loads it only when something asks for it; run 'sudo "
                "modprobe ppdev'"
              : "no parallel port device this user may open (/dev/parportN, group lp)"},
         {"the port helper", helperWhy}}};
    return advice::lines(refusal);
}

} // namespace

void INPOUT_CALL Out32(short port, short value)
{
    const auto byte = static_cast<unsigned char>(value);
    if (permitted(address(port)))
        outb(byte, address(port));
    else
        slowOut(address(port), byte);
}

short INPOUT_CALL Inp32(short port)
{
    return permitted(address(port)) ? short{inb(address(port))} : slowIn(address(port));
}

// Only looks: asking about a port never opens, claims or starts anything.
const char *PortProblem(short port)
{
    const Inside inside;
    if (inside.refused())
        return reentered;
    return routes[address(port)] == Route::Refused ? failures[address(port)] : nullptr;
}

// The same words as the port finder's for the route it predicts.
const char *PortRoute(short port)
{
    const Inside inside;
    if (inside.refused())
        return nullptr;
    switch (routes[address(port)]) {
    case Route::Granted:
        return "portpanel-run (ioperm)";
    case Route::Ioperm:
        return "root (ioperm)";
    case Route::DevPort:
        return "root (/dev/port)";
    case Route::Parallel:
        return kept("lp (" + parallel::deviceName(parallel::portOf(address(port))) + ")");
    case Route::Helper:
        return "the helper (portpanel group)";
    default:
        return nullptr;
    }
}

const char *ReadinessProblem(void)
{
    const Inside inside;
    if (inside.refused())
        return reentered;
    // A grant that proves false at its first access leaves that port to
    // the other routes, which then say why.
    if (direct().route != Route::Refused || granted::any() || parallel::anyOpenable())
        return nullptr;
    const bool locked = privilege::lockedDown(lockdown());
    const int helperError = locked || access(helperclient::path(), X_OK) == 0 ? 0 : errno;
    return !locked && helperError == 0 ? nullptr : kept(notReady(locked, helperError));
}
