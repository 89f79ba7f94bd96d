// read, write, set, clear and toggle.
#include "Commands.h"
#include "Output.h"
#include "PortIO.h"

namespace cli {

std::uint8_t inByte(std::uint16_t port)
{
    return static_cast<std::uint8_t>(portio::Inp32(static_cast<std::int16_t>(port)) & 0xFF);
}

void outByte(std::uint16_t port, std::uint8_t value)
{
    portio::Out32(static_cast<std::int16_t>(port), value);
}

void printAccess(const Request &request, std::uint16_t port, std::uint8_t value,
                 std::optional<std::uint8_t> written)
{
    if (request.json) {
        JsonLine line;
        line.number("port", port).number("value", value);
        if (written)
            line.number("written", *written);
        emit(line.str());
        return;
    }
    std::string line = accessText(port, value);
    // Many registers read otherwise than written, by design: shown, not an error.
    if (written && *written != value) {
        char note[24];
        std::snprintf(note, sizeof note, " (wrote 0x%02X)", static_cast<unsigned>(*written));
        line += note;
    }
    emit(line);
}

void readPorts(const Request &request)
{
    for (const std::uint16_t port : request.ports)
        printAccess(request, port, inByte(port));
}

void writePort(const Request &request)
{
    const std::uint16_t port = request.ports.front();
    outByte(port, request.value);
    printAccess(request, port, inByte(port), request.value);
}

void changeBit(const Request &request)
{
    const std::uint16_t port = request.ports.front();
    const auto mask = static_cast<std::uint8_t>(1u << request.bit);
    const std::uint8_t before = inByte(port);
    std::uint8_t after = before ^ mask;
    if (request.verb == Verb::Set)
        after = before | mask;
    else if (request.verb == Verb::Clear)
        after = before & static_cast<std::uint8_t>(~mask);
    outByte(port, after);
    printAccess(request, port, inByte(port), after);
}

} // namespace cli
