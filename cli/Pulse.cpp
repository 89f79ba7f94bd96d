#include "Commands.h"
#include "Interruptions.h"
#include "Output.h"

#include <chrono>
#include <cmath>

namespace cli {
namespace {

void printPulse(const Request &request, std::uint16_t port, std::uint8_t before, std::uint8_t held,
                double widthUs)
{
    if (!request.json)
        return printAccess(request, port, inByte(port), before);
    emit(JsonLine()
             .number("port", port)
             .number("value", inByte(port))
             .number("written", before)
             .number("pulse", held)
             .number("width_us", static_cast<double>(std::llround(widthUs)))
             .str());
}

} // namespace

// Writes the pulse's byte (the byte with one bit inverted, or --byte's),
// holds it, and puts the byte back whatever comes meanwhile. The width runs
// from the end of the first write to the end of the second, which starts at
// the time asked to within microseconds.
void pulse(const Request &request)
{
    using Clock = runtime::SteadyClock;
    const std::uint16_t port = request.ports.front();
    HeldInterruptions held;
    const std::uint8_t before = inByte(port);
    const auto pulsed =
        request.byte ? request.value : static_cast<std::uint8_t>(before ^ (1u << request.bit));
    // The wait's code runs once first, so that what a first run costs (lazy
    // binding, page faults, an emulator's translation) falls outside the pulse.
    held.holdUntil(Clock::now());
    outByte(port, pulsed);
    const auto start = Clock::now();
    const auto asked = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double, std::milli>(request.milliseconds));
    const bool interrupted = held.holdUntil(start + asked);
    outByte(port, before);
    const std::chrono::duration<double, std::micro> width = Clock::now() - start;
    if (!interrupted)
        printPulse(request, port, before, pulsed, width.count());
}

} // namespace cli
