#include "Commands.h"
#include "Output.h"
#include "PortFinder.h"

namespace cli {
namespace {

std::string rangeText(const finder::IoRange &range)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%04X-0x%04X", static_cast<unsigned>(range.first),
                  static_cast<unsigned>(range.last));
    return text;
}

std::string rangesJson(const std::vector<finder::IoRange> &ranges)
{
    std::string json = "[";
    for (const finder::IoRange &range : ranges) {
        if (json.size() > 1)
            json += ',';
        json += JsonLine().number("first", range.first).number("last", range.last).str();
    }
    return json + "]";
}

// One line per port, its ranges first:
// "parport0 (parport) 0x0378-0x037F, 0x0778-0x077A: modes ...; held by lp0; route"
void printText(const finder::FoundPort &found)
{
    std::string line = found.name + " (" + found.kind + ") ";
    for (const finder::IoRange &range : found.ranges)
        line.append(&range == &found.ranges.front() ? "" : ", ").append(rangeText(range));
    line.append(found.ranges.empty() ? "no I/O range: " : ": ").append(found.description);
    if (!found.holder.empty())
        line.append("; held by ").append(found.holder);
    if (!found.access.empty())
        line.append("; ").append(found.access);
    emit(line);
}

// What the system does to every route, as fields of each port's line.
JsonLine &restrictionsJson(JsonLine &line, const finder::Restrictions &restrictions)
{
#ifdef _WIN32
    if (!restrictions.memoryIntegrity.empty())
        line.text("memory_integrity", restrictions.memoryIntegrity);
    if (!restrictions.driverBlocklist.empty())
        line.text("driver_blocklist", restrictions.driverBlocklist);
    return line;
#else
    return line.text("lockdown", restrictions.lockdown);
#endif
}

} // namespace

// What the system lists, and what this user may do with each; reads no port.
void listPorts(const Request &request)
{
    const finder::Restrictions restrictions = finder::findRestrictions();
    if (!request.json && !restrictions.line.empty())
        emit(restrictions.line);
    const std::vector<finder::FoundPort> found = finder::findPorts();
    for (const finder::FoundPort &port : found) {
        if (!request.json) {
            printText(port);
            continue;
        }
        JsonLine line;
        line.text("kind", port.kind)
            .text("name", port.name)
            .text("description", port.description)
            .raw("ranges", rangesJson(port.ranges))
            .text("holder", port.holder)
            .text("route", port.access);
        emit(restrictionsJson(line, restrictions).str());
    }
    if (found.empty() && !request.json)
        emit("no I/O ports found");
}

} // namespace cli
