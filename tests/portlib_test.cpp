// The hardware library as other programs load it, on a machine without port
// access: its own sources over a stand-in parallel-port driver (the ioctl
// below, with the kernel's files in a tree of the test's own) and a stand-in
// helper. The library decides routes once per process, so each case runs in
// a child of its own and reports what it saw as text.
#include "Filter.h"
#include "Grant.h"
#include "Policy.h"
#include "Protocol.h"
#include "SystemTree.h"
#include "hardware/Granted.h"
#include "inpout32.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// The driver as ppdev behaves: a claim waits for the holder and ends with
// EINTR when any signal is handled meanwhile; a release frees the port.
struct Driver {
    int claimWaitMs = 0;  // how long the holder keeps the port; -1: for good
    int heldForGood = -1; // a parport whose holder never lets go
    int claimError = 0;   // ENXIO: someone holds it exclusively
    unsigned modes = PARPORT_MODE_PCSPP | PARPORT_MODE_TRISTATE;
    std::atomic<int> claims = 0, releases = 0;
    unsigned char data = 0, control = 0;
} driver;

std::string linkOf(int fd)
{
    char target[256] = {};
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    return readlink(link.c_str(), target, sizeof target - 1) > 0 ? target : "";
}

// The parport number of a descriptor, -1 for anything else.
int deviceOf(int fd)
{
    const std::string name = linkOf(fd);
    const std::size_t at = name.find("/dev/parport");
    return at == std::string::npos ? -1 : std::atoi(name.c_str() + at + 12);
}

void setActive(const char *holder, int port = 0)
{
    std::ofstream("proc/sys/dev/parport/parport" + std::to_string(port) + "/devices/active")
        << holder << "\n";
}

int claim(int device)
{
    ++driver.claims;
    if (driver.claimError)
        return errno = driver.claimError, -1;
    const bool forGood = driver.claimWaitMs < 0 || device == driver.heldForGood;
    static const auto released =
        Clock::now() + std::chrono::milliseconds(std::max(0, driver.claimWaitMs));
    const auto until = forGood ? Clock::now() + std::chrono::seconds(10) : released;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(until - Clock::now());
    const long left = std::max<long>(0, ns.count());
    const timespec wait{left / 1'000'000'000, left % 1'000'000'000};
    if ((ns.count() > 0 && ppoll(nullptr, 0, &wait, nullptr) < 0) || forGood)
        return errno = EINTR, -1;
    setActive("ppdev0", device);
    return 0;
}

template <typename T> int put(void *arg, T value) { return *static_cast<T *>(arg) = value, 0; }

} // namespace

// Bound ahead of libc's for the library's sources in this executable.
extern "C" int ioctl(int fd, unsigned long request, ...) noexcept
{
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);
    const int device = deviceOf(fd);
    if (device < 0)
        return static_cast<int>(syscall(SYS_ioctl, fd, request, arg));
    const auto byte = [arg] { return *static_cast<unsigned char *>(arg); };
    switch (request) {
    case PPCLAIM:
        return claim(device);
    case PPRELEASE:
        return setActive("none", device), ++driver.releases, 0;
    case PPDATADIR:
        return 0;
    case PPGETMODES:
        return put(arg, driver.modes);
    case PPWDATA:
        return driver.data = byte(), 0;
    case PPRDATA:
        return put(arg, driver.data);
    case PPRSTATUS:
        return put<unsigned char>(arg, 0xD8);
    case PPWCONTROL:
        return driver.control = byte() & 0x0F, 0;
    case PPRCONTROL:
        return put(arg, driver.control);
    default:
        return errno = ENOTTY, -1;
    }
}

// Never the real ports, whoever runs the test.
extern "C" int ioperm(unsigned long, unsigned long, int) noexcept { return errno = ENOSYS, -1; }

