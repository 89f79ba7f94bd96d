#include "Commands.h"
#include "Output.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace cli {
namespace {

using Clock = std::chrono::steady_clock;

void printChange(const Request &request, std::uint16_t port, std::uint8_t value, long long ms)
{
    if (request.json)
        emit(JsonLine()
                 .number("port", port)
                 .number("value", value)
                 .number("time", static_cast<double>(ms))
                 .str());
    else
        emit(accessText(port, value) + " at " + std::to_string(ms) + " ms");
}

} // namespace

// The first value, then each change with its time since the first, polled
// every period without drifting, until count changes or an interruption.
void watch(const Request &request)
{
    const std::uint16_t port = request.ports.front();
    const auto start = Clock::now();
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double, std::milli>(request.milliseconds));
    std::uint8_t value = inByte(port);
    printChange(request, port, value, 0);
    auto next = start;
    for (int changes = 0; request.count == 0 || changes < request.count;) {
        next = std::max(next + period, Clock::now()); // no burst after a stall
        std::this_thread::sleep_until(next);
        checkReader();
        const std::uint8_t read = inByte(port);
        if (read == value)
            continue;
        value = read;
        ++changes;
        const auto elapsed = Clock::now() - start;
        printChange(request, port, value,
                    std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
    }
}

} // namespace cli
