// The route the hardware library would give this user to each port, in the
// order it tries them: root's ioperm or /dev/port, the parallel-port driver
// (group lp) for the registers it reaches, then the helper (group portpanel)
// for what its policy opens. A port whose parallel port someone holds is
// refused on every route. A locked-down kernel leaves the driver alone.
// Nothing is opened or claimed.
#include "Advice.h"
#include "LinuxTree.h"
#include "Privilege.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace finder::onlinux {
namespace {

std::string hex4(std::uint16_t value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(value));
    return text;
}

std::string device(const Parport &port) { return "/dev/parport" + std::to_string(port.number); }

const Parport *parallelOf(const std::vector<Parport> &ports, std::uint16_t address)
{
    const auto port = std::ranges::find_if(
        ports, [address](const Parport &port) { return holds(registers(port), address); });
    return port == ports.end() ? nullptr : &*port;
}

bool exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

// A refusal's lines as one line, for a list of ports.
std::string oneLine(std::string words)
{
    for (std::size_t at = words.find("\n  "); at != std::string::npos; at = words.find("\n  "))
        words.replace(at, 3, "; ");
    return words;
}

} // namespace

Routes::Routes(const System &system, const std::vector<Parport> &ports)
    : system_(system), ports_(ports)
{
    using advice::Helper;
    if (!system.who.may(system.helper, X_OK)) {
        const bool installed = exists(system.helper);
        helperWhy_ = system.helper.substr(system.root.size()) +
                     " cannot be run: " + std::strerror(installed ? EACCES : ENOENT);
        helper_ = installed ? Helper::NotRun : Helper::Missing;
        return;
    }
    helperWhy_ = helper::readPolicy({system.root, system.policyFile, system.policyOwner}, open_);
    if (helperWhy_.empty() && lockedDown())
        helperWhy_ = "not started: the locked-down kernel refuses it port permission too";
    else if (helperWhy_.empty() && !system.who.kernelIoperm)
        helperWhy_ = advice::helperRefused(ENOSYS, system.helperCapable);
    else if (helperWhy_.empty() && !system.helperCapable) {
        helperWhy_ = advice::helperRefused(EPERM, false);
        helper_ = Helper::LacksCapability;
        return;
    }
    helper_ = helperWhy_.empty() ? Helper::Serves : Helper::Refused;
}

bool Routes::lockedDown() const { return privilege::lockedDown(system_.lockdown); }

Decision Routes::decide(std::uint16_t port) const
{
    const Identity &who = system_.who;
    const Parport *parallel = parallelOf(ports_, port);
    if (parallel && parallel->active != "none")
        return {"refused: " + (parallel->active.empty()
                                   ? "cannot tell who holds " + device(*parallel)
                                   : advice::inUse(device(*parallel), parallel->active)),
                false, ""};
    if (system_.granted && system_.granted(port))
        return {"portpanel-run (ioperm)", false, ""};
    if (who.rawio && who.kernelIoperm && !lockedDown())
        return {"root (ioperm)", false, ""};
    if (who.rawio && exists(system_.root + "/dev/port") && !lockedDown())
        return {"root (/dev/port)", false, ""};
    const bool throughDriver = parallel && port <= parallel->base + 2 && port >= parallel->base;
    bool deviceMissing = false;
    std::string driverWhy = parallel ? "the EPP and ECP registers of " + device(*parallel) +
                                           " are not reached through the parallel-port driver"
                                     : "not a register of a parallel port the kernel manages";
    if (throughDriver) {
        const std::string file = system_.root + device(*parallel);
        if (who.may(file, R_OK | W_OK))
            return {"lp (" + device(*parallel) + ")", false, ""};
        deviceMissing = !exists(file);
        driverWhy = advice::openFailed(device(*parallel), deviceMissing ? ENOENT : EACCES);
    }
    if (helper_ == advice::Helper::Serves && open_[port])
        return {system_.run.empty() || !who.may(system_.run, X_OK)
                    ? "the helper (portpanel group)"
                    : "the helper (portpanel group); portpanel-run gives ioperm",
                false, ""};
    return refuse({throughDriver, deviceMissing}, driverWhy, helper_ == advice::Helper::Serves);
}

Decision Routes::refuse(Driver driver, const std::string &driverWhy, bool policyGap) const
{
    const Identity &who = system_.who;
    const bool lacksPortAccess = !who.kernelIoperm && !exists(system_.root + "/dev/port");
    const std::string root = lockedDown()      ? advice::lockedOut(system_.lockdown)
                             : lacksPortAccess ? "this kernel has no user-space port access"
                                               : "not root (no CAP_SYS_RAWIO)";
    const advice::Situation situation{
        advice::self(), system_.lockdown, system_.lockdownParameter, lacksPortAccess,
        driver.reaches, who.inLp,         driver.deviceMissing,      helper_};
    advice::Refusal refusal = policyGap
                                  ? advice::Refusal{}
                                  : advice::action(situation, "these ports", system_.policyFile);
    refusal.routes = {
        {"ioperm and /dev/port", root},
        {"the parallel-port driver", driverWhy},
        {"the port helper", policyGap ? "its policy does not open this port" : helperWhy_}};
    // A gap in the policy is named at the start of its run of ports.
    const std::string words = advice::oneLine(refusal);
    return policyGap ? Decision{"refused: ", true, words}
                     : Decision{"refused: " + words, false, ""};
}

std::string Routes::describe(const std::vector<IoRange> &ranges) const
{
    // Runs of ports with the same decision, gathered by decision in order.
    struct Group {
        Decision decision;
        std::uint16_t first;
        std::string where;
    };
    std::vector<Group> groups;
    for (const IoRange &range : ranges)
        for (unsigned port = range.first; port <= range.last;) {
            const Decision decision = decide(static_cast<std::uint16_t>(port));
            unsigned last = port;
            while (last < range.last && decide(static_cast<std::uint16_t>(last + 1)) == decision)
                ++last;
            std::string run = hex4(port);
            if (last > port) // not "-" + ...: GCC 12 -O3 warns of an overlap there
                run.append("-").append(hex4(last));
            auto group = std::ranges::find_if(
                groups, [&decision](const Group &g) { return g.decision == decision; });
            if (group == groups.end())
                groups.push_back({decision, static_cast<std::uint16_t>(port), run});
            else
                group->where += ", " + run;
            port = last + 1;
        }
    std::string words;
    for (const Group &group : groups) {
        const std::string text =
            group.decision.policyGap
                ? group.decision.words +
                      oneLine(advice::notInPolicy(group.first, system_.policyFile)) +
                      group.decision.tail
                : group.decision.words;
        words +=
            (words.empty() ? "" : " | ") + (groups.size() > 1 ? group.where + ": " + text : text);
    }
    return words;
}

} // namespace finder::onlinux
