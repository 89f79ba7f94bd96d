#include "Privilege.h"

#include <cstdint>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace privilege {

std::string lockdownLevel(const std::string &file)
{
    char text[128] = {};
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    const ssize_t size = read(fd, text, sizeof text - 1);
    close(fd);
    const std::string words(text, size > 0 ? static_cast<std::size_t>(size) : 0);
    const std::size_t open = words.find('['), end = words.find(']', open);
    return open == std::string::npos || end == std::string::npos
               ? std::string()
               : words.substr(open + 1, end - open - 1);
}

bool lockedDown(const std::string &level) { return !level.empty() && level != "none"; }

namespace {

std::uint32_t littleEndian(const unsigned char *bytes)
{
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

} // namespace

bool grantsRawio(const unsigned char *attribute, std::size_t size)
{
    // magic_etc, then permitted and inheritable for each 32 capabilities.
    if (size < XATTR_CAPS_SZ_1)
        return false;
    const std::uint32_t magic = littleEndian(attribute);
    const std::uint32_t revision = magic & VFS_CAP_REVISION_MASK;
    const bool known = (revision == VFS_CAP_REVISION_1 && size >= XATTR_CAPS_SZ_1) ||
                       (revision == VFS_CAP_REVISION_2 && size >= XATTR_CAPS_SZ_2) ||
                       (revision == VFS_CAP_REVISION_3 && size >= XATTR_CAPS_SZ_3);
    static_assert(CAP_TO_INDEX(CAP_SYS_RAWIO) == 0);
    return known && (magic & VFS_CAP_FLAGS_EFFECTIVE) != 0 &&
           (littleEndian(attribute + 4) & CAP_TO_MASK(CAP_SYS_RAWIO)) != 0;
}

bool fileGrantsRawio(const std::string &path)
{
    struct stat file = {};
    if (stat(path.c_str(), &file) == 0 && file.st_uid == 0 && (file.st_mode & S_ISUID) != 0)
        return true;
    unsigned char attribute[XATTR_CAPS_SZ_3] = {};
    const ssize_t size = getxattr(path.c_str(), "security.capability", attribute, sizeof attribute);
    return size > 0 && grantsRawio(attribute, static_cast<std::size_t>(size));
}

bool holdsRawio()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    return syscall(SYS_capget, &header, data) == 0 &&
           (data[CAP_TO_INDEX(CAP_SYS_RAWIO)].effective & CAP_TO_MASK(CAP_SYS_RAWIO)) != 0;
}

namespace {

// A field of /proc/self/status, such as "TracerPid"; empty where missing.
std::string statusField(const std::string &name)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with(name + ":")) {
            const std::size_t value = line.find_first_not_of(" \t", name.size() + 1);
            return value == std::string::npos ? "" : line.substr(value);
        }
    return {};
}

// The machine's own user namespace maps every id to itself.
bool inFirstUserNamespace()
{
    std::ifstream map("/proc/self/uid_map");
    unsigned long inside = 1, outside = 1, count = 0;
    return !(map >> inside >> outside >> count) ||
           (inside == 0 && outside == 0 && count == 4294967295UL);
}

} // namespace

WithoutRawio whyWithoutRawio(const std::string &path)
{
    struct statvfs mount = {};
    if (holdsRawio())
        return WithoutRawio::Held;
    if (!fileGrantsRawio(path))
        return WithoutRawio::FileLacks;
    if (prctl(PR_GET_NO_NEW_PRIVS, 0, 0, 0, 0) == 1)
        return WithoutRawio::NoNewPrivileges;
    if (statvfs(path.c_str(), &mount) == 0 && (mount.f_flag & ST_NOSUID) != 0)
        return WithoutRawio::NosuidMount;
    if (const std::string tracer = statusField("TracerPid"); !tracer.empty() && tracer != "0")
        return WithoutRawio::Traced;
    return inFirstUserNamespace() ? WithoutRawio::NotKnown : WithoutRawio::UserNamespace;
}

bool inGroup(const char *name)
{
    group entry{}, *found = nullptr;
    char buffer[4096];
    return getgrnam_r(name, &entry, buffer, sizeof buffer, &found) == 0 && found &&
           group_member(found->gr_gid);
}

} // namespace privilege
