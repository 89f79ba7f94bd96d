#include "Commands.h"
#include "LibraryFile.h"
#include "Output.h"
#include "PortIO.h"

#include <algorithm>
#include <chrono>
#include <vector>

namespace cli {
namespace {

using Clock = std::chrono::steady_clock;

#ifdef _WIN32
constexpr const char *microseconds = "us"; // a console's code page may lack the micro sign
#else
constexpr const char *microseconds = "\xC2\xB5s";
#endif

// Accesses per timed sample: enough that the clock's own cost does not count.
constexpr int batch = 64;

struct Figures {
    double medianMicroseconds = 0;
    long long accesses = 0;
    double seconds = 0;
};

// One sample: batch reads (each written back with --write); the cost of one access.
double sample(std::uint16_t port, bool writeBack)
{
    const auto start = Clock::now();
    for (int i = 0; i < batch; ++i) {
        const std::uint8_t value = inByte(port);
        if (writeBack)
            outByte(port, value);
    }
    const std::chrono::duration<double, std::micro> spent = Clock::now() - start;
    return spent.count() / (writeBack ? 2 * batch : batch);
}

Figures measure(const Request &request, std::uint16_t port)
{
    std::vector<double> samples;
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration_cast<Clock::duration>(
                                 std::chrono::duration<double>(request.seconds));
    do
        samples.push_back(sample(port, request.writeBack));
    while (Clock::now() < end);
    const std::chrono::duration<double> spent = Clock::now() - start;
    const auto middle = samples.begin() + static_cast<std::ptrdiff_t>(samples.size() / 2);
    std::nth_element(samples.begin(), middle, samples.end());
    const long long perSample = request.writeBack ? 2 * batch : batch;
    return {*middle, static_cast<long long>(samples.size()) * perSample, spent.count()};
}

} // namespace

// Reads (and writes back what it read, so the port keeps its state) for the
// given time; prints the route, the median cost of one access and the rate.
void bench(const Request &request)
{
    const std::uint16_t port = request.ports.front();
    inByte(port); // binds the library and meets a refusal before the clock runs
    const std::string route = routeOf(port);
    const Figures figures = measure(request, port);
    const double rate = static_cast<double>(figures.accesses) / figures.seconds;
    const std::string library = boundLibraryFile();
    const char *kind = request.writeBack ? "read+write" : "read";
    if (request.json) {
        emit(JsonLine()
                 .number("port", port)
                 .text("route", route)
                 .text("library", library)
                 .text("access", kind)
                 .number("median_us", figures.medianMicroseconds)
                 .number("accesses_per_second", static_cast<double>(static_cast<long long>(rate)))
                 .number("accesses", static_cast<double>(figures.accesses))
                 .number("seconds", figures.seconds)
                 .str());
        return;
    }
    char line[160];
    std::snprintf(line, sizeof line, "0x%04X %s: median %.3f %s per access, %.0f accesses/s",
                  static_cast<unsigned>(port), kind, figures.medianMicroseconds, microseconds,
                  rate);
    emit(line);
    emit("route: " + route);
    emit("library: " + library);
}

} // namespace cli
