#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The parallel port's self-test behind portpanel-io test and the pins
// window's Test: the read-back of every output, whether the data lines can be
// inputs, the modes and interrupt, and a loopback plug's pins, each faulty
// line named. Data and control are put back as they were when it ends.
namespace selftest {

// A loopback plug: each pair joins an output pin to an input pin.
struct Wiring {
    std::vector<std::pair<int, int>> pairs;     // output, input
    [[nodiscard]] std::string text() const;     // "1-13,2-15,10-16,11-17,12-14"
    [[nodiscard]] int partnerOf(int pin) const; // 0 where the pin is not wired
};

// The common plug: 1-13, 2-15, 10-16, 11-17, 12-14.
Wiring commonPlug();
// "2-15,3-13,4-12": each pair an output and an input, in either order, no
// pin twice. Throws runtime::RuntimeError with the words for a bad list.
Wiring parseWiring(std::string_view text);

enum class Verdict : std::uint8_t { NotTested, Works, StuckHigh, StuckLow, Shorted, NoPlug };

struct PinVerdict {
    Verdict verdict = Verdict::NotTested;
    int with = 0;    // the other pin of a short; else the plug's partner, or 0
    std::string how; // the read-back's words: "reads low when driven high"
};

struct Fault {
    int pin;
    std::string fault;  // "stuck high (or open)", "shorted to pin 15", "reads low when driven high"
    std::string advice; // what to check
};

struct Report {
    std::uint16_t port = 0;
    std::string data, control;           // the read-back: "pass", "fault" or "not tested"
    std::string direction = "not known"; // whether the data lines can be inputs: yes, no
    std::string directionWhy;
    std::string modes = "not known";
    std::string irq = "not known"; // a number, "none" or "not known"
    std::optional<long long> interrupts;
    int ackPulses = 0;         // how often /Ack rose while the test ran
    bool interruptsOn = false; // control bit 4: the port raises its interrupt
    std::optional<Wiring> wiring;
    bool plug = true;                  // something followed: false when no input followed at all
    std::array<PinVerdict, 17> pins{}; // pin 1 first
    std::vector<Fault> faults;
    bool interrupted = false; // stopped by the user before the end; the port was put back

    [[nodiscard]] bool passed() const { return faults.empty() && !interrupted; }
    // "0x0378: all 17 lines work", or the faults, each with what to check.
    [[nodiscard]] std::string summary() const;
    [[nodiscard]] std::string interruptText() const;
};

// "works", "stuck high", "stuck low", "shorted", "no plug", "not tested".
const char *verdictName(Verdict verdict);

// The port's registers as the port library reaches them.
struct Access {
    std::function<std::uint8_t(std::uint16_t)> in;
    std::function<void(std::uint16_t, std::uint8_t)> out;
};
Access libraryAccess();

struct Options {
    std::optional<Wiring> wiring;
    std::string systemRoot = "/"; // where /proc is
    // Waits so many milliseconds; true when the user asked to stop. Called
    // between the steps; null: sleeps, never stopped.
    std::function<bool(double)> pause;
};

// Throws runtime::RuntimeError where the library refuses the port; the port
// is put back first when the refusal came halfway.
Report run(std::uint16_t base, const Access &port, const Options &options);

// What the kernel and the port's ECP register say of its modes and interrupt.
struct KernelPort {
    std::string modes; // empty where not known
    std::string irq;   // empty where not known
    std::string name;  // "parport0": its line in /proc/interrupts
    bool ecpListed = false;
    bool known = false; // the kernel lists the port
};
KernelPort kernelPort(const std::string &systemRoot, std::uint16_t base);
// The port's interrupts so far, summed over the processors; none where not known.
std::optional<long long> interruptCount(const std::string &systemRoot, const std::string &name);
// "ECP register 0x35: PS/2 (bidirectional)", or why there is none.
std::string ecpModeText(std::uint8_t ecr);

} // namespace selftest
