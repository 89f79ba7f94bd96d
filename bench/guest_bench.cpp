// Runs inside the emulated PC: an Out32/Inp32 pair through the program's
// binding and the hardware library, against inline outb/inb on the same port.
#include "PortIO.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <sys/io.h>

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

} // namespace

int main(int argc, char **argv)
{
    if (ioperm(port, 1, 1) != 0)
        return std::perror("ioperm"), 1;
    portio::Out32(port, 0); // bind both entry points before timing
    portio::Inp32(port);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
