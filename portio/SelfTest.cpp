// The self-test's steps, in the order they run: read-back, direction, modes,
// loopback and the interrupt count, then data and control put back.
#include "SelfTest.h"

#include "ParallelPins.h"
#include "PortIO.h"
#include "RuntimeError.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdio>
#include <thread>

namespace selftest {
namespace {

using pins::Register;
constexpr std::uint8_t directionBit = 0x20;

const pins::Pin &pinOf(int number) { return pins::table.at(static_cast<std::size_t>(number - 1)); }

// The control bits the port inverts, as the pin table has them.
constexpr std::uint8_t controlInversions = [] {
    std::uint8_t mask = 0;
    for (const pins::Pin &pin : pins::table)
        if (pin.reg == Register::Control && pin.inverted)
            mask = static_cast<std::uint8_t>(mask | 1u << pin.bit);
    return mask;
}();

// One pattern of levels driven on a register's lines and the levels read back.
struct Reading {
    std::uint8_t driven, read;
};

// What one bit's read-back says of its line. A bit that reads another line's
// level wherever it fails is shorted to it.
PinVerdict judgeBit(const std::vector<Reading> &readings, int bit, int width, int (*pinOfBit)(int))
{
    bool lowWhenHigh = false, highWhenLow = false, everHigh = false, everLow = false;
    unsigned others = ((1u << width) - 1) & ~(1u << bit);
    for (const auto &[driven, read] : readings) {
        const bool d = (driven >> bit & 1) != 0, r = (read >> bit & 1) != 0;
        everHigh = everHigh || r;
        everLow = everLow || !r;
        if (d == r)
            continue;
        (d ? lowWhenHigh : highWhenLow) = true;
        others &= r ? driven : static_cast<std::uint8_t>(~driven);
    }
    if (!lowWhenHigh && !highWhenLow)
        return {Verdict::Works, 0, {}};
    PinVerdict verdict{lowWhenHigh ? Verdict::StuckLow : Verdict::StuckHigh, 0, {}};
    verdict.how = lowWhenHigh && highWhenLow ? "reads low when driven high and high when driven low"
                  : lowWhenHigh              ? "reads low when driven high"
                                             : "reads high when driven low";
    if (everHigh && everLow && others != 0) {
        verdict.verdict = Verdict::Shorted;
        verdict.with = pinOfBit(std::countr_zero(others));
    }
    return verdict;
}

int dataPin(int bit) { return bit + 2; }
int controlPin(int bit)
{
    const auto pin = std::ranges::find_if(pins::table, [bit](const pins::Pin &candidate) {
        return candidate.reg == Register::Control && candidate.bit == bit;
    });
    return pin == pins::table.end() ? 0 : pin->number;
}

// Driving a loopback's outputs: the one toggled, or none for the base levels.
struct Step {
    int toggled;
    bool base;
};

class Tester {
  public:
    Tester(std::uint16_t base, const Access &port, const Options &options)
        : port_(port), options_(options)
    {
        report_.port = base;
        report_.wiring = options.wiring;
    }

    Report run()
    {
        kernel_ = kernelPort(options_.systemRoot, report_.port);
        data0_ = in(Register::Data);
        control0_ = in(Register::Control);
        // The test's control: the interrupt bit as it was, the data lines outputs.
        rest_ = static_cast<std::uint8_t>(control0_ & 0x10);
        report_.interruptsOn = rest_ != 0;
        try {
            steps();
        } catch (const runtime::RuntimeError &) {
            restoreQuietly();
            throw;
        }
        restore();
        collectFaults();
        return report_;
    }

  private:
    std::uint8_t in(Register reg)
    {
        return port_.in(static_cast<std::uint16_t>(report_.port + static_cast<int>(reg)));
    }
    void out(Register reg, std::uint8_t value)
    {
        port_.out(static_cast<std::uint16_t>(report_.port + static_cast<int>(reg)), value);
    }
    // Whether the user has asked to stop; once asked, every later step is skipped.
    bool stopped(double milliseconds = 0)
    {
        if (!report_.interrupted && options_.pause)
            report_.interrupted = options_.pause(milliseconds);
        else if (!options_.pause && milliseconds > 0)
            std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(milliseconds));
        return report_.interrupted;
    }

    void steps()
    {
        const auto counted = interruptCount(options_.systemRoot, kernel_.name);
        if (!stopped())
            readBackData();
        if (!stopped())
            readBackControl();
        if (!stopped())
            testDirection();
        if (!stopped())
            readModes();
        if (!stopped() && report_.wiring)
            loopback(*report_.wiring);
        if (counted && !stopped(20)) // time for the last interrupt to be counted
            if (const auto now = interruptCount(options_.systemRoot, kernel_.name))
                report_.interrupts = *now - *counted;
    }

