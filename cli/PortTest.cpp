// test: the parallel port's self-test, one line per part and a summary, or
// one JSON object.
#include "Commands.h"
#include "Interruptions.h"
#include "Output.h"
#include "ParallelPins.h"
#include "SelfTest.h"

namespace cli {
namespace {

using selftest::Report;
using selftest::Verdict;
using selftest::Wiring;

std::string readBackLine(const Report &report)
{
    std::string faults;
    for (const selftest::Fault &fault : report.faults)
        if (const auto &pin = report.pins.at(static_cast<std::size_t>(fault.pin - 1));
            pins::table.at(static_cast<std::size_t>(fault.pin - 1)).reg != pins::Register::Status &&
            (!pin.how.empty()))
            faults.append(faults.empty() ? "" : "; ")
                .append("pin ")
                .append(std::to_string(fault.pin))
                .append(" (")
                .append(pins::table.at(static_cast<std::size_t>(fault.pin - 1)).name)
                .append(") ")
                .append(fault.fault);
    return "read-back: data " + report.data + ", control " + report.control +
           (faults.empty() ? "" : ": " + faults);
}

std::string loopbackLine(const Report &report, const Wiring &wiring)
{
    const std::string head = "loopback " + wiring.text() + ": ";
    if (!report.plug)
        return head + "no plug (no input followed its output)";
    int wired = 0, working = 0;
    for (const auto &[output, input] : wiring.pairs)
        for (const int pin : {output, input}) {
            ++wired;
            working += report.pins.at(static_cast<std::size_t>(pin - 1)).verdict == Verdict::Works;
        }
    return head + std::to_string(working) + " of " + std::to_string(wired) + " pins work";
}

void printText(const Report &report)
{
    emit(readBackLine(report));
    emit("direction: " + report.direction +
         (report.directionWhy.empty() ? "" : " (" + report.directionWhy + ")"));
    emit("modes: " + report.modes);
    emit("irq: " + report.interruptText());
    if (report.wiring)
        emit(loopbackLine(report, *report.wiring));
    emit(report.summary());
}

std::string loopbackJson(const Report &report)
{
    if (!report.wiring)
        return "null";
    std::string pinsJson = "[";
    for (int pin = 1; pin <= 17; ++pin) {
        const selftest::PinVerdict &v = report.pins.at(static_cast<std::size_t>(pin - 1));
        if (!report.wiring->partnerOf(pin))
            continue;
        pinsJson.append(pinsJson.size() > 1 ? "," : "")
            .append(JsonLine()
                        .number("pin", pin)
                        .text("name", pins::table.at(static_cast<std::size_t>(pin - 1)).name)
                        .text("verdict", selftest::verdictName(v.verdict))
                        .number("with", v.with)
                        .str());
    }
    return JsonLine().text("wiring", report.wiring->text()).raw("pins", pinsJson + "]").str();
}

std::string faultsJson(const Report &report)
{
    std::string json = "[";
    for (const selftest::Fault &fault : report.faults)
        json.append(json.size() > 1 ? "," : "")
            .append(JsonLine()
                        .number("pin", fault.pin)
                        .text("name", pins::table.at(static_cast<std::size_t>(fault.pin - 1)).name)
                        .text("fault", fault.fault)
                        .text("advice", fault.advice)
                        .str());
    return json + "]";
}

void printJson(const Report &report)
{
    JsonLine line;
    line.number("port", report.port)
        .raw("readback", JsonLine().text("data", report.data).text("control", report.control).str())
        .text("direction", report.direction)
        .text("modes", report.modes)
        .text("irq", report.irq);
    if (report.interrupts)
        line.number("interrupts", static_cast<double>(*report.interrupts));
    emit(line.raw("loopback", loopbackJson(report))
             .raw("faults", faultsJson(report))
             .text("summary", report.summary())
             .text("result", report.passed() ? "pass" : "fault")
             .str());
}

} // namespace

// Ctrl+C or SIGTERM stops the test between two steps: the port is put back,
// then the signal acts.
void test(const Request &request)
{
    HeldInterruptions held;
    selftest::Options options;
    options.wiring = request.wiring;
    options.pause = [&held](double milliseconds) { return held.hold(milliseconds); };
    const Report report = selftest::run(request.ports.front(), selftest::libraryAccess(), options);
    if (report.interrupted)
        return;
    if (request.json)
        printJson(report);
    else
        printText(report);
    if (!report.passed())
        throw FaultFound{};
}

} // namespace cli
