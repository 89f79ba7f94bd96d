#include "PortFinder.h"

#ifdef _WIN32
#include "WindowsPorts.h"
#else
#include "LinuxPorts.h"
#endif

namespace finder {

std::vector<FoundPort> findPorts(const std::string &root)
{
#ifdef _WIN32
    (void)root;
    return onwindows::describe(onwindows::askWindows(), onwindows::askBinder());
#else
    return onlinux::find(onlinux::thisSystem(root));
#endif
}

Restrictions findRestrictions(const std::string &root)
{
#ifdef _WIN32
    (void)root;
    return onwindows::restrictions(onwindows::askRegistry());
#else
    return onlinux::restrictions(onlinux::thisSystem(root));
#endif
}

} // namespace finder