    void readBackData()
    {
        std::vector<std::uint8_t> patterns{0x00, 0xFF, 0x55, 0xAA};
        for (int bit = 0; bit < 8; ++bit) {
            patterns.push_back(static_cast<std::uint8_t>(1u << bit));
            patterns.push_back(static_cast<std::uint8_t>(~(1u << bit)));
        }
        out(Register::Control, static_cast<std::uint8_t>(rest_ | (control0_ & 0x0F)));
        std::vector<Reading> readings;
        for (const std::uint8_t pattern : patterns) {
            out(Register::Data, pattern);
            readings.push_back({pattern, in(Register::Data)});
        }
        for (int bit = 0; bit < 8; ++bit)
            setReadBack(dataPin(bit), judgeBit(readings, bit, 8, dataPin));
        report_.data = passes(2, 9) ? "pass" : "fault";
    }

    // The four outputs, as levels: the port inverts three of them.
    void readBackControl()
    {
        std::vector<std::uint8_t> patterns{0x0, 0xF};
        for (int bit = 0; bit < 4; ++bit) {
            patterns.push_back(static_cast<std::uint8_t>(1u << bit));
            patterns.push_back(static_cast<std::uint8_t>(0xF & ~(1u << bit)));
        }
        std::vector<Reading> readings;
        for (const std::uint8_t levels : patterns) {
            out(Register::Control, static_cast<std::uint8_t>(rest_ | (levels ^ controlInversions)));
            readings.push_back({levels, static_cast<std::uint8_t>(
                                            (in(Register::Control) ^ controlInversions) & 0xF)});
        }
        for (int bit = 0; bit < 4; ++bit)
            setReadBack(controlPin(bit), judgeBit(readings, bit, 4, controlPin));
        report_.control =
            std::ranges::all_of(std::array{1, 14, 16, 17}, [this](int pin) { return works(pin); })
                ? "pass"
                : "fault";
    }

    void setReadBack(int pin, PinVerdict verdict) { verdictOf(pin) = std::move(verdict); }
    PinVerdict &verdictOf(int pin) { return report_.pins.at(static_cast<std::size_t>(pin - 1)); }
    bool works(int pin) { return verdictOf(pin).verdict == Verdict::Works; }
    bool passes(int first, int last)
    {
        for (int pin = first; pin <= last; ++pin)
            if (!works(pin))
                return false;
        return true;
    }

    // With control bit 5 set, a port whose data lines can be inputs reads the
    // lines, no longer what was written. The driver refuses the bit on a port
    // it knows has none, and refuses the port after: its word is taken instead.
    void testDirection()
    {
        if (kernel_.known && kernel_.modes.find("TRISTATE") == std::string::npos) {
            report_.direction = "no";
            report_.directionWhy = "the kernel lists no TRISTATE mode for the port";
            return;
        }
        if (report_.data != "pass") {
            report_.directionWhy = "the data lines do not read back";
            return;
        }
        out(Register::Data, 0x55);
        out(Register::Control, static_cast<std::uint8_t>(rest_ | directionBit));
        const bool taken = (in(Register::Control)&directionBit) != 0;
        const std::uint8_t first = in(Register::Data);
        out(Register::Data, 0xAA);
        const std::uint8_t second = in(Register::Data);
        out(Register::Control, rest_);
        const bool echoes = first == 0x55 && second == 0xAA;
        report_.direction = taken && !echoes ? "yes" : "no";
        char why[96];
        std::snprintf(why, sizeof why,
                      !taken   ? "control bit 5 does not stay set"
                      : echoes ? "with control bit 5 set the data register still reads what "
                                 "is written"
                               : "with control bit 5 set the data lines read 0x%02X",
                      static_cast<unsigned>(second));
        report_.directionWhy = why;
    }

    void readModes()
    {
        std::string ecp;
        // Where the kernel knows the port, only the ECP block it lists is read.
        if (!kernel_.known || kernel_.ecpListed) {
            try {
                ecp = ecpModeText(port_.in(static_cast<std::uint16_t>(report_.port + 0x402)));
            } catch (const runtime::RuntimeError &) {
                ecp = "ECP register not reachable on this route";
            }
        }
        if (kernel_.known)
            report_.modes = (kernel_.modes.empty() ? "not known" : kernel_.modes) + " (kernel)";
        if (!ecp.empty())
            report_.modes = kernel_.known ? report_.modes + "; " + ecp : ecp;
#ifdef _WIN32
        report_.irq = "not tested on Windows";
#else
        report_.irq = kernel_.irq.empty() ? "not known" : kernel_.irq;
#endif
    }

