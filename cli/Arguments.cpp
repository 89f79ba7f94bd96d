#include "Arguments.h"

#include "Numbers.h"
#include "RuntimeError.h"

#include <algorithm>
#include <functional>
#include <string_view>
#include <utility>

namespace cli {
namespace {

// One command: its name, usage line, how many operands and which options.
struct Grammar {
    std::string_view name;
    Verb verb;
    const char *usage;
    std::size_t leastOperands;
    std::size_t mostOperands;
    std::string_view options;
};

constexpr std::size_t manyPorts = 256;

constexpr Grammar grammars[] = {
    {"ports", Verb::Ports, "usage: portpanel-io ports [--json]\n", 0, 0, " --json "},
    {"read", Verb::Read, "usage: portpanel-io read PORT... [--json]\n", 1, manyPorts, " --json "},
    {"write", Verb::Write, "usage: portpanel-io write PORT VALUE [--json]\n", 2, 2, " --json "},
    {"set", Verb::Set, "usage: portpanel-io set|clear|toggle PORT BIT [--json]\n", 2, 2,
     " --json "},
    {"clear", Verb::Clear, "usage: portpanel-io set|clear|toggle PORT BIT [--json]\n", 2, 2,
     " --json "},
    {"toggle", Verb::Toggle, "usage: portpanel-io set|clear|toggle PORT BIT [--json]\n", 2, 2,
     " --json "},
    {"pulse", Verb::Pulse,
     "usage: portpanel-io pulse PORT BIT MILLISECONDS [--json]\n"
     "       portpanel-io pulse PORT --byte VALUE MILLISECONDS [--json]\n",
     2, 3, " --byte --json "},
    {"watch", Verb::Watch, "usage: portpanel-io watch PORT [--every MS] [--count N] [--json]\n", 1,
     1, " --json --every --count "},
    {"bench", Verb::Bench, "usage: portpanel-io bench PORT [--seconds S] [--write] [--json]\n", 1,
     1, " --json --seconds --write "},
    {"capture", Verb::Capture,
     "usage: portpanel-io capture PORT [--seconds S] [--every US] "
     "[--trigger PIN:rise|fall|change] [--before MS] [--before-memory MIB] [-o FILE]\n",
     1, 1, " --seconds --every --trigger --before --before-memory --output "},
};

// A bare number is in the option's own unit; a unit may follow it: 100us, 5ms, 2s.
constexpr double mostMilliseconds = 3600000; // an hour
constexpr const char *millisecondsWords =
    "a time in milliseconds from 0 to 3600000 (or with a unit: 100us, 5ms, 2s)";
constexpr const char *holdWords =
    "a time in milliseconds: 0, or 0.1 to 3600000 (or with a unit: 100us, 5ms, 2s)";
constexpr double mostMicroseconds = 1000000;
constexpr const char *microsecondsWords =
    "a period in microseconds from 0 to 1000000 (or with a unit: 100us, 5ms, 1s)";
constexpr double mostSeconds = 3600;
constexpr const char *secondsWords =
    "a time in seconds from 0.001 to 3600 (or with a unit: 100us, 5ms, 2s)";
constexpr double mostMebibytes = 4096;
constexpr const char *mebibytesWords = "a size in MiB from 0.001 to 4096";

const Grammar *grammarOf(std::string_view name)
{
    const auto found =
        std::ranges::find_if(grammars, [&](const Grammar &g) { return g.name == name; });
    return found == std::end(grammars) ? nullptr : &*found;
}

// The conversions' own words, as a usage mistake with the command's line.
template <class Read> auto converted(const Grammar &grammar, Read read)
{
    try {
        return read();
    } catch (const runtime::RuntimeError &error) {
        throw UsageError(error.description(), grammar.usage);
    }
}

// options lists the names, each with a space before and after.
bool allows(std::string_view options, std::string_view option)
{
    for (auto at = options.find(option); at != std::string_view::npos;
         at = options.find(option, at + 1))
        if (options[at - 1] == ' ' && options[at + option.size()] == ' ')
            return true;
    return false;
}

bool takesValue(std::string_view option) { return option != "--json" && option != "--write"; }

// "11:rise": a pin (1 to 17) or a bit (0 to 7), and the edge that starts the dump.
void readTrigger(std::string_view text, Request &request)
{
    constexpr std::pair<std::string_view, capture::Edge> edges[] = {
        {"rise", capture::Edge::Rise},
        {"fall", capture::Edge::Fall},
        {"change", capture::Edge::Change}};
    const auto colon = text.find(':');
    const auto edge = std::ranges::find_if(edges, [&](const auto &e) {
        return colon != std::string_view::npos && e.first == text.substr(colon + 1);
    });
    if (edge == std::end(edges))
        throw runtime::RuntimeError(runtime::ErrorNumber::NotANumber,
                                    runtime::quoted(text) +
                                        " is not a trigger: type PIN:rise, PIN:fall or PIN:change");
    request.triggerPin = pinNumber(text.substr(0, colon));
    request.triggerEdge = edge->second;
}

std::string fileName(std::string_view text)
{
    if (text.empty())
        throw runtime::RuntimeError(runtime::ErrorNumber::NotANumber,
                                    "-o needs a file name, or leave it out for standard output");
    return std::string(text);
}

// --every is the watch's period in milliseconds, the capture's in microseconds.
void readEvery(const Grammar &grammar, std::string_view value, Request &request)
{
    if (grammar.verb == Verb::Capture)
        request.microseconds =
            timeNumber(value, TimeUnit::Microseconds, 0, mostMicroseconds, microsecondsWords);
    else
        request.milliseconds =
            timeNumber(value, TimeUnit::Milliseconds, 0, mostMilliseconds, millisecondsWords);
}

void applyOption(const Grammar &grammar, std::string_view option, std::string_view value,
                 Request &request)
{
    converted(grammar, [&] {
        if (option == "--json")
            request.json = true;
        else if (option == "--write")
            request.writeBack = true;
        else if (option == "--every")
            readEvery(grammar, value, request);
        else if (option == "--count")
            request.count = countNumber(value);
        else if (option == "--byte")
            request.value = byteValue(value);
        else if (option == "--trigger")
            readTrigger(value, request);
        else if (option == "--before")
            request.before =
                timeNumber(value, TimeUnit::Milliseconds, 0, mostMilliseconds, millisecondsWords);
        else if (option == "--before-memory")
            request.beforeMebibytes = realNumber(value, 0.001, mostMebibytes, mebibytesWords);
        else if (option == "--output")
            request.output = fileName(value);
        else
            request.seconds =
                timeNumber(value, TimeUnit::Seconds, 0.001, mostSeconds, secondsWords);
        request.byte = request.byte || option == "--byte";
        request.timed = request.timed || option == "--seconds";
        return 0;
    });
}

// Splits options from operands; an operand may start with one '-' (-8176).
std::vector<std::string_view>
readOptions(const Grammar &grammar, const std::vector<std::string> &arguments, Request &request)
{
    std::vector<std::string_view> operands;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        std::string_view argument = arguments[i];
        if (argument == "-o")
            argument = "--output";
        if (!argument.starts_with("--")) {
            operands.push_back(argument);
            continue;
        }
        const auto equals = argument.find('=');
        const auto option = argument.substr(0, equals);
        if (!allows(grammar.options, option))
            throw UsageError("unknown option " + runtime::quoted(option) + " for " +
                                 std::string(grammar.name),
                             grammar.usage);
        std::string_view value;
        if (equals != std::string_view::npos && !takesValue(option))
            throw UsageError(std::string(option) + " takes no value", grammar.usage);
        if (equals != std::string_view::npos)
            value = argument.substr(equals + 1);
        else if (takesValue(option) && i + 1 < arguments.size())
            value = arguments[++i];
        else if (takesValue(option))
            throw UsageError(std::string(option) + " needs a value", grammar.usage);
        applyOption(grammar, option, value, request);
    }
    return operands;
}

// A byte pulse's hold: 0 is the shortest the route gives.
double holdTime(std::string_view text)
{
    const double milliseconds =
        timeNumber(text, TimeUnit::Milliseconds, 0, mostMilliseconds, holdWords);
    if (milliseconds > 0 && milliseconds < 0.1)
        throw runtime::RuntimeError(runtime::ErrorNumber::OutOfRange,
                                    runtime::quoted(text) + " is not " + holdWords);
    return milliseconds;
}

void readOperands(const Grammar &grammar, const std::vector<std::string_view> &operands,
                  Request &request)
{
    // pulse takes BIT and MILLISECONDS, or MILLISECONDS after --byte VALUE
    const std::size_t pulseOperands = request.byte ? 2 : 3;
    if (grammar.verb == Verb::Pulse && operands.size() != pulseOperands)
        throw UsageError(std::string("pulse") + (request.byte ? " --byte" : "") + " takes " +
                             (operands.size() < pulseOperands ? "more" : "fewer") + " operands",
                         grammar.usage);
    if (operands.size() < grammar.leastOperands || operands.size() > grammar.mostOperands)
        throw UsageError(
            std::string(grammar.name) + " takes " +
                (operands.size() < grammar.leastOperands
                     ? std::string("more operands")
                     : "fewer operands (at most " + std::to_string(grammar.mostOperands) + ")"),
            grammar.usage);
    converted(grammar, [&] {
        const bool onePort = grammar.verb != Verb::Read;
        for (std::size_t i = 0; i < operands.size() && (!onePort || i == 0); ++i)
            request.ports.push_back(portNumber(operands[i]));
        if (grammar.verb == Verb::Write)
            request.value = byteValue(operands[1]);
        if (operands.size() > 1 && grammar.verb != Verb::Write && grammar.verb != Verb::Read &&
            !request.byte)
            request.bit = bitNumber(operands[1]);
        if (grammar.verb == Verb::Pulse && !request.byte)
            request.milliseconds = timeNumber(operands[2], TimeUnit::Milliseconds, 0,
                                              mostMilliseconds, millisecondsWords);
        if (grammar.verb == Verb::Pulse && request.byte)
            request.milliseconds = holdTime(operands[1]);
        return 0;
    });
}

} // namespace

