#include "Capture.h"

#include "ParallelPins.h"
#include "Version.h"

#include <algorithm>
#include <cstdio>
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
std::string code(std::size_t wire) { return std::string(1, static_cast<char>('!' + wire)); }

// "1+\n": wire 10 is high. (Built piecewise: GCC 12 -O3 warns wrongly on "..." + std::string.)
std::string changeLine(bool level, std::size_t wire)
{
    std::string line(1, level ? '1' : '0');
    line += code(wire);
    line += '\n';
    return line;
}

std::string timeLine(std::int64_t us)
{
    std::string line = "#";
    line += std::to_string(us);
    line += '\n';
    return line;
}

} // namespace

std::vector<Wire> parallelWires()
{
    std::vector<Wire> wires;
    for (const pins::Pin &pin : pins::table)
        wires.push_back(
            {pin.number, wireName(pin), static_cast<std::size_t>(pin.reg), pin.bit, pin.inverted});
    return wires;
}

std::vector<Wire> byteWires()
{
    std::vector<Wire> wires;
    for (int bit = 0; bit < 8; ++bit)
        wires.push_back({bit, std::string("bit") += std::to_string(bit), 0, bit, false});
    return wires;
}

std::string statsText(const Stats &stats)
{
    const double seconds = static_cast<double>(stats.lastUs - stats.firstUs) / 1e6;
    const double rate = seconds > 0 ? static_cast<double>(stats.samples - 1) / seconds : 0;
    char text[160];
    std::snprintf(text, sizeof text, "%lld samples in %.3f s (%.0f samples/s), largest gap %lld us",
                  stats.samples, seconds, rate, static_cast<long long>(stats.largestGapUs));
    return text;
}

Recorder::Recorder(std::vector<Wire> wires, std::optional<Trigger> trigger, std::int64_t beforeUs)
    : wires_(std::move(wires)), trigger_(trigger), beforeUs_(beforeUs),
      text_("$version portpanel " PORTPANEL_VERSION " $end\n$timescale 1 us $end\n"
            "$scope module port $end\n")
{
    for (std::size_t i = 0; i < wires_.size(); ++i)
        text_ += "$var wire 1 " + code(i) + " " + wires_[i].name + " $end\n";
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

bool Recorder::isEdge(Levels before, Levels now) const
{
    const Levels bit = Levels{1} << trigger_->wire;
    if ((before & bit) == (now & bit))
        return false;
    return trigger_->edge == Edge::Change || ((now & bit) != 0) == (trigger_->edge == Edge::Rise);
}

void Recorder::add(std::int64_t us, const Registers &registers)
{
    us = std::max(us, stats_.lastUs); // a clock never goes back, and neither does the file
    if (stats_.samples++ == 0)
        stats_.firstUs = us;
    else
        stats_.largestGapUs = std::max(stats_.largestGapUs, us - stats_.lastUs);
    stats_.lastUs = us;
    const Change change{us, levelsOf(registers)};
    if (originUs_) {
        if (change.levels != levels_)
            write(change);
        return;
    }
    if (kept_.empty() || change.levels != kept_.back().levels) {
        const bool edge = trigger_ && !kept_.empty() && isEdge(kept_.back().levels, change.levels);
        kept_.push_back(change);
        if (!trigger_ || edge) {
            edgeUs_ = us;
            begin(trigger_ ? std::max(stats_.firstUs, us - beforeUs_) : us);
        }
    }
    // Before the edge only beforeUs_ is kept.
    while (kept_.size() > 1 && kept_[1].us <= us - beforeUs_)
        kept_.pop_front();
}

// The levels at originUs at #0, then what was kept after it.
void Recorder::begin(std::int64_t originUs)
{
    originUs_ = originUs;
    auto next = std::ranges::find_if(kept_, [&](const Change &c) { return c.us > originUs; });
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
    writtenUs_ = change.us - *originUs_;
    text_ += timeLine(writtenUs_);
    for (std::size_t i = 0; i < wires_.size(); ++i)
        if (((levels_ ^ change.levels) >> i) & 1)
            text_ += changeLine(((change.levels >> i) & 1) != 0, i);
    levels_ = change.levels;
}

std::string Recorder::take() { return std::exchange(text_, {}); }

std::string Recorder::finish(const std::vector<std::string> &comment)
{
    if (!originUs_ && !kept_.empty()) // no edge came: what was kept before the end
        begin(std::max(stats_.firstUs, stats_.lastUs - beforeUs_));
    if (originUs_ && stats_.lastUs - *originUs_ > writtenUs_)
        text_ += timeLine(stats_.lastUs - *originUs_);
    text_ += "$comment\n";
    for (const std::string &line : comment)
        text_ += "  " + line + "\n";
    text_ += "$end\n";
    return take();
}

} // namespace capture
