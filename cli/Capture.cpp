#include "Capture.h"
#include "Commands.h"
#include "Interruptions.h"
#include "LibraryFile.h"
#include "Output.h"
#include "OutputFile.h"
#include "PortFinder.h"
#include "PortIO.h"
#include "RuntimeError.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>

namespace cli {
namespace {

using Clock = std::chrono::steady_clock;

// The bases of the PC's own parallel ports, and any the system lists as one.
bool isParallelPort(std::uint16_t port)
{
    if (port == 0x378 || port == 0x278 || port == 0x3BC)
        return true;
    try {
        const auto found = finder::findPorts();
        return std::ranges::any_of(found, [&](const finder::FoundPort &p) {
            return (p.kind == "parport" || p.name.starts_with("LPT")) && !p.ranges.empty() &&
                   p.ranges.front().first == port;
        });
    } catch (const std::exception &) {
        return false;
    }
}

// Where the dump goes: standard output as every command prints (a reader
// that leaves ends the run quietly), or the one writer of users' files.
class Destination {
  public:
    explicit Destination(const std::string &path)
    {
        if (!path.empty() && !runtime::OutputFile::isStandardOutput(path))
            file_.emplace(path);
    }

    void write(const std::string &text)
    {
        if (text.empty())
            return;
        if (!file_)
            return emit(text.substr(0, text.size() - 1)); // each piece ends with a newline
        file_->write(text);
    }

    void complete()
    {
        if (file_)
            file_->commit();
    }

  private:
    std::optional<runtime::OutputFile> file_;
};

// The port layer's own inline reads: nothing between the sampler and the library.
std::uint8_t registerAt(std::uint16_t port, int offset)
{
    return static_cast<std::uint8_t>(portio::Inp32(static_cast<std::int16_t>(port + offset)) &
                                     0xFF);
}

capture::Registers readRegisters(std::uint16_t port, bool parallel)
{
    if (!parallel)
        return {registerAt(port, 0), 0, 0};
    return {registerAt(port, 0), registerAt(port, 1), registerAt(port, 2)};
}

std::optional<capture::Trigger> triggerOf(const Request &request,
                                          const std::vector<capture::Wire> &wires)
{
    if (request.triggerPin < 0)
        return std::nullopt;
    const auto wire = std::ranges::find_if(
        wires, [&](const capture::Wire &w) { return w.number == request.triggerPin; });
    if (wire == wires.end())
        throw UsageError(std::string("--trigger ") += std::to_string(request.triggerPin) +=
                         ": a parallel port's pins are 1 to 17, another port's bits 0 to 7",
                         usageText);
    return capture::Trigger{static_cast<std::size_t>(wire - wires.begin()), request.triggerEdge};
}

bool same(const capture::Registers &a, const capture::Registers &b)
{
    return a[0] == b[0] && a[1] == b[1] && a[2] == b[2]; // an array's == may call memcmp
}

// Samples until the time after the start is up or an interruption comes,
// writing the dump as it grows, at most every millisecond without --every.
// Each sample costs its reads and a comparison. The clock, which costs about
// as much as a read, is read at each change, so that its time is the
// sample's, and every fourth sample: the largest gap between two readings
// bounds every gap between the samples in it.
void sample(const Request &request, std::uint16_t port, bool parallel, capture::Recorder &recorder,
            Destination &destination, HeldInterruptions &held)
{
    const auto origin = Clock::now();
    const auto since = [&] {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - origin).count();
    };
    const auto lengthNs = static_cast<std::int64_t>(request.seconds * 1e9);
    const auto periodNs = static_cast<std::int64_t>(request.microseconds * 1000);
    constexpr std::int64_t oneMillisecond = 1000000;
    constexpr int clockEvery = 4;
    std::int64_t now = since();
    capture::Registers last{};
    for (std::int64_t next = 0, unclocked = 0;;) {
        const capture::Registers registers = readRegisters(port, parallel);
        if (!same(registers, last) || ++unclocked == clockEvery || periodNs != 0) {
            now = since();
            unclocked = 0;
            last = registers;
        }
        recorder.add(now, registers);
        if (request.timed && recorder.started() && now - recorder.startedAt() >= lengthNs)
            return;
        if (periodNs == 0 && now < next)
            continue;
        destination.write(recorder.take());
        next = periodNs == 0 ? now + oneMillisecond : std::max(next + periodNs, now);
        const double wait = periodNs == 0 ? 0 : static_cast<double>(next - since()) / 1e6;
        if (held.hold(std::max(wait, 0.0)))
            return;
    }
}

std::string seconds(std::int64_t ns)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(ns) / 1e9);
    return text;
}

// Call after conclude(), which places a trigger that never came.
std::string triggerLine(const Request &request, const capture::Recorder &recorder)
{
    if (request.triggerPin < 0)
        return "no trigger";
    constexpr const char *edges[] = {"rise", "fall", "change"};
    std::string line = std::string("trigger ") += std::to_string(request.triggerPin);
    line.append(":").append(edges[static_cast<int>(request.triggerEdge)]);
    const std::string cut = recorder.cut() ? " (--before-memory held the rest)" : "";
    if (!recorder.started())
        return line + " never came: the dump holds the last " +
               seconds(recorder.stats().lastNs - recorder.originAt()) + cut;
    const std::int64_t before = recorder.startedAt() - recorder.originAt();
    return line.append(" at #").append(std::to_string(before / 1000)) + ", with " +
           seconds(before) + " kept before it" + cut;
}

} // namespace

// Samples a parallel port's three registers, or another port's one, into a
// value change dump; ends at --seconds after the start or trigger, or on an
// interruption, with a complete file either way. Ctrl+C, the documented end of
// a capture without --seconds, then ends it with status 0.
void capture(const Request &request)
{
    const std::uint16_t port = request.ports.front();
    const bool parallel = isParallelPort(port);
    auto wires = parallel ? capture::parallelWires() : capture::byteWires();
    capture::Recorder recorder(wires, triggerOf(request, wires),
                               static_cast<std::int64_t>(request.before * 1e6),
                               static_cast<std::size_t>(request.beforeMebibytes * (1 << 20)));
    Destination destination(request.output); // a path that cannot be written fails here
    HeldInterruptions held;                  // an interruption acts once the file is complete
    sample(request, port, parallel, recorder, destination, held);
    char head[64];
    std::snprintf(head, sizeof head, "capture of 0x%04X, %d register%s a sample",
                  static_cast<unsigned>(port), parallel ? 3 : 1, parallel ? "s" : "");
    std::string text = recorder.take();
    recorder.conclude();
    const std::vector<std::string> lines = {head, capture::statsText(recorder.stats()),
                                            triggerLine(request, recorder),
                                            "route: " + routeOf(port)};
    destination.write(text + recorder.take() + recorder.finish(lines));
    destination.complete();
    for (const std::string &line : lines)
        std::fprintf(stderr, "portpanel-io: %s\n", line.c_str());
    if (!request.timed && held.interruptedByUser())
        held.dismiss();
}

} // namespace cli