const char *const usageText = "usage: portpanel-io ports [--json]\n"
                              "       portpanel-io read PORT... [--json]\n"
                              "       portpanel-io write PORT VALUE [--json]\n"
                              "       portpanel-io set|clear|toggle PORT BIT [--json]\n"
                              "       portpanel-io pulse PORT BIT MILLISECONDS [--json]\n"
                              "       portpanel-io pulse PORT --byte VALUE MILLISECONDS [--json]\n"
                              "       portpanel-io watch PORT [--every MS] [--count N] [--json]\n"
                              "       portpanel-io bench PORT [--seconds S] [--write] [--json]\n"
                              "       portpanel-io capture PORT [--seconds S] [--every US]\n"
                              "                    [--trigger PIN:rise|fall|change] [--before MS]\n"
                              "                    [--before-memory MIB] [-o FILE]\n"
                              "       portpanel-io --help | --version\n";

Request parse(const std::vector<std::string> &arguments)
{
    if (arguments.empty())
        throw UsageError("no command given", usageText);
    const std::string_view command = arguments[0];
    Request request;
    if (arguments.size() == 1 && (command == "--help" || command == "--version")) {
        request.verb = command == "--help" ? Verb::Help : Verb::Version;
        return request;
    }
    const Grammar *grammar = grammarOf(command);
    if (!grammar)
        throw UsageError("unknown command " + runtime::quoted(command), usageText);
    request.verb = grammar->verb;
    readOperands(*grammar, readOptions(*grammar, arguments, request), request);
    return request;
}

} // namespace cli
