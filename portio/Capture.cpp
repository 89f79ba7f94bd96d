#include "Capture.h"

#include "ParallelPins.h"
#include "Version.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <utility>

namespace capture {
namespace {

// A flat name every reader takes: "/Select-in" on pin 17 is "p17_nSelect_in".
std::string wireName(const pins::Pin &pin)
{
    std::string name = "p";
    name += std::to_string(pin.number);
    name += '_';
    for (const char *c = pin.name; *c; ++c)
        name += *c == '/' ? 'n' : (*c == '-' ? '_' : *c);
    return name;
}

// VCD's short codes: printable characters from '!' on.
std::string code(std::size_t wire) { return {static_cast<char>('!' + wire)}; }

// "1+\n": wire 10 is high. (Built piecewise: GCC 12 -O3 warns wrongly on "..." + std::string.)
std::string changeLine(bool level, std::size_t wire)
{
    std::string line(1, level ? '1' : '0');
    line += code(wire);
    line += '\n';
    return line;
}

std::string timeLine(std::int64_t microseconds)
{
    std::string line = "#";
    line += std::to_string(microseconds);
    line += '\n';
    return line;
}

} // namespace

std::vector<Wire> parallelWires()
{
    std::vector<Wire> wires;
    std::ranges::transform(pins::table, std::back_inserter(wires), [](const pins::Pin &pin) {
        return Wire{pin.number, wireName(pin), static_cast<std::size_t>(pin.reg), pin.bit,
                    pin.inverted};
    });
    return wires;
}

std::vector<Wire> byteWires()
{
    std::vector<Wire> wires;
    wires.reserve(8);
    for (int bit = 0; bit < 8; ++bit)
        wires.push_back({bit, std::string("bit") += std::to_string(bit), 0, bit, false});
    return wires;
}

std::string statsText(const Stats &stats)
{
    const double seconds = static_cast<double>(stats.lastNs - stats.firstNs) / 1e9;
    const double rate = seconds > 0 ? static_cast<double>(stats.samples - 1) / seconds : 0;
    char text[160];
    std::snprintf(text, sizeof text, "%lld samples in %.3f s (%.0f samples/s), largest gap %lld us",
                  stats.samples, seconds, rate, static_cast<long long>(stats.largestGapNs / 1000));
    return text;
}

Recorder::Recorder(std::vector<Wire> wires, std::optional<Trigger> trigger, std::int64_t beforeNs,
                   std::size_t beforeBytes)
    : wires_(std::move(wires)), trigger_(trigger), beforeNs_(beforeNs),
      mostKept_(std::max<std::size_t>(beforeBytes / sizeof(Change), 2)),
      text_(std::string("$version portpanel ") + PORTPANEL_VERSION +
            " $end\n$timescale 1 us $end\n$scope module port $end\n")
{
    for (std::size_t i = 0; i < wires_.size(); ++i)
        text_.append("$var wire 1 ")
            .append(code(i))
            .append(" ")
            .append(wires_[i].name)
            .append(" $end\n");
    text_ += "$upscope $end\n$enddefinitions $end\n";
}

Recorder::Levels Recorder::levelsOf(const Registers &registers) const
{
    Levels levels = 0;
    for (std::size_t i = 0; i < wires_.size(); ++i) {
        const Wire &wire = wires_[i];
        const bool set = ((registers.at(wire.reg) >> wire.bit) & 1) != 0;
        levels |= static_cast<Levels>(set != wire.inverted) << i;
    }
    return levels;
}

bool Recorder::isEdge(const Trigger &trigger, Levels before, Levels now)
{
    const Levels bit = Levels{1} << trigger.wire;
    if ((before & bit) == (now & bit))
        return false;
    return trigger.edge == Edge::Change || ((now & bit) != 0) == (trigger.edge == Edge::Rise);
}

void Recorder::changed(std::int64_t ns, const Registers &registers)
{
    registers_ = registers;
    const Change change{ns, levelsOf(registers)};
    if (originNs_) {
        if (change.levels != levels_)
            write(change);
        return;
    }
    if (kept_.empty() || change.levels != kept_.back().levels) {
        const bool edge =
            trigger_ && !kept_.empty() && isEdge(*trigger_, kept_.back().levels, change.levels);
        kept_.push_back(change);
        if (kept_.size() > mostKept_) {
            kept_.pop_front();
            cut_ = true;
        }
        if (!trigger_ || edge) {
            edgeNs_ = ns;
            begin(trigger_ ? originBefore(ns) : ns);
        }
    }
    // Before the edge only beforeNs_ is kept.
    while (kept_.size() > 1 && kept_[1].ns <= ns - beforeNs_)
        kept_.pop_front();
}

// The file's #0: beforeNs_ before endNs, or the first time whose levels are
// still known, but at least a microsecond before endNs, so that the levels
// before a trigger's edge are at #0 and the edge follows.
std::int64_t Recorder::originBefore(std::int64_t endNs) const
{
    const std::int64_t known = cut_ ? kept_.front().ns : stats_.firstNs;
    constexpr std::int64_t oneMicrosecond = 1000;
    return std::min(std::max(known, endNs - beforeNs_), endNs - oneMicrosecond);
}

// The levels at originNs at #0, then what was kept after it.
void Recorder::begin(std::int64_t originNs)
{
    originNs_ = originNs;
    writtenUs_ = 0;
    auto next = std::ranges::find_if(kept_, [&](const Change &c) { return c.ns > originNs; });
    levels_ = (next == kept_.begin() ? next : std::prev(next))->levels;
    text_ += "#0\n$dumpvars\n";
    for (std::size_t i = 0; i < wires_.size(); ++i)
        text_ += changeLine(((levels_ >> i) & 1) != 0, i);
    text_ += "$end\n";
    for (; next != kept_.end(); ++next)
        write(*next);
    kept_.clear();
}

void Recorder::write(const Change &change)
{
    // Changes within one microsecond share its time: the file's times only go forward.
    if (const std::int64_t us = (change.ns - originNs_.value_or(change.ns)) / 1000;
        us > writtenUs_) {
        writtenUs_ = us;
        text_ += timeLine(us);
    }
    for (std::size_t i = 0; i < wires_.size(); ++i)
        if (((levels_ ^ change.levels) >> i) & 1)
            text_ += changeLine(((change.levels >> i) & 1) != 0, i);
    levels_ = change.levels;
}

std::string Recorder::take() { return std::exchange(text_, {}); }

void Recorder::conclude()
{
    if (!originNs_ && !kept_.empty())
        begin(originBefore(stats_.lastNs));
}

std::string Recorder::finish(const std::vector<std::string> &comment)
{
    conclude();
    // Always an end time after the last change, so that viewers show the last levels.
    if (originNs_)
        text_ += timeLine(std::max((stats_.lastNs - *originNs_) / 1000, writtenUs_ + 1));
    text_ += "$comment\n";
    for (const std::string &line : comment)
        text_ += "  " + line + "\n";
    text_ += "$end\n";
    return take();
}

} // namespace capture
