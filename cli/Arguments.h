#pragma once

#include "Capture.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// What the command line asks for, read with the window's own conversions.
namespace cli {

enum class Verb {
    Help,
    Version,
    Ports,
    Read,
    Write,
    Set,
    Clear,
    Toggle,
    Pulse,
    Watch,
    Bench,
    Capture
};

struct Request {
    Verb verb = Verb::Help;
    std::vector<std::uint16_t> ports;
    std::uint8_t value = 0;   // write
    unsigned bit = 0;         // set, clear, toggle, pulse
    double milliseconds = 10; // pulse: the hold; watch: the polling period
    int count = 0;            // watch: changes before it ends; 0 until interrupted
    double seconds = 1;       // bench; capture with timed
    bool timed = false;       // capture: --seconds given, else until interrupted
    double microseconds = 0;  // capture --every: 0 is as fast as the route allows
    int triggerPin = -1;      // capture --trigger: a pin, or a bit of another port
    capture::Edge triggerEdge = capture::Edge::Change;
    double before = 0;           // capture --before, milliseconds
    double beforeMebibytes = 64; // capture --before-memory: what --before may hold
    std::string output;          // capture -o: empty for standard output
    bool byte = false;           // pulse --byte: value is the byte held
    bool writeBack = false;      // bench --write
    bool json = false;
};

// A mistake in the arguments: the words, and the usage line that fits.
class UsageError : public std::runtime_error {
  public:
    UsageError(const std::string &words, std::string usage)
        : std::runtime_error(words), usage_(std::move(usage))
    {
    }
    [[nodiscard]] const std::string &usage() const { return usage_; }

  private:
    std::string usage_;
};

// Every command's usage line and where the detail is.
extern const char *const usageText;

// arguments: everything after the program's name. Throws UsageError.
Request parse(const std::vector<std::string> &arguments);

} // namespace cli
