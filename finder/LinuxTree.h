#pragma once

#include "Advice.h"
#include "LinuxPorts.h"
#include "Policy.h"

#include <string>
#include <vector>

namespace finder::onlinux {

// A parallel port the kernel knows, from /proc/sys/dev/parport/parportN.
struct Parport {
    int number = 0;
    unsigned base = 0; // 0: a USB adapter, whose registers are not ports
    unsigned ecp = 0;  // 0: no ECP block listed
    std::string modes, irq;
    std::string active; // devices/active: "none", a holder, or empty when unreadable
};

std::vector<Parport> readParports(const std::string &root);

// The register block of a port: eight (four at 0x3BC, where the display
// adapter's follow), then the ECP block of three.
std::vector<IoRange> registers(const Parport &port);

// Whether one of the ranges holds address.
bool holds(const std::vector<IoRange> &ranges, unsigned address);

// What one port gets: a route, or a refusal with what grants it. A port
// that the helper's policy leaves closed is named at the start of its run.
struct Decision {
    std::string words;
    bool policyGap = false;
    std::string tail;
    bool operator==(const Decision &) const = default;
};

// The route this user gets to each of a port's ranges, in words.
class Routes {
  public:
    Routes(const System &system, const std::vector<Parport> &ports);
    [[nodiscard]] std::string describe(const std::vector<IoRange> &ranges) const;

  private:
    [[nodiscard]] Decision decide(std::uint16_t port) const;
    struct Driver {
        bool reaches = false;       // the driver reaches the register
        bool deviceMissing = false; // but its /dev/parportN does not exist
    };
    [[nodiscard]] Decision refuse(Driver driver, const std::string &driverWhy,
                                  bool policyGap) const;
    [[nodiscard]] bool lockedDown() const;
    const System &system_;
    const std::vector<Parport> &ports_;
    advice::Helper helper_ = advice::Helper::NotRun;
    std::string helperWhy_; // why the helper does not serve at all
    helper::PortSet open_;  // what it serves
};

// The contents of a small file of the kernel's, without its last newline;
// empty when it cannot be read.
std::string readText(const std::string &path);

} // namespace finder::onlinux
