#pragma once

#include <cstdint>
#include <string>

// The parallel ports that the kernel manages, reached through its
// parallel-port driver (ppdev, /dev/parportN, group lp). Not thread-safe:
// the library calls it under its one lock.
namespace parallel {

// The port whose register block (base..base+7 and the ECP block, base+0x400
// where the kernel lists none) holds address; -1 when none does.
int portOf(std::uint16_t address);

// Whether the driver reaches that register: data, status or control.
bool driverReaches(int port, std::uint16_t address);

// What the register is, for words: "the ECP register 0x077A of parport0".
std::string describe(int port, std::uint16_t address);

// The port's device for words, "/dev/parport0".
std::string deviceName(int port);

enum class Claim : std::uint8_t { Held, Refused, NotOpened };

// Opens and claims that port once, and holds it until the process ends (the
// kernel releases it when the process closes the device). Refused at once
// when the port is not free (below), and when the claim fails or does not
// end within its bound; NotOpened when this user cannot open the device. The
// reason is in why, and is kept.
Claim claim(int port, std::string &why);

// Whether nobody holds the port now, portpanel included, and no other program
// has it open through ppdev (which may hold it exclusively): only then may it
// be reached around the driver. A port whose claim was refused stays taken.
// The holder in why when not.
bool free(int port, std::string &why);

// In a child after fork: the parent's claims stay the parent's. The child
// closes its copies and starts afresh.
void forgetAfterFork();

// False, with the failed driver call (or the refused write) in why.
bool write(int port, std::uint16_t address, std::uint8_t value, std::string &why);
bool read(int port, std::uint16_t address, std::uint8_t &value, std::string &why);

// The ports the kernel manages, for words: "parport0 at 0x0378, ...", or "none".
std::string managed();

// Any /dev/parportN this user may open.
bool anyOpenable();

// The kernel manages a parallel port but has no /dev/parportN for it.
bool driverNotLoaded();

} // namespace parallel
