#include "Advice.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace advice {

std::string grant(bool kernelLacksPortAccess, bool parallelRegister, const std::string &what,
                  const std::string &policyFile)
{
    const std::string lp = "join the lp group ('sudo adduser $USER lp'), then log in again";
    if (kernelLacksPortAccess)
        return "this kernel reaches ports only through its parallel-port driver: for " +
               std::string(parallelRegister ? "this parallel port, " + lp
                                            : "other ports run portpanel on a kernel built with "
                                              "CONFIG_X86_IOPL_IOPERM=y, as Debian's own are");
    const std::string portpanel =
        "the portpanel group ('sudo adduser $USER portpanel'; it opens the parallel and serial "
        "ports, 888 among them, and the ports listed in " +
        policyFile + ")";
    return "to reach " + what + ", join " +
           (parallelRegister ? "the lp group ('sudo adduser $USER lp') or " + portpanel
                             : portpanel) +
           ", then log in again";
}

std::string notInPolicy(std::uint16_t port, const std::string &policyFile)
{
    char words[240];
    std::snprintf(words, sizeof words,
                  "port 0x%04X is not open to the portpanel group; an administrator can add it "
                  "to %s (a port listed there is as open to the group as to root)",
                  port, policyFile.c_str());
    return words;
}

std::string inUse(const std::string &device, const std::string &holder, const char *how)
{
    return device + " is " + how +
           (holder.empty() || holder == "none" ? "another program" : holder) +
           "; close the program that holds it (another portpanel?) and try again";
}

std::string openFailed(const std::string &device, int error)
{
    const std::string words = device + ": " + std::strerror(error);
    return error == ENOENT ? words + " (the ppdev module is not loaded: 'sudo modprobe ppdev')"
                           : words;
}

} // namespace advice
