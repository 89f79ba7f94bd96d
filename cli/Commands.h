#pragma once

#include "Arguments.h"

#include <cstdint>
#include <optional>

// The commands, each over the port layer the window uses. A failure throws
// runtime::RuntimeError with the window's number and words for it.
namespace cli {

std::uint8_t inByte(std::uint16_t port);
void outByte(std::uint16_t port, std::uint8_t value);
// One access's line; written shows what was written when it differs.
void printAccess(const Request &request, std::uint16_t port, std::uint8_t value,
                 std::optional<std::uint8_t> written = std::nullopt);

void readPorts(const Request &request);
void writePort(const Request &request);
void changeBit(const Request &request);
void pulse(const Request &request);
void watch(const Request &request);
void bench(const Request &request);
void capture(const Request &request);
void listPorts(const Request &request);
// Exits 1 through FaultFound when a fault was found.
void test(const Request &request);

// The self-test found a fault: its report is out, the status is 1.
struct FaultFound {};

} // namespace cli