    // The levels of a step: the wired outputs at the base level but the one
    // toggled; the others as they were when the test began.
    void drive(const Wiring &wiring, Step step)
    {
        std::uint8_t data = data0_;
        auto control = static_cast<std::uint8_t>((control0_ & 0x0F) ^ controlInversions);
        for (const auto &[output, input] : wiring.pairs) {
            const bool level = output == step.toggled ? !step.base : step.base;
            const pins::Pin &pin = pinOf(output);
            auto &levels = pin.reg == Register::Data ? data : control;
            levels = static_cast<std::uint8_t>(level ? levels | 1u << pin.bit
                                                     : levels & ~(1u << pin.bit));
        }
        out(Register::Data, data);
        out(Register::Control, static_cast<std::uint8_t>(rest_ | (control ^ controlInversions)));
    }

    void loopback(const Wiring &wiring)
    {
        std::vector<Step> sequence;
        for (const bool base : {false, true}) {
            sequence.push_back({0, base});
            for (const auto &pair : wiring.pairs)
                sequence.push_back({pair.first, base}); // cppcheck-suppress useStlAlgorithm
        }
        std::vector<std::uint8_t> status;
        for (const Step &step : sequence) {
            if (stopped())
                return;
            drive(wiring, step);
            status.push_back(in(Register::Status));
            const bool ack = pins::level(pinOf(10), status.back());
            report_.ackPulses += status.size() > 1 && ack && !lastAck_;
            lastAck_ = ack;
        }
        judgeLoopback(wiring, sequence, status);
    }

    void judgeLoopback(const Wiring &wiring, const std::vector<Step> &steps,
                       const std::vector<std::uint8_t> &status)
    {
        report_.plug = false;
        for (const auto &[output, input] : wiring.pairs) {
            PinVerdict verdict = judgeInput(wiring, output, input, steps, status);
            report_.plug = report_.plug || follows(output, input, steps, status);
            // An output that fails its read-back explains its input.
            if (verdictOf(output).verdict == Verdict::NotTested)
                verdictOf(output) = {Verdict::Works, input, {}};
            else if (!works(output) && verdict.verdict != Verdict::Works)
                verdict = {Verdict::NotTested, output, {}};
            verdictOf(output).with = verdictOf(output).with ? verdictOf(output).with : input;
            verdictOf(input) = verdict;
        }
        if (report_.plug)
            return;
        for (const auto &[output, input] : wiring.pairs)
            verdictOf(input) = {Verdict::NoPlug, output, {}};
    }

    // Whether the input took its output's level each time that output alone moved.
    static bool follows(int output, int input, const std::vector<Step> &steps,
                        const std::vector<std::uint8_t> &status)
    {
        for (std::size_t i = 0; i < steps.size(); ++i)
            if (steps[i].toggled == output && pins::level(pinOf(input), status[i]) == steps[i].base)
                return false;
        return true;
    }

    // An input must follow its output through every step, and move with no other.
    static PinVerdict judgeInput(const Wiring &wiring, int output, int input,
                                 const std::vector<Step> &steps,
                                 const std::vector<std::uint8_t> &status)
    {
        bool everHigh = false, everLow = false, failed = false, readLow = false;
        int shortedWith = 0;
        for (std::size_t i = 0; i < steps.size(); ++i) {
            const bool level = pins::level(pinOf(input), status[i]);
            const bool wanted = steps[i].toggled == output ? !steps[i].base : steps[i].base;
            everHigh = everHigh || level;
            everLow = everLow || !level;
            if (level == wanted)
                continue;
            failed = true;
            readLow = readLow || !level;
            if (steps[i].toggled != 0 && steps[i].toggled != output && !shortedWith)
                shortedWith = wiring.partnerOf(steps[i].toggled);
        }
        if (!failed)
            return {Verdict::Works, output, {}};
        if (!everLow)
            return {Verdict::StuckHigh, output, {}};
        if (!everHigh)
            return {Verdict::StuckLow, output, {}};
        if (shortedWith)
            return {Verdict::Shorted, shortedWith, {}};
        return {readLow ? Verdict::StuckLow : Verdict::StuckHigh, output, {}};
    }

    void restore()
    {
        out(Register::Data, data0_);
        out(Register::Control, control0_);
    }
    void restoreQuietly()
    {
        try {
            restore();
        } catch (const runtime::RuntimeError &) { // NOLINT(bugprone-empty-catch): the refusal
                                                  // already thrown says it
        }
    }