namespace {

// parport0 at 0x378 with its ECP block at 0x778, and anything else a case adds.
void makeTree(const std::string &active, bool device = true)
{
    const std::filesystem::path port = "proc/sys/dev/parport/parport0";
    std::filesystem::create_directories(port / "devices");
    std::filesystem::create_directories("dev");
    std::ofstream(port / "base-addr") << "888\t1912\n";
    std::ofstream(port / "irq") << "7\n";
    setActive(active.c_str());
    if (device)
        std::ofstream("dev/parport0");
}

std::string hex(int value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

std::string active()
{
    std::string name;
    std::ifstream("proc/sys/dev/parport/parport0/devices/active") >> name;
    return name;
}

// What a read of the port gives: the byte, or the library's words.
std::string access(short port)
{
    const short value = Inp32(port);
    const char *words = value < 0 ? PortProblem(port) : nullptr;
    return value >= 0 ? hex(value) : std::string("refused: ") + (words ? words : "(no words)");
}

long msSince(Clock::time_point start)
{
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// Waits for what a thread of the library or the host does meanwhile; the
// bound only ends a hang.
bool eventually(const std::function<bool()> &done)
{
    for (const auto start = Clock::now(); msSince(start) < 10'000; usleep(1000))
        if (done())
            return true;
    return false;
}

std::atomic<int> alarms = 0;
void countAlarm(int) { ++alarms; }

// A host with its own SIGALRM handler (no SA_RESTART) and a timer.
struct HostAlarm {
    explicit HostAlarm(int everyUs, void (*handler)(int) = countAlarm)
    {
        struct sigaction host = {};
        host.sa_handler = handler;
        sigaction(SIGALRM, &host, nullptr);
        const itimerval timer{{0, everyUs}, {0, everyUs}};
        setitimer(ITIMER_REAL, &timer, nullptr);
    }
    ~HostAlarm()
    {
        const itimerval off{};
        setitimer(ITIMER_REAL, &off, nullptr);
    }
    static bool handlerKept()
    {
        struct sigaction now = {};
        sigaction(SIGALRM, nullptr, &now);
        return now.sa_handler == countAlarm;
    }
};

// Each case, in a fresh child: its tree is made, it runs, and it returns what it saw.
struct Case {
    const char *name;
    std::function<std::string()> run;
    std::vector<std::string> needles;
};

// What a second process sends back through a pipe within its time, and how it ended.
std::string fromChild(pid_t pid, int fd, int waitMs = 5000)
{
    std::string seen;
    char chunk[512];
    pollfd ready{fd, POLLIN, 0};
    ssize_t n = 1;
    while (n > 0 && poll(&ready, 1, waitMs) == 1)
        if ((n = read(fd, chunk, sizeof chunk)) > 0)
            seen.append(chunk, static_cast<std::size_t>(n));
    close(fd);
    if (n > 0)
        kill(pid, SIGKILL), seen += "blocked";
    int status = 0;
    waitpid(pid, &status, 0);
    return seen + (WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "" : "; ended badly");
}

// Runs body in a forked child, which reports what it returns.
std::string inFork(const std::function<std::string()> &body, int waitMs = 5000)
{
    int ends[2];
    if (pipe(ends) != 0)
        return "pipe failed";
    const pid_t pid = fork();
    if (pid == 0) {
        const std::string seen = body();
        (void)!write(ends[1], seen.data(), seen.size());
        _exit(0);
    }
    close(ends[1]);
    return fromChild(pid, ends[0], waitMs);
}

std::string inChild(const Case &test)
{
    return inFork(
        [&test] {
            char root[] = "/tmp/portlib-test.XXXXXX";
            if (!mkdtemp(root) || chdir(root) != 0)
                _exit(2);
            setenv("PORTPANEL_HELPER", STANDIN_HELPER, 1);
            const std::string seen = test.run();
            std::filesystem::remove_all(root);
            return seen;
        },
        20'000);
}

std::string twoThreads()
{
    makeTree("none");
    Out32(0x101, 1);
    Out32(0x202, 2);
    std::atomic<int> crossed = 0;
    const auto reader = [&crossed](short port, short expected) {
        for (int i = 0; i < 20'000; ++i)
            crossed += Inp32(port) != expected;
    };
    std::thread first(reader, 0x101, 1), second(reader, 0x202, 2);
    first.join();
    second.join();
    return "crossed " + std::to_string(crossed);
}

// The holder lets go after 30 ms while the host's alarm fires every 5 ms.
std::string hostAlarmDuringClaim()
{
    makeTree("none");
    driver.claimWaitMs = 30;
    HostAlarm host(5000);
    const std::string seen = access(0x378);
    const int during = alarms;
    const bool after = eventually([during] { return alarms > during; });
    return seen + "; host alarms during " + (during > 0 ? "yes" : "no") + ", after " +
           (after ? "yes" : "no") + "; handler " + (HostAlarm::handlerKept() ? "kept" : "lost");
}

// The library's waits are bounded (a claim 50 ms, the helper 1 s): a call that
// takes seconds longer is hung on what it should have given up on. How soon it
// gives up is bench/run's to measure; a busy machine may be slow.
constexpr long hangMs = 8000; // under the stand-in holder's 10 s

std::string timed(const std::function<std::string()> &call, long boundMs = hangMs)
{
    const auto start = Clock::now();
    const std::string seen = call();
    return seen + (msSince(start) < boundMs ? "; in bound" : "; too slow");
}

// The holder lets go after 200 ms, long after the claim gave up: the claim
// that then ends is released.
std::string claimEndsLate()
{
    makeTree("none");
    driver.claimWaitMs = 200;
    const rlimit none{0, 0};
    setrlimit(RLIMIT_SIGPENDING, &none);
    const std::string seen = timed([] { return access(0x378); });
    eventually([] { return driver.releases > 0; });
    return seen + "; then active " + active();
}

std::string heldPort()
{
    makeTree("ppdev3");
    driver.claimWaitMs = -1;
    // A claim would wait for the holder: "claims 0" says none was made.
    const std::string seen = timed([] { return access(0x378); });
    return seen + "; claims " + std::to_string(driver.claims);
}

std::string registerOfHeldPort(short port)
{
    makeTree("lp0");
    return access(port);
}

std::string ecrWhileWeHoldThePort()
{
    makeTree("none");
    access(0x378);
    return access(0x77A);
}

std::string reverseWithoutTristate()
{
    makeTree("none");
    driver.modes = PARPORT_MODE_PCSPP;
    Out32(0x37A, 0x20);
    return access(0x37A);
}

std::string burstUnderSignals()
{
    makeTree("none");
    HostAlarm host(1000);
    for (int i = 0; i < 100'000; ++i) // more than the socket holds
        Out32(0x300, static_cast<short>(i & 0xFF));
    return access(0x300);
}

std::string closedStandardStreams()
{
    makeTree("none");
    close(STDIN_FILENO);
    close(STDOUT_FILENO);
    Out32(0x300, 0x42);
    return access(0x300);
}

std::string inheritedState()
{
    makeTree("none");
    (void)!open("/dev/null", O_RDONLY); // no O_CLOEXEC, as careless hosts do
    sigset_t usr1;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &usr1, nullptr);
    signal(SIGUSR2, SIG_IGN);
    return "stray " + access(static_cast<short>(0xFFFE)) + "; signals " +
           access(static_cast<short>(0xFFFD));
}

std::string helperStopsAnswering()
{
    makeTree("none");
    access(0x300);
    const std::string seen = timed([] { return access(static_cast<short>(0xFFFF)); });
    const bool childLeft = waitpid(-1, nullptr, WNOHANG) >= 0;
    return seen + (childLeft ? "; a child left" : "; reaped");
}

std::string helperKilledWhileSigchldIgnored()
{
    makeTree("none");
    signal(SIGCHLD, SIG_IGN);
    access(0x300);
    pid_t helper = -1;
    std::ifstream("/proc/self/task/" + std::to_string(getpid()) + "/children") >> helper;
    if (helper > 0)
        kill(helper, SIGKILL);
    eventually([helper] { return kill(helper, 0) != 0; }); // gone, reaped by the kernel
    return access(0x300);
}

std::string usbAdapterAtBaseZero()
{
    makeTree("none");
    std::filesystem::create_directories("proc/sys/dev/parport/parport1/devices");
    std::ofstream("proc/sys/dev/parport/parport1/base-addr") << "0\t0\n";
    std::ofstream("proc/sys/dev/parport/parport1/devices/active") << "none\n";
    std::ofstream("dev/parport1");
    return access(0x0000);
}

std::string withoutPpdev()
{
    makeTree("none", false);
    setenv("PORTPANEL_HELPER", "/nonexistent/portpanel-helper", 1);
    return access(0x378);
}

int crossedReads(short port, short expected)
{
    int crossed = 0;
    for (int i = 0; i < 20'000; ++i)
        crossed += Inp32(port) != expected;
    return crossed;
}

std::string forkedChildUsesItsOwn()
{
    makeTree("none");
    Out32(0x300, 0x11);
    Out32(0x378, 0x5A);
    int ends[2];
    if (pipe(ends) != 0)
        return "pipe failed";
    const pid_t pid = fork();
    if (pid == 0) {
        Out32(0x301, 0x22);
        const std::string seen =
            "child crossed " + std::to_string(crossedReads(0x301, 0x22)) + ", " + access(0x378);
        (void)!write(ends[1], seen.data(), seen.size());
        _exit(0);
    }
    close(ends[1]);
    const int crossed = crossedReads(0x300, 0x11);
    return "parent crossed " + std::to_string(crossed) + ", " + access(0x378) + "; " +
           fromChild(pid, ends[0]);
}

std::string childExits()
{
    makeTree("none");
    Out32(0x378, 0x5A);
    if (fork() == 0)
        std::exit(0); // static destructors and atexit handlers run
    wait(nullptr);
    return "active " + active() + "; " + access(0x378);
}

std::string forkWhileInside()
{
    makeTree("none");
    access(0x300);
    std::thread inside([] { Inp32(static_cast<short>(0xFFF0)); }); // answered after 200 ms
    usleep(50'000);
    const std::string seen = inFork([] {
        Out32(0x300, 0x33);
        return "child reads " + access(0x300);
    });
    inside.join();
    return seen;
}

// A host that takes every real-time signal with sigwaitinfo, with one queued,
// then ignores them all.
std::string hostRealtimeSignals()
{
    makeTree("none");
    std::filesystem::create_directories("proc/sys/dev/parport/parport1/devices");
    std::ofstream("proc/sys/dev/parport/parport1/base-addr") << "632\t0\n";
    setActive("none", 1);
    std::ofstream("dev/parport1");
    driver.heldForGood = 1;
    sigset_t realtime;
    sigemptyset(&realtime);
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal)
        sigaddset(&realtime, signal);
    pthread_sigmask(SIG_BLOCK, &realtime, nullptr);
    sigqueue(getpid(), SIGRTMAX, sigval{7});
    const std::string first = access(0x378);
    const timespec none{};
    siginfo_t info{};
    const bool kept =
        sigtimedwait(&realtime, &info, &none) == SIGRTMAX && info.si_value.sival_int == 7;
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal)
        std::signal(signal, SIG_IGN);
    const std::string contested = timed([] { return access(0x278); });
    struct sigaction now = {};
    sigaction(SIGRTMAX, nullptr, &now);
    return first + "; queued signal " + (kept ? "kept" : "lost") + "; contested " + contested +
           "; SIGRTMAX " + (now.sa_handler == SIG_IGN ? "ignored as set" : "changed");
}

std::string cancelledExchange()
{
    makeTree("none");
    Out32(0x300, 0x11);
    Out32(0x301, 0x22);
    pthread_t thread{};
    pthread_create(
        &thread, nullptr,
        [](void *) -> void * { return Inp32(static_cast<short>(0xFFF0)), nullptr; }, nullptr);
    usleep(50'000);
    pthread_cancel(thread);
    pthread_join(thread, nullptr);
    return access(0x300) + " " + access(0x301) + " " + access(0x300);
}

// A host global destroyed after everything else, as in a host that loads the
// library at run time: its destructor still calls the library.
struct HostGlobal {
    int report = -1;
    ~HostGlobal()
    {
        if (report < 0)
            return;
        Out32(0x300, 2);
        const std::string seen = "after exit: " + access(0x300) + "; " + access(0x37C);
        (void)!write(report, seen.data(), seen.size());
    }
};
__attribute__((init_priority(101))) HostGlobal hostGlobal;

std::string callsAfterExit()
{
    makeTree("lp0");
    int ends[2];
    if (pipe(ends) != 0)
        return "pipe failed";
    const pid_t pid = fork();
    if (pid == 0) {
        access(0x300), access(0x37C);
        hostGlobal.report = ends[1];
        std::exit(0);
    }
    close(ends[1]);
    return fromChild(pid, ends[0]);
}

std::string readinessTwice()
{
    makeTree("none", false);
    setenv("PORTPANEL_HELPER", "/nonexistent/portpanel-helper", 1);
    const char *first = ReadinessProblem();
    const char *second = ReadinessProblem();
    return first && first == second && std::strcmp(first, second) == 0 ? "same words, same place"
                                                                       : "moved";
}

std::atomic<int> handlerReads = 0;
// Reads a port from a handler that may interrupt the library in this thread.
void readInHandler(int)
{
    Inp32(0x300);
    ++handlerReads;
}

std::string handlerWhileInside()
{
    makeTree("none");
    Out32(0x300, 0x42);
    int wrong = 0;
    {
        HostAlarm host(1000, readInHandler);
        for (const auto start = Clock::now(); msSince(start) < 300;)
            wrong += Inp32(0x300) != 0x42;
    }
    return "main read 0x42, wrong " + std::to_string(wrong) + "; handler " +
           (handlerReads > 0 ? "returned" : "never ran");
}

std::string exclusiveHolderReleased()
{
    makeTree("none");
    std::filesystem::create_directories("proc/sys/dev/parport/parport0/devices/ppdev0");
    driver.claimError = ENXIO;
    std::string seen;
    for (const short port : {0x37C, 0x77A, 0x378})
        seen += access(port).substr(0, 9);
    return seen + "; " + access(0x37C);
}

std::string noListedEcpBlock()
{
    makeTree("lp0");
    std::ofstream("proc/sys/dev/parport/parport0/base-addr") << "888\t0\n";
    return access(0x77A);
}

std::string rootRouteHeldPort()
{
    makeTree("lp0");
    std::ofstream("dev/port").close();
    std::filesystem::resize_file("dev/port", 0x10000);
    return access(0x300) + "; " + access(0x378);
}

std::string helperClosesAndLingers()
{
    makeTree("none");
    access(0x300);
    // Under the 5 s it lingers for: the library does not wait out its exit.
    return timed([] { return access(static_cast<short>(0xFFF1)); }, 4000);
}

// The stand-in under another name, which changes how it behaves.
void helperNamed(const char *name)
{
    std::filesystem::create_symlink(STANDIN_HELPER, name);
    setenv("PORTPANEL_HELPER", (std::filesystem::current_path() / name).c_str(), 1);
}

std::string helperNeverGreets()
{
    makeTree("none");
    helperNamed("silent-helper");
    std::string seen;
    {
        HostAlarm host(20);
        seen = access(0x300);
    }
    return seen + (waitpid(-1, nullptr, WNOHANG) > 0 ? "; a child left" : "; reaped");
}

std::string twoDescriptorsLeft()
{
    makeTree("none");
    int fd = 0;
    while ((fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0 && fd < 20) {
    }
    close(fd);
    rlimit before{};
    getrlimit(RLIMIT_NOFILE, &before);
    const rlimit two{static_cast<rlim_t>(fd) + 2, before.rlim_max};
    setrlimit(RLIMIT_NOFILE, &two);
    const std::string seen = access(0x300);
    setrlimit(RLIMIT_NOFILE, &before);
    return seen;
}

// Another thread looks for a descriptor without close-on-exec while the
// library reads who holds the port at each access.
std::string descriptorsCloseOnExec()
{
    makeTree("none");
    std::atomic<bool> done = false;
    int unmarked = 0;
    std::thread watcher([&] {
        while (!done)
            for (int fd = 3; fd < 32; ++fd)
                unmarked += fcntl(fd, F_GETFD) == 0 && linkOf(fd).ends_with("devices/active");
    });
    for (int i = 0; i < 20'000; ++i)
        Inp32(0x37C);
    done = true;
    watcher.join();
    return "unmarked " + std::to_string(unmarked);
}

std::string problemOfUntouchedPort()
{
    makeTree("none");
    const char *words = PortProblem(0x378);
    return std::string(words ? words : "null") + "; claims " + std::to_string(driver.claims) +
           "; active " + active();
}

// The route each port's accesses took, named only once taken.
std::string routesNamed()
{
    makeTree("none");
    const auto named = [](short port) {
        const char *words = PortRoute(port);
        return std::string(words ? words : "null");
    };
    std::string seen = named(0x378) + "; ";
    access(0x378), access(0x300);
    return seen + named(0x378) + "; " + named(0x300) + "; " + named(0x301);
}

std::string helperReapedByHost()
{
    makeTree("none");
    access(0x300);
    pid_t helper = -1;
    std::ifstream("/proc/self/task/" + std::to_string(getpid()) + "/children") >> helper;
    if (helper > 0)
        kill(helper, SIGKILL), waitpid(helper, nullptr, 0);
    return access(0x300);
}

// The whole library refused before any port: which of lp's steps is missing.
std::string readinessWithoutPpdev()
{
    makeTree("none", false);
    setenv("PORTPANEL_HELPER", "/nonexistent/portpanel-helper", 1);
    const char *words = ReadinessProblem();
    return words ? words : "ready";
}

// A locked-down kernel: the driver for the parallel port, no helper started
// for anything else, and the words say why and what to do.
std::string lockedDown(bool device)
{
    makeTree("none", device);
    std::filesystem::create_directories("sys/kernel/security");
    std::ofstream("sys/kernel/security/lockdown") << "none [integrity] confidentiality\n";
    if (!device) {
        const char *words = ReadinessProblem();
        return words ? words : "ready";
    }
    Out32(0x378, 0x5A);
    const std::string seen = access(0x378) + "; " + access(0x300);
    std::string helper;
    std::ifstream("/proc/self/task/" + std::to_string(getpid()) + "/children") >> helper;
    return seen + (helper.empty() ? "; no helper" : "; a helper started");
}

// A grant that names this process but that the CPU refuses (this kernel has
// no ioperm): the library counts it ready, tries it once in a child, and then
// takes the helper, or refuses with words where there is none; never a signal.
std::string refusedGrant(const char *helper)
{
    makeTree("none");
    std::string self;
    std::getline(std::ifstream("/proc/self/stat"), self);
    setenv(helper::grantedVariable, (helper::processIdentity(self) + ":0x2F8-0x2FF").c_str(), 1);
    setenv("PORTPANEL_HELPER", helper, 1);
    const char *words = ReadinessProblem();
    Out32(0x2F8, 0x5A);
    return std::string(words ? "not ready" : "ready") + "; " + access(0x2F8);
}

const Case cases[] = {
    {"two threads through the helper", twoThreads, {"crossed 0"}},
    {"host alarm during a claim",
     hostAlarmDuringClaim,
     {"0x00; host alarms during yes, after yes; handler kept"}},
    {"claim with no signal to spare, ending late",
     claimEndsLate,
     {"refused", "in use by", "in bound; then active none"}},
    {"held port refused at once", heldPort, {"in use by ppdev3", "in bound", "claims 0"}},
    {"exclusive holder",
     [] {
         makeTree("none"), driver.claimError = ENXIO;
         return access(0x378);
     },
     {"refused", "exclusively"}},
    {"EPP register of a held port",
     [] { return registerOfHeldPort(0x37C); },
     {"refused", "in use by lp0"}},
    {"ECR of a held port", [] { return registerOfHeldPort(0x77A); }, {"refused", "in use by lp0"}},
    {"ECR while portpanel holds the port", ecrWhileWeHoldThePort, {"refused", "portpanel holds"}},
    {"reverse on a port without tri-state", reverseWithoutTristate, {"refused", "tri-state"}},
    {"burst under a host's signals", burstUnderSignals, {"0x9F"}},
    {"fds 0 and 1 closed", closedStandardStreams, {"0x42"}},
    {"stray descriptor, blocked and ignored signals", inheritedState, {"stray 0x00; signals 0x00"}},
    {"helper stops answering",
     helperStopsAnswering,
     {"refused", "did not answer", "in bound", "reaped"}},
    {"helper killed while SIGCHLD is ignored",
     helperKilledWhileSigchldIgnored,
     {"refused", "stopped answering", "ignores SIGCHLD"}},
    {"USB adapter at base 0", usbAdapterAtBaseZero, {"0xFF"}},
    {"port known, ppdev not loaded",
     withoutPpdev,
     {"refused", "modprobe ppdev", "\n  ioperm and /dev/port: this kernel has no user-space",
      "\n  the parallel-port driver: ./dev/parport0: No such file",
      "\n  the port helper: /nonexistent/portpanel-helper cannot be run"}},
    {"helper refused port permission, its file without the capability",
     [] {
         makeTree("none"), helperNamed("unprivileged-helper");
         return access(0x300);
     },
     {"refused: the port helper's file has lost its capability: 'sudo dpkg-reconfigure "
      "portpanel' gives it back\n",
      "\n  the port helper: its file lacks cap_sys_rawio"}},
    {"locked down",
     [] { return lockedDown(true); },
     {"0x5A; refused: the kernel is locked down (integrity), as Debian does when Secure Boot is "
      "on: it refuses direct port access to every program, root included; the parallel ports it "
      "manages stay reachable through its driver (group lp); to reach this port, turn Secure Boot "
      "off",
      "\n  the port helper: not started: the locked-down kernel refuses it", "; no helper"}},
    {"locked down, ppdev not loaded",
     [] { return lockedDown(false); },
     {"the kernel is locked down (integrity)",
      "the parallel ports it manages stay reachable "
      "through its driver: 'sudo modprobe ppdev'",
      "; for other ports, turn Secure Boot off", "\n  the port helper: not started"}},
    {"fork: parent and child through the helper and the driver",
     forkedChildUsesItsOwn,
     {"parent crossed 0, 0x5A; child crossed 0, refused", "in use by ppdev0"}},
    {"a child's exit leaves the claim", childExits, {"active ppdev0; 0x5A"}},
    {"fork while another thread is inside", forkWhileInside, {"child reads 0x33"}},
    {"host's real-time signals",
     hostRealtimeSignals,
     {"0x00; queued signal kept; contested refused", "in bound; SIGRTMAX ignored as set"}},
    {"a cancelled exchange", cancelledExchange, {"0x11 0x22 0x11"}},
    {"calls from a host global after exit", callsAfterExit, {"after exit: 0x02; refused", "lp0"}},
    {"ReadinessProblem twice", readinessTwice, {"same words, same place"}},
    {"a grant the CPU refuses, the helper there",
     [] { return refusedGrant(STANDIN_HELPER); },
     {"ready; 0x5A"}},
    {"a grant the CPU refuses, no helper",
     [] { return refusedGrant("/nonexistent/portpanel-helper"); },
     {"ready; refused", "the port helper: /nonexistent/portpanel-helper cannot be run"}},
    {"Inp32 in a signal handler", handlerWhileInside, {"wrong 0; handler returned"}},
    {"exclusive holder with its claim released",
     exclusiveHolderReleased,
     {"refused: refused: refused: ; refused", "ppdev0"}},
    {"held port with no listed ECP block", noListedEcpBlock, {"refused", "in use by lp0"}},
    {"root's route and a held port", rootRouteHeldPort, {"0x00; refused", "in use by lp0"}},
    {"helper closes its socket and lingers", helperClosesAndLingers, {"refused", "in bound"}},
    {"helper never greets, host timer every 20 us", helperNeverGreets, {"did not greet", "reaped"}},
    {"two descriptors left", twoDescriptorsLeft, {"refused", "Too many open files"}},
    {"descriptors close on exec", descriptorsCloseOnExec, {"unmarked 0"}},
    {"PortProblem of an untouched port", problemOfUntouchedPort, {"null; claims 0; active none"}},
    {"the routes taken, as the library names them",
     routesNamed,
     {"null; lp (/dev/parport0); the helper (portpanel group); null"}},
    {"helper reaped by the host", helperReapedByHost, {"stopped answering", "collected"}},
    {"ppdev not loaded, the library asked",
     readinessWithoutPpdev,
     {"'sudo modprobe ppdev'", "Debian loads it only when something asks for it"}},
};

TEST(HardwareLibrary, AmongOtherPrograms)
{
    for (const Case &test : cases) {
        const std::string seen = inChild(test);
        for (const std::string &needle : test.needles)
            EXPECT_NE(seen.find(needle), std::string::npos)
                << test.name << ": expected \"" << needle << "\" in: " << seen;
    }
}

// The helper's policy over a system tree of the test's own (SystemTree.h),
// and the policy file as each row has it.
struct PolicyCase {
    const char *file;    // null: no policy file
    std::size_t size;    // its bytes, 0: up to its first NUL
    char kind;           // what is named ports: a file (f), FIFO (p), folder (d) or symlink (l)
    mode_t mode;         // the file's
    mode_t folderMode;   // its folder's
    bool ours;           // owned by the owner the helper trusts
    const char *refusal; // words the helper refuses with, or null
    std::vector<unsigned> open, closed;
};

std::string readPolicyIn(const std::filesystem::path &root, const PolicyCase &row,
                         helper::PortSet &open)
{
    makeSystemTree(root);
    std::filesystem::create_directories(root / "etc/portpanel");
    chmod((root / "etc/portpanel").c_str(), row.folderMode);
    const std::filesystem::path ports = root / "etc/portpanel/ports";
    if (row.kind == 'p')
        mkfifo(ports.c_str(), row.mode);
    else if (row.kind == 'd')
        std::filesystem::create_directory(ports);
    else if (row.kind == 'l')
        std::filesystem::create_symlink("/dev/null", ports);
    else if (row.file) {
        std::ofstream(ports).write(
            row.file, static_cast<std::streamsize>(row.size ? row.size : std::strlen(row.file)));
        chmod(ports.c_str(), row.mode);
    }
    return helper::readPolicy({root, "/etc/portpanel/ports", row.ours ? getuid() : getuid() + 1},
                              open);
}

const PolicyCase policies[] = {
    {nullptr,
     0,
     'f',
     0644,
     0755,
     true,
     nullptr,
     {0x378, 0x37F, 0x77A, 0x278, 0x3BC, 0x3F8, 0x2EF, 0xDC00, 0xDC07, 0xE002, 0xC050, 0xC057},
     {0xCF8, 0xCF9, 0xCFC, 0x70, 0x64, 0x00, 0x20, 0x40, 0x3C0, 0x3F7, 0xDC08, 0xC000, 0xFE00}},
    {"0xE010-0xE01F # a card\n\n  768\n\t0Xdc08 \n",
     0,
     'f',
     0644,
     0755,
     true,
     nullptr,
     {0xE010, 0xE01F, 0x300, 0xDC08},
     {0xE020, 0x301, 0xCF8}},
    {"all\n", 0, 'f', 0644, 0755, true, nullptr, {0xCF8, 0x64, 0x00, 0xFFFF}, {}},
    {"# c\n0x300\n0xCF8-\n", 0, 'f', 0644, 0755, true, "ports line 3: \"0xCF8-\"", {}, {}},
    {"0x10000\n", 0, 'f', 0644, 0755, true, "ports line 1", {}, {}},
    {"0x300 0x301\n", 0, 'f', 0644, 0755, true, "ports line 1", {}, {}},
    {"0xD000-0xC000\n", 0, 'f', 0644, 0755, true, "ports line 1", {}, {}},
    {"0x30O\n", 0, 'f', 0644, 0755, true, "ports line 1", {}, {}},
    {"everything\n", 0, 'f', 0644, 0755, true, "is not a port or a range", {}, {}},
    {"0x300\n", 0, 'f', 0664, 0755, true, "its group or others may write it (mode 0664)", {}, {}},
    {"0x300\n", 0, 'f', 0646, 0755, true, "may write it", {}, {}},
    {"0x300\n", 0, 'f', 0644, 0755, false, "is not trusted: it belongs to uid", {}, {}},
    {"0x300\n", 0, 'f', 0644, 0757, true, "portpanel is not trusted: its group or others", {}, {}},
    {"0x300\n",
     0,
     'f',
     0644,
     0775,
     true,
     "portpanel is not trusted: its group or others may write it",
     {},
     {}},
    {"0x300\0x\n", 8, 'f', 0644, 0755, true, "ports line 1: \"0x300\\x00x\"", {}, {}},
    {nullptr, 0, 'p', 0644, 0755, true, "ports is not a regular file (a FIFO)", {}, {}},
    {nullptr, 0, 'd', 0644, 0755, true, "ports is not a regular file (a folder)", {}, {}},
    {nullptr, 0, 'l', 0644, 0755, true, "ports is a symbolic link", {}, {}},
};

TEST(HelperPolicy, OpensWhatTheMachineAndTheAdministratorAllow)
{
    for (const PolicyCase &row : policies) {
        char root[] = "/tmp/policy-test.XXXXXX";
        ASSERT_TRUE(mkdtemp(root));
        helper::PortSet open;
        const std::string refusal = readPolicyIn(root, row, open);
        const std::string file = row.file ? row.file : std::string("(no file) ") + row.kind;
        if (row.refusal)
            EXPECT_NE(refusal.find(row.refusal), std::string::npos) << file << ": " << refusal;
        else
            EXPECT_EQ(refusal, "") << file;
        for (const unsigned port : row.open)
            EXPECT_TRUE(open[port]) << file << ": " << std::hex << port << " should be open";
        for (const unsigned port : row.closed)
            EXPECT_FALSE(open[port]) << file << ": " << std::hex << port << " should be closed";
        std::filesystem::remove_all(root);
    }
}

// What the launcher's filter answers a program's own ioperm and iopl, which
// it answers without running them (this kernel has neither).
TEST(HelperPolicy, FilterAnswersPortCallsForTheGrant)
{
    helper::PortSet open;
    open.set(0x378).set(0x379).set(0x37A).set(0xFFFF);
    for (unsigned port = 0xC050; port <= 0xC057; ++port)
        open.set(port);
    const struct {
        long call, from, num, on;
        bool acceptIopl;
        int expected; // 0, or the errno
    } rows[] = {
        {SYS_ioperm, 0xC050, 8, 1, false, 0},
        {SYS_ioperm, 0xC054, 4, 1, false, 0},
        {SYS_ioperm, 0x378, 3, 1, false, 0},
        {SYS_ioperm, 0xFFFF, 1, 1, false, 0},
        {SYS_ioperm, 0xC050, 9, 1, false, EPERM},
        {SYS_ioperm, 0xC04F, 2, 1, false, EPERM},
        {SYS_ioperm, 0x378, 4, 1, false, EPERM},
        {SYS_ioperm, 0x379, 0xC000, 1, false, EPERM},
        {SYS_ioperm, 0x64, 1, 1, false, EPERM},
        {SYS_ioperm, 0x378, 0, 1, false, EINVAL},
        {SYS_ioperm, 0x10000, 1, 1, false, EPERM},
        {SYS_ioperm, 0x1'0000'0378, 1, 1, false, EPERM},
        {SYS_ioperm, 0x378, 0x1'0000'0001, 1, false, EPERM},
        {SYS_ioperm, 0xC050, 8, 0, false, 0},
        {SYS_ioperm, 0, 0x10000, 0, false, 0},
        {SYS_ioperm, 0x378, 1, 0x1'0000'0000, false, 0},
        {SYS_iopl, 3, 0, 0, false, EPERM},
        {SYS_iopl, 3, 0, 0, true, 0},
        {SYS_iopl, 0, 0, 0, true, ENOSYS}, // lowering it is the kernel's, which lacks it here
    };
    for (const auto &row : rows) {
        const pid_t child = fork();
        if (child == 0) {
            if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
                !helper::filterPortCalls(open, row.acceptIopl).empty())
                _exit(255);
            const long result = syscall(row.call, row.from, row.num, row.on);
            _exit(result == 0 ? 0 : errno);
        }
        int status = -1;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == row.expected)
            << (row.call == SYS_iopl ? "iopl(" : "ioperm(") << std::hex << row.from << ", "
            << row.num << ", " << row.on << "): status " << std::dec << status;
    }
}

// What portpanel-run writes, the library reads back: the same ports, and only
// in the granted process (its pid and start time) or a descendant of it.
TEST(HelperPolicy, GrantedPortsReachTheProcessAndItsChildrenOnly)
{
    helper::PortSet open;
    open.set(0x378, true).set(0x379, true).set(0xDC00, true).set(0xFFFF, true).set(0, true);
    const std::string ranges = helper::ranges(open);
    EXPECT_EQ(ranges, "0x0-0x0,0x378-0x379,0xDC00-0xDC00,0xFFFF-0xFFFF");
    const struct {
        std::string value, pids;
        std::vector<unsigned short> open, closed;
    } rows[] = {
        {"40:" + ranges, "40 1 ", {0, 0x378, 0x379, 0xDC00, 0xFFFF}, {0x377, 0x37A, 0xDC01}},
        {"40:" + ranges, "41 40 1 ", {0x378}, {}}, // a child it forked
        {"40:" + ranges, "41 4 1 ", {}, {0x378}},  // another process
        {"4:" + ranges, "40 1 ", {}, {0x378}},     // not a prefix of a pid
        {":" + ranges, "40 1 ", {}, {0x378}},      // no pid
        {ranges, "40 1 ", {}, {0x378}},            // no pid either
        {"40:0x378-0x37F,junk,0x3F8-0x3FF", "40 ", {0x37F}, {0x3F8}},
        {"40:0x37F-0x378", "40 ", {}, {0x378, 0x37F}},
        {"40:0x378-0x10000", "40 ", {}, {0x378}},
        {"40/900:" + ranges, "41/950 40/900 1/1 ", {0x378}, {}},
        {"40/900:" + ranges, "41/990 40/980 1/1 ", {}, {0x378}}, // its pid given again later
    };
    // The start time is /proc/PID/stat's 22nd field, whatever the program's name holds.
    EXPECT_EQ(helper::processIdentity("40 (a) b (c) S 1 40 40 0 -1 4194560 96 0 0 0 0 0 0 0 "
                                      "20 0 1 0 900 2269184 270 18446744073709551615"),
              "40/900");
    EXPECT_EQ(helper::processIdentity("40 (cut"), "");
    for (const auto &row : rows) {
        for (const unsigned short port : row.open)
            EXPECT_TRUE(granted::covers(row.value, row.pids, port)) << row.value << " " << port;
        for (const unsigned short port : row.closed)
            EXPECT_FALSE(granted::covers(row.value, row.pids, port)) << row.value << " " << port;
    }
}

} // namespace
