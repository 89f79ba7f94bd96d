#include "Grant.h"

#include <cerrno>
#include <cstdio>
#include <linux/capability.h>
#include <sys/io.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace helper {
namespace {

// Calls f(first, last) for each run of open ports; stops at the first f that
// returns non-zero and gives that back.
template <typename F> int eachRange(const PortSet &open, F f)
{
    for (std::size_t first = 0; first < open.size(); ++first) {
        if (!open[first])
            continue;
        std::size_t last = first;
        while (last + 1 < open.size() && open[last + 1])
            ++last;
        if (const int result = f(first, last))
            return result;
        first = last;
    }
    return 0;
}

// Emptying the bounding set needs CAP_SETPCAP, which neither program holds
// as installed: it is done where it can be.
void dropBoundingSet()
{
    for (int cap = 0; cap <= CAP_LAST_CAP; ++cap)
        prctl(PR_CAPBSET_DROP, cap, 0, 0, 0);
}

} // namespace

int takePermission(const PortSet &open)
{
    return eachRange(open, [](std::size_t first, std::size_t last) {
        return ioperm(first, last - first + 1, 1) == 0 ? 0 : errno;
    });
}

const char *dropPrivilege()
{
    // The setuid-root fallback: back to the caller's own ids.
    const gid_t gid = getgid();
    const uid_t uid = getuid();
    if (setresgid(gid, gid, gid) != 0)
        return "setresgid";
    if (setresuid(uid, uid, uid) != 0)
        return "setresuid";
    dropBoundingSet();
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capset, &header, none) != 0)
        return "capset";
    return prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) == 0
               ? nullptr
               : "clearing ambient capabilities";
}

std::string ranges(const PortSet &open)
{
    std::string text;
    eachRange(open, [&text](std::size_t first, std::size_t last) {
        char range[16];
        std::snprintf(range, sizeof range, "0x%zX-0x%zX", first, last);
        if (!text.empty())
            text += ',';
        text.append(range);
        return 0;
    });
    return text;
}

} // namespace helper
