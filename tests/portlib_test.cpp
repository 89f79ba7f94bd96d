// The hardware library as other programs load it, on a machine without port
// access: its own sources over a stand-in parallel-port driver (the ioctl
// below, with the kernel's files in a tree of the test's own) and a stand-in
// helper. The library decides routes once per process, so each case runs in
// a child of its own and reports what it saw as text.
#include "Policy.h"
#include "SystemTree.h"
#include "inpout32.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// The driver as ppdev behaves: a claim waits for the holder and ends with
// EINTR when any signal is handled meanwhile.
struct Driver {
    int claimWaitMs = 0; // how long the holder keeps the port; -1: for good
    int claimError = 0;  // ENXIO: someone holds it exclusively
    unsigned modes = PARPORT_MODE_PCSPP | PARPORT_MODE_TRISTATE;
    std::atomic<int> claims = 0;
    unsigned char data = 0, control = 0;
} driver;

bool isDevice(int fd)
{
    char target[256] = {};
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    return readlink(link.c_str(), target, sizeof target - 1) > 0 &&
           std::string(target).find("/dev/parport") != std::string::npos;
}

void setActive(const char *holder)
{
    std::ofstream("proc/sys/dev/parport/parport0/devices/active") << holder << "\n";
}

int claim()
{
    ++driver.claims;
    if (driver.claimError)
        return errno = driver.claimError, -1;
    static const auto released =
        Clock::now() +
        std::chrono::milliseconds(driver.claimWaitMs < 0 ? 10'000 : driver.claimWaitMs);
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(released - Clock::now());
    const long left = std::max<long>(0, ns.count());
    const timespec wait{left / 1'000'000'000, left % 1'000'000'000};
    if ((ns.count() > 0 && ppoll(nullptr, 0, &wait, nullptr) < 0) || driver.claimWaitMs < 0)
        return errno = EINTR, -1;
    setActive("ppdev0");
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
    if (!isDevice(fd))
        return static_cast<int>(syscall(SYS_ioctl, fd, request, arg));
    const auto byte = [arg] { return *static_cast<unsigned char *>(arg); };
    switch (request) {
    case PPCLAIM:
        return claim();
    case PPRELEASE:
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

std::atomic<int> alarms = 0;
void countAlarm(int) { ++alarms; }

// A host with its own SIGALRM handler (no SA_RESTART) and a timer every ms.
struct HostAlarm {
    explicit HostAlarm(int everyMs)
    {
        struct sigaction host = {};
        host.sa_handler = countAlarm;
        sigaction(SIGALRM, &host, nullptr);
        const itimerval timer{{0, everyMs * 1000}, {0, everyMs * 1000}};
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

std::string inChild(const Case &test)
{
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return "pipe failed";
    const pid_t child = fork();
    if (child == 0) {
        char root[] = "/tmp/portlib-test.XXXXXX";
        if (!mkdtemp(root) || chdir(root) != 0)
            _exit(2);
        setenv("PORTPANEL_HELPER", STANDIN_HELPER, 1);
        const std::string seen = test.run();
        (void)!write(pipeEnds[1], seen.data(), seen.size());
        std::filesystem::remove_all(root);
        _exit(0);
    }
    close(pipeEnds[1]);
    std::string seen;
    char chunk[512];
    pollfd ready{pipeEnds[0], POLLIN, 0};
    ssize_t n = 1;
    while (n > 0 && poll(&ready, 1, 20'000) == 1)
        if ((n = read(pipeEnds[0], chunk, sizeof chunk)) > 0)
            seen.append(chunk, static_cast<std::size_t>(n));
    close(pipeEnds[0]);
    if (n > 0) // still open after 20 s
        kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    return seen + (n > 0 ? " (hung for 20 s)" : WIFEXITED(status) ? "" : " (ended by signal)");
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
    HostAlarm host(5);
    const std::string seen = access(0x378);
    const int during = alarms;
    usleep(30'000);
    return seen + "; host alarms during " + (during > 0 ? "yes" : "no") + ", after " +
           (alarms > during ? "yes" : "no") + "; handler " +
           (HostAlarm::handlerKept() ? "kept" : "lost");
}

std::string timed(const std::function<std::string()> &call, long boundMs)
{
    const auto start = Clock::now();
    const std::string seen = call();
    return seen + (msSince(start) < boundMs ? "; in bound" : "; too slow");
}

std::string claimWithoutTimer()
{
    makeTree("none");
    driver.claimWaitMs = -1;
    const rlimit none{0, 0};
    setrlimit(RLIMIT_SIGPENDING, &none);
    return timed([] { return access(0x378); }, 2000);
}

std::string heldPort()
{
    makeTree("ppdev3");
    driver.claimWaitMs = -1;
    const std::string seen = timed([] { return access(0x378); }, 100);
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
    HostAlarm host(1);
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
    const std::string seen = timed([] { return access(static_cast<short>(0xFFFF)); }, 3000);
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
    usleep(50'000);
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

const Case cases[] = {
    {"two threads through the helper", twoThreads, {"crossed 0"}},
    {"host alarm during a claim",
     hostAlarmDuringClaim,
     {"0x00; host alarms during yes, after yes; handler kept"}},
    {"claim with no timer to bound it", claimWithoutTimer, {"refused", "timer", "in bound"}},
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
    {"port known, ppdev not loaded", withoutPpdev, {"refused", "modprobe ppdev"}},
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
    if (row.file) {
        std::ofstream(root / "etc/portpanel/ports") << row.file;
        chmod((root / "etc/portpanel/ports").c_str(), row.mode);
    }
    return helper::readPolicy({root, "/etc/portpanel/ports", row.ours ? getuid() : getuid() + 1},
                              open);
}

const PolicyCase policies[] = {
    {nullptr,
     0644,
     0755,
     true,
     nullptr,
     {0x378, 0x37F, 0x77A, 0x278, 0x3BC, 0x3F8, 0x2EF, 0xDC00, 0xDC07, 0xE002, 0xC050, 0xC057},
     {0xCF8, 0xCF9, 0xCFC, 0x70, 0x64, 0x00, 0x20, 0x40, 0x3C0, 0x3F7, 0xDC08, 0xC000, 0xFE00}},
    {"0xE010-0xE01F # a card\n\n  768\n\t0Xdc08 \n",
     0644,
     0755,
     true,
     nullptr,
     {0xE010, 0xE01F, 0x300, 0xDC08},
     {0xE020, 0x301, 0xCF8}},
    {"all\n", 0644, 0755, true, nullptr, {0xCF8, 0x64, 0x00, 0xFFFF}, {}},
    {"# c\n0x300\n0xCF8-\n", 0644, 0755, true, "ports line 3: \"0xCF8-\"", {}, {}},
    {"0x10000\n", 0644, 0755, true, "ports line 1", {}, {}},
    {"0x300 0x301\n", 0644, 0755, true, "ports line 1", {}, {}},
    {"0xD000-0xC000\n", 0644, 0755, true, "ports line 1", {}, {}},
    {"0x30O\n", 0644, 0755, true, "ports line 1", {}, {}},
    {"everything\n", 0644, 0755, true, "is not a port or a range", {}, {}},
    {"0x300\n", 0664, 0755, true, "its group or others may write it (mode 0664)", {}, {}},
    {"0x300\n", 0646, 0755, true, "may write it", {}, {}},
    {"0x300\n", 0644, 0755, false, "is not trusted: it belongs to uid", {}, {}},
    {"0x300\n", 0644, 0757, true, "portpanel is not trusted: others may write it", {}, {}},
    {"0x300\n", 0644, 0775, true, nullptr, {0x300}, {}},
};

TEST(HelperPolicy, OpensWhatTheMachineAndTheAdministratorAllow)
{
    for (const PolicyCase &row : policies) {
        char root[] = "/tmp/policy-test.XXXXXX";
        ASSERT_TRUE(mkdtemp(root));
        helper::PortSet open;
        const std::string refusal = readPolicyIn(root, row, open);
        const std::string file = row.file ? row.file : "(no file)";
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

} // namespace
