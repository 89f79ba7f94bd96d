// Runs inside the emulated PC: an Out32/Inp32 pair through the program's
// binding and the hardware library, against inline outb/inb on the same port.
// As root the library takes ioperm; with --lp or --portpanel the pair runs as
// a user in that group (ppdev, or the helper), and inline keeps root's ioperm,
// which survives the change of user. With --run it was started by
// portpanel-run, which gave it its ports. With --held another program holds
// parport0, and a user in both groups times how soon a first access is refused.
// GUEST_BENCH_SCRATCH names a second port (the UART's scratch register) timed
// the same way. --startup times `portpanel-io read 0x378` started directly and
// through portpanel-run, as root.
#include "PortIO.h"
#include "RuntimeError.h"
#include "SelfTest.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <linux/ppdev.h>
#include <sys/io.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr unsigned short port = 0x378;

void inlineInstructions(benchmark::State &state, unsigned short at)
{
    for (auto _ : state) {
        outb(0x55, at);
        benchmark::DoNotOptimize(inb(at));
    }
}

void bound(benchmark::State &state, unsigned short at)
{
    for (auto _ : state) {
        portio::Out32(static_cast<short>(at), 0x55);
        benchmark::DoNotOptimize(portio::Inp32(static_cast<short>(at)));
    }
}

// One program's start to its end, its output discarded.
void started(benchmark::State &state, std::vector<const char *> command)
{
    command.push_back(nullptr);
    for (auto _ : state) {
        const pid_t child = fork();
        if (child == 0) {
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, STDOUT_FILENO);
            execvp(command[0], const_cast<char **>(command.data()));
            _exit(127);
        }
        int status = 0;
        if (waitpid(child, &status, 0) != child || status != 0)
            return state.SkipWithError(command[0]);
    }
}

// A whole self-test of the port with the common plug's steps, as
// portpanel-io test 0x378 --loopback runs it, its interrupt count included.
void selfTest(benchmark::State &state)
{
    selftest::Options options;
    options.wiring = selftest::commonPlug();
    for (auto _ : state)
        benchmark::DoNotOptimize(selftest::run(port, selftest::libraryAccess(), options));
}

void registerPairs(unsigned short scratch)
{
    benchmark::RegisterBenchmark("selfTest", selfTest)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("inlineInstructions", inlineInstructions, port);
    benchmark::RegisterBenchmark("bound", bound, port);
    if (scratch == 0)
        return;
    benchmark::RegisterBenchmark("inlineScratch", inlineInstructions, scratch);
    benchmark::RegisterBenchmark("boundScratch", bound, scratch);
}

void registerStartups()
{
    benchmark::RegisterBenchmark("startupDirect", started,
                                 std::vector<const char *>{"portpanel-io", "read", "0x378"})
        ->UseRealTime();
    benchmark::RegisterBenchmark(
        "startupLaunched", started,
        std::vector<const char *>{"portpanel-run", "portpanel-io", "read", "0x378"})
        ->UseRealTime();
}

// Each round is a fresh process whose first access finds the port held.
void heldPortRefused(benchmark::State &state)
{
    for (auto _ : state) {
        int ends[2];
        double seconds = -1;
        if (pipe(ends) != 0)
            return state.SkipWithError("pipe");
        const pid_t child = fork();
        if (child == 0) {
            const auto start = std::chrono::steady_clock::now();
            try {
                portio::Inp32(port);
            } catch (const runtime::RuntimeError &) { // the refusal, error 5
                seconds =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            }
            _exit(write(ends[1], &seconds, sizeof seconds) == sizeof seconds ? 0 : 1);
        }
        (void)!read(ends[0], &seconds, sizeof seconds);
        waitpid(child, nullptr, 0);
        close(ends[0]), close(ends[1]);
        if (seconds < 0)
            return state.SkipWithError("the held port was not refused");
        state.SetIterationTime(seconds);
    }
}

// Another program that holds parport0 until `release` is closed (the parent
// is no longer root by then, so it could not kill it).
pid_t holdPort(int &release)
{
    int ends[2];
    if (pipe(ends) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        close(ends[1]);
        const int fd = open("/dev/parport0", O_RDWR);
        char byte = 0;
        if (fd < 0 || ioctl(fd, PPCLAIM) != 0)
            _exit(1);
        (void)!read(ends[0], &byte, 1);
        _exit(0);
    }
    close(ends[0]);
    release = ends[1];
    usleep(200'000); // the claim is made
    return pid;
}

// Becomes user 1000 in the groups the option names (lp 7, portpanel 990).
bool becomeUser(const char *option)
{
    const gid_t lp = 7, portpanel = 990, both[] = {lp, portpanel};
    const bool held = std::strcmp(option, "--held") == 0;
    const gid_t *groups = held ? both : std::strcmp(option, "--lp") == 0 ? &lp : &portpanel;
    return setgroups(held ? 2 : 1, groups) == 0 && setresgid(1000, 1000, 1000) == 0 &&
           setresuid(1000, 1000, 1000) == 0;
}

} // namespace

int main(int argc, char **argv)
{
    const char *option = argc > 1 ? argv[1] : "";
    const char *scratchName = std::getenv("GUEST_BENCH_SCRATCH");
    const auto scratch =
        static_cast<unsigned short>(scratchName ? std::strtoul(scratchName, nullptr, 0) : 0);
    // Under portpanel-run the permission came with the process.
    if (std::strcmp(option, "--run") != 0 &&
        (ioperm(port, 1, 1) != 0 || (scratch && ioperm(scratch, 1, 1) != 0)))
        return std::perror("ioperm"), 1;
    const bool held = std::strcmp(option, "--held") == 0;
    const bool startup = std::strcmp(option, "--startup") == 0;
    int release = -1;
    const pid_t holder = held ? holdPort(release) : -1;
    const bool asUser =
        held || std::strcmp(option, "--lp") == 0 || std::strcmp(option, "--portpanel") == 0;
    if (asUser && !becomeUser(option))
        return std::perror("becoming a user"), 1;
    if (asUser || startup || std::strcmp(option, "--run") == 0) {
        argv[1] = argv[0];
        ++argv;
        --argc;
    }
    // Bind both entry points before timing; while held, on a port not of parport0.
    portio::Out32(held ? 0x2F8 : port, 0);
    portio::Inp32(held ? 0x2F8 : port);
    if (startup)
        registerStartups();
    else if (!held)
        registerPairs(std::strcmp(option, "--lp") == 0 ? 0 : scratch); // the driver reaches no UART
    if (held)
        benchmark::RegisterBenchmark("heldPortRefused", heldPortRefused)
            ->UseManualTime()
            ->Iterations(20)
            ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (holder > 0)
        close(release), waitpid(holder, nullptr, 0);
}
