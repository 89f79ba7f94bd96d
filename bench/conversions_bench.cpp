// The two text conversions on typical texts and on the longest they accept.
#include "Conversions.h"

#include <benchmark/benchmark.h>
#include <string>

namespace {

const std::string worstInteger = "\t   -0000000000000000000000000032768   \t";
const std::string worstReal = "  -0000000000255.00000000000000000000e+00000000000001  ";

void textToInteger(benchmark::State &state, const std::string &text)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(runtime::textToInteger(text));
}

void textToReal(benchmark::State &state, const std::string &text)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(runtime::textToReal(text));
}

BENCHMARK_CAPTURE(textToInteger, typical_888, std::string("888"));
BENCHMARK_CAPTURE(textToInteger, typical_hex, std::string("0x378"));
BENCHMARK_CAPTURE(textToInteger, worst, worstInteger);
BENCHMARK_CAPTURE(textToReal, typical_200, std::string("200"));
BENCHMARK_CAPTURE(textToReal, worst, worstReal);

} // namespace

BENCHMARK_MAIN();
