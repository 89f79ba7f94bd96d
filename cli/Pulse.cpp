#include "Commands.h"
#include "Interruptions.h"

namespace cli {

// Inverts one bit, holds it, and puts the byte back whatever comes meanwhile.
void pulse(const Request &request)
{
    const std::uint16_t port = request.ports.front();
    const auto mask = static_cast<std::uint8_t>(1u << request.bit);
    HeldInterruptions held;
    const std::uint8_t before = inByte(port);
    outByte(port, before ^ mask);
    const bool interrupted = held.hold(request.milliseconds);
    outByte(port, before);
    if (!interrupted)
        printAccess(request, port, inByte(port), before);
}

} // namespace cli
