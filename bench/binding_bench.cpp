// An Out32 then Inp32 pair through the program's binding, against the same
// pair called directly on the library this executable links to; and a whole
// self-test with the common loopback plug (bench/run fits it to the simulated port).
#include "PortIO.h"
#include "SelfTest.h"
#include "inpout32.h"

#include <benchmark/benchmark.h>

namespace {

void direct(benchmark::State &state)
{
    for (auto _ : state) {
        ::Out32(0x378, 0x55);
        benchmark::DoNotOptimize(::Inp32(0x378));
    }
}

void bound(benchmark::State &state)
{
    for (auto _ : state) {
        portio::Out32(0x378, 0x55);
        benchmark::DoNotOptimize(portio::Inp32(0x378));
    }
}

void selfTest(benchmark::State &state)
{
    selftest::Options options;
    options.wiring = selftest::commonPlug();
    for (auto _ : state)
        benchmark::DoNotOptimize(selftest::run(0x378, selftest::libraryAccess(), options));
}

BENCHMARK(direct);
BENCHMARK(bound);
BENCHMARK(selfTest);

} // namespace

int main(int argc, char **argv)
{
    portio::Out32(0x378, 0); // bind both entry points before timing
    portio::Inp32(0x378);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
