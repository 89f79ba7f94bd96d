#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

// The one sampler behind portpanel-io capture and the pins window's Record:
// samples go in as register values with their times, the electrical levels'
// changes come out as a value change dump (IEEE 1364) that waveform viewers open.
namespace capture {

// Data, status, control; a port that is not a parallel port uses the first.
using Registers = std::array<std::uint8_t, 3>;

// One 1-bit wire: the register and bit behind it, as the pin table gives them.
struct Wire {
    int number; // the pin (1 to 17), or the bit (0 to 7) of a single register
    std::string name;
    std::size_t reg;
    int bit;
    bool inverted;
};

// A parallel port's 17 pins, "p11_Busy"; one register's bits, "bit0" to "bit7".
std::vector<Wire> parallelWires();
std::vector<Wire> byteWires();

enum class Edge : std::uint8_t { Rise, Fall, Change };

struct Trigger {
    std::size_t wire; // an index into the wires
    Edge edge;
};

struct Stats {
    long long samples = 0;
    std::int64_t firstNs = 0;
    std::int64_t lastNs = 0;
    std::int64_t largestGapNs = 0;
};

// "1200 samples in 0.100 s (12000 samples/s), largest gap 85 us"
std::string statsText(const Stats &stats);

// The dump is written as it goes, so that a long capture keeps only what the
// trigger's window needs: take() what is ready, finish() once at the end.
class Recorder {
  public:
    // Times in nanoseconds, which the monotonic clock gives without a division;
    // the file is in microseconds. beforeNs: how much before the trigger's edge
    // is kept, in at most beforeBytes of changes (the oldest are dropped).
    explicit Recorder(std::vector<Wire> wires, std::optional<Trigger> trigger = std::nullopt,
                      std::int64_t beforeNs = 0, std::size_t beforeBytes = defaultBeforeBytes);

    static constexpr std::size_t defaultBeforeBytes = std::size_t{64} << 20;

    // ns: from any fixed origin of a monotonic clock. Inline, since most
    // samples change nothing and cost only this.
    void add(std::int64_t ns, const Registers &registers)
    {
        ns =
            ns > stats_.lastNs ? ns : stats_.lastNs; // the clock never goes back; nor does the file
        if (stats_.samples++ == 0)
            stats_.firstNs = ns;
        else if (ns - stats_.lastNs > stats_.largestGapNs)
            stats_.largestGapNs = ns - stats_.lastNs;
        stats_.lastNs = ns;
        // Byte by byte: a three-byte array's != may call memcmp.
        if (stats_.samples == 1 || registers[0] != registers_[0] || registers[1] != registers_[1] ||
            registers[2] != registers_[2])
            changed(ns, registers);
    }
    // Whether the dump has begun: at the first sample, or at the trigger's edge.
    [[nodiscard]] bool started() const { return edgeNs_.has_value(); }
    [[nodiscard]] std::int64_t startedAt() const { return edgeNs_.value_or(0); }
    // The time of the file's #0, once it has begun.
    [[nodiscard]] std::int64_t originAt() const { return originNs_.value_or(0); }
    // Whether changes before the edge were dropped to stay within beforeBytes.
    [[nodiscard]] bool cut() const { return cut_; }
    [[nodiscard]] const Stats &stats() const { return stats_; }

    // The text not taken yet: the header first, then the levels at #0 and
    // each change after it.
    std::string take();
    // Ends the wait for a trigger that never came: the file holds what was
    // kept before the last sample.
    void conclude();
    // The rest: the last sample's time and the comment's lines in a $comment.
    std::string finish(const std::vector<std::string> &comment);

  private:
    using Levels = std::uint32_t; // bit i: wire i's level
    struct Change {
        std::int64_t ns;
        Levels levels;
    };
    void changed(std::int64_t ns, const Registers &registers);
    [[nodiscard]] Levels levelsOf(const Registers &registers) const;
    [[nodiscard]] static bool isEdge(const Trigger &trigger, Levels before, Levels now);
    [[nodiscard]] std::int64_t originBefore(std::int64_t endNs) const;
    void begin(std::int64_t originNs);
    void write(const Change &change);

    std::vector<Wire> wires_;
    std::optional<Trigger> trigger_;
    std::int64_t beforeNs_;
    std::size_t mostKept_;
    bool cut_ = false;
    std::optional<std::int64_t> edgeNs_;
    std::optional<std::int64_t> originNs_; // the file's #0
    std::deque<Change> kept_; // before the start; the first holds the levels at the window's start
    Registers registers_{};   // the last sample's
    Levels levels_ = 0;       // the last written
    std::int64_t writtenUs_ = 0; // the last time written in the file
    std::string text_;
    Stats stats_;
};

} // namespace capture