    void collectFaults();

    const Access &port_;
    const Options &options_;
    Report report_;
    KernelPort kernel_;
    std::uint8_t data0_ = 0, control0_ = 0, rest_ = 0;
    bool lastAck_ = true;
};

std::string pinText(int pin) { return "pin " + std::to_string(pin) + " (" + pinOf(pin).name + ")"; }

void Tester::collectFaults()
{
    const Wiring plug = report_.wiring.value_or(Wiring{});
    for (int pin = 1; pin <= 17; ++pin) {
        const PinVerdict &v = verdictOf(pin);
        const std::string wire =
            std::to_string(std::min(pin, v.with)) + "-" + std::to_string(std::max(pin, v.with));
        switch (v.verdict) {
        case Verdict::NotTested:
        case Verdict::Works:
            break;
        case Verdict::NoPlug:
            report_.faults.push_back({pin, "no plug", "fit the plug wired " + plug.text()});
            break;
        case Verdict::Shorted:
            report_.faults.push_back({pin, "shorted to pin " + std::to_string(v.with),
                                      "look for pins " + wire.substr(0, wire.find('-')) + " and " +
                                          wire.substr(wire.find('-') + 1) +
                                          " touching in the plug, cable or port"});
            break;
        default:
            if (!v.how.empty()) // the read-back's
                report_.faults.push_back({pin, v.how,
                                          "unplug the cable and test again: if it stays, the "
                                          "port's " +
                                              std::string(pinOf(pin).name) + " line is faulty"});
            else
                report_.faults.push_back(
                    {pin, v.verdict == Verdict::StuckHigh ? "stuck high (or open)" : "stuck low",
                     "check the plug's " + wire + " wire or the port's " + pinOf(pin).name +
                         " line"});
        }
    }
}

} // namespace

const char *verdictName(Verdict verdict)
{
    constexpr const char *names[] = {"not tested", "works",   "stuck high",
                                     "stuck low",  "shorted", "no plug"};
    return names[static_cast<std::size_t>(verdict)];
}

Access libraryAccess()
{
    return {[](std::uint16_t port) {
                return static_cast<std::uint8_t>(portio::Inp32(static_cast<std::int16_t>(port)) &
                                                 0xFF);
            },
            [](std::uint16_t port, std::uint8_t value) {
                portio::Out32(static_cast<std::int16_t>(port), value);
            }};
}

Report run(std::uint16_t base, const Access &port, const Options &options)
{
    return Tester(base, port, options).run();
}

std::string Report::summary() const
{
    char name[16];
    std::snprintf(name, sizeof name, "0x%04X: ", static_cast<unsigned>(port));
    if (interrupted)
        return name + std::string("stopped before the end; data and control put back");
    if (wiring && !plug) // only a plug's test finds none
        return name + std::string("no plug: no input followed its output; fit the plug wired ") +
               wiring->text() + " and test again";
    if (!faults.empty()) {
        std::string text =
            name + std::to_string(faults.size()) + (faults.size() == 1 ? " fault: " : " faults: ");
        for (const Fault &fault : faults)
            text += (&fault == &faults.front() ? "" : "; ") + pinText(fault.pin) + " " +
                    fault.fault + ": " + fault.advice;
        return text;
    }
    const auto tested = std::ranges::count_if(
        pins, [](const PinVerdict &pin) { return pin.verdict == Verdict::Works; });
    if (tested == static_cast<long>(pins.size()))
        return name + std::string("all 17 lines work");
    return name + std::to_string(tested) + " lines work; " + std::to_string(pins.size() - tested) +
           " not tested: the inputs need a loopback plug (--loopback or --wiring)";
}

std::string Report::interruptText() const
{
    if (irq == "none" || irq == "not known" || irq.starts_with("not tested"))
        return irq;
    if (!interrupts)
        return irq + ": interrupts not counted (not in /proc/interrupts)";
    const std::string acks = " /Ack rose " + std::to_string(ackPulses) + " times";
    if (*interrupts > 0)
        return irq + ": " + std::to_string(*interrupts) + " interrupts came while" +
               (ackPulses ? acks : " the port pulsed /Ack on its own");
    if (!interruptsOn)
        return irq + ": none came: the port's interrupts are off (control bit 4), as they are "
                     "unless the driver holds the port";
    return irq + ": none came" +
           (ackPulses ? ", though" + acks + ": the port's interrupt may be off in the firmware"
                      : "; /Ack did not rise (a plug with pin 10 wired makes it)");
}

} // namespace selftest
