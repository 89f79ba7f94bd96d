// The recorder as a table: samples with explicit times in, the dump's body
// out, for each kind of trigger and window.
#include "Capture.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

using capture::Edge;
using capture::Trigger;

namespace {

struct Sample {
    std::int64_t ns;
    std::uint8_t data; // bit 0 is wire a ('!'), bit 1 wire b ('"')
};

struct Row {
    const char *what;
    std::optional<Trigger> trigger;
    std::int64_t beforeUs;
    std::vector<Sample> samples;
    const char *body; // from the levels at #0 to the last sample's time, a line a word
    std::size_t beforeBytes = capture::Recorder::defaultBeforeBytes;
};

constexpr std::int64_t us = 1000;
constexpr Trigger onA(Edge edge) { return {0, edge}; }

// Between the definitions and the comment, lines joined by spaces.
std::string body(const std::string &text)
{
    const std::string from = "$enddefinitions $end\n";
    const std::size_t start = text.find(from) + from.size();
    std::string part = text.substr(start, text.find("$comment") - start);
    std::ranges::replace(part, '\n', ' ');
    return part;
}

TEST(Recorder, TimesInFileOut)
{
    const Row rows[] = {
        {"no trigger: from the first sample",
         std::nullopt,
         0,
         {{5 * us, 0}, {7 * us, 1}, {9 * us, 1}},
         "#0 $dumpvars 0! 0\" $end #2 1! #4 "},
        {"two changes within a microsecond share its time",
         std::nullopt,
         0,
         {{0, 0}, {1000, 1}, {1500, 3}, {2500, 2}, {3000, 2}},
         "#0 $dumpvars 0! 0\" $end #1 1! 1\" #2 0! #3 "},
        {"rise: b's rise and a's fall before it start nothing; the levels before the edge at #0",
         onA(Edge::Rise),
         0,
         {{0, 1}, {2 * us, 0}, {5 * us, 2}, {10 * us, 3}, {12 * us, 2}, {20 * us, 2}},
         "#0 $dumpvars 0! 1\" $end #1 1! #3 0! #11 "},
        {"fall: a's rise starts nothing",
         onA(Edge::Fall),
         0,
         {{0, 0}, {3 * us, 1}, {7 * us, 0}, {9 * us, 0}},
         "#0 $dumpvars 1! 0\" $end #1 0! #3 "},
        {"change: a's first change, a rise",
         onA(Edge::Change),
         0,
         {{0, 0}, {3 * us, 1}, {6 * us, 0}, {8 * us, 0}},
         "#0 $dumpvars 0! 0\" $end #1 1! #4 0! #6 "},
        {"change: a's first change, a fall",
         onA(Edge::Change),
         0,
         {{0, 1}, {4 * us, 0}, {6 * us, 1}},
         "#0 $dumpvars 1! 0\" $end #1 0! #3 1! #4 "},
        {"--before keeps 3 us before the edge, with the levels at its start",
         onA(Edge::Rise),
         3,
         {{0, 0}, {2 * us, 2}, {4 * us, 0}, {9 * us, 1}, {10 * us, 1}},
         "#0 $dumpvars 0! 0\" $end #3 1! #4 "},
        {"an edge nearer the start than --before: from the first sample",
         onA(Edge::Rise),
         10,
         {{0, 0}, {2 * us, 2}, {4 * us, 3}, {5 * us, 3}},
         "#0 $dumpvars 0! 0\" $end #2 1\" #4 1! #5 "},
        {"a trigger that never comes: the last --before of the capture",
         onA(Edge::Rise),
         4,
         {{0, 1}, {2 * us, 3}, {10 * us, 1}, {12 * us, 1}},
         "#0 $dumpvars 1! 1\" $end #2 0\" #4 "},
        {"--before's changes beyond its memory: from the oldest change kept",
         onA(Edge::Rise),
         100,
         {{0, 0}, {1 * us, 2}, {2 * us, 0}, {3 * us, 2}, {5 * us, 3}, {6 * us, 3}},
         "#0 $dumpvars 0! 1\" $end #2 1! #3 ",
         0},
    };
    const std::vector<capture::Wire> wires = {{0, "a", 0, 0, false}, {1, "b", 0, 1, false}};
    for (const Row &row : rows) {
        capture::Recorder recorder(wires, row.trigger, row.beforeUs * us, row.beforeBytes);
        for (const Sample &sample : row.samples)
            recorder.add(sample.ns, {sample.data, 0, 0});
        const std::string text = recorder.take() + recorder.finish({"end"});
        EXPECT_EQ(body(text), row.body) << row.what;
        EXPECT_NE(text.find("\n$timescale 1 us $end\n"), std::string::npos) << row.what;
    }
}

} // namespace
