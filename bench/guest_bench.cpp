// Runs inside the emulated PC: an Out32/Inp32 pair through the program's
// binding and the hardware library, against inline outb/inb on the same port.
// As root the library takes ioperm; with --lp or --portpanel the pair runs as
// a user in that group (ppdev, or the helper), and inline keeps root's ioperm,
// which survives the change of user.
#include "PortIO.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstring>
#include <grp.h>
#include <sys/io.h>
#include <unistd.h>

namespace {

constexpr unsigned short port = 0x378;

void inlineInstructions(benchmark::State &state)
{
    for (auto _ : state) {
        outb(0x55, port);
        benchmark::DoNotOptimize(inb(port));
    }
}

void bound(benchmark::State &state)
{
    for (auto _ : state) {
        portio::Out32(port, 0x55);
        benchmark::DoNotOptimize(portio::Inp32(port));
    }
}

BENCHMARK(inlineInstructions);
BENCHMARK(bound);

// Becomes user 1000 in the group the option names (lp 7, portpanel 990).
bool becomeUser(const char *option)
{
    const gid_t group = std::strcmp(option, "--lp") == 0 ? 7 : 990;
    return setgroups(1, &group) == 0 && setresgid(1000, 1000, 1000) == 0 &&
           setresuid(1000, 1000, 1000) == 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (ioperm(port, 1, 1) != 0)
        return std::perror("ioperm"), 1;
    if (argc > 1 && argv[1][0] == '-' && argv[1][1] == '-' &&
        (std::strcmp(argv[1], "--lp") == 0 || std::strcmp(argv[1], "--portpanel") == 0)) {
        if (!becomeUser(argv[1]))
            return std::perror("becoming a user"), 1;
        argv[1] = argv[0];
        ++argv;
        --argc;
    }
    portio::Out32(port, 0); // bind both entry points before timing
    portio::Inp32(port);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
