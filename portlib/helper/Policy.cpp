#include "Policy.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace helper {
namespace {

void open(PortSet &set, unsigned long first, unsigned long last)
{
    for (unsigned long port = first; port <= last && port < set.size(); ++port)
        set.set(port);
}

// A parallel port: its eight registers and its ECP block of three. A port
// at 0x3BC has four, with the display adapter's registers after them.
void openParallel(PortSet &set, unsigned long base, unsigned long ecp)
{
    open(set, base, base + (base == 0x3BC ? 3 : 7));
    if (ecp > 0)
        open(set, ecp, ecp + 2);
}

void openStandard(PortSet &set)
{
    for (const unsigned long base : {0x378UL, 0x278UL, 0x3BCUL})
        openParallel(set, base, base + 0x400);
    for (const unsigned long base : {0x3F8UL, 0x2F8UL, 0x3E8UL, 0x2E8UL})
        open(set, base, base + 7);
}

// The folders in a folder of the system tree, each as "folder/name/".
std::vector<std::string> entries(const std::string &folder)
{
    std::vector<std::string> names;
    if (DIR *dir = opendir(folder.c_str())) {
        while (const dirent *entry = readdir(dir))
            if (entry->d_name[0] != '.')
                names.push_back(folder + '/' + entry->d_name + '/');
        closedir(dir);
    }
    return names;
}

void openKernelParallelPorts(const std::string &root, PortSet &set)
{
    const std::string folder = root + "/proc/sys/dev/parport";
    for (const std::string &port : entries(folder)) {
        unsigned long base = 0, ecp = 0;
        std::ifstream(port + "base-addr") >> base >> ecp;
        if (base > 0) // a USB adapter registers at 0, where its registers are not
            openParallel(set, base, ecp);
    }
}

// Serial (0x0700), parallel (0x0701) and multiport serial (0x0702)
// controllers: their I/O ranges.
void openPciPortControllers(const std::string &root, PortSet &set)
{
    constexpr unsigned long ioResource = 0x100;
    const std::string folder = root + "/sys/bus/pci/devices";
    for (const std::string &device : entries(folder)) {
        unsigned long type = 0;
        std::ifstream(device + "class") >> std::hex >> type;
        if (type >> 8 < 0x0700 || type >> 8 > 0x0702)
            continue;
        std::ifstream resources(device + "resource");
        unsigned long first = 0, last = 0, flags = 0;
        while (resources >> std::hex >> first >> last >> flags)
            if ((flags & ioResource) != 0 && first > 0 && first <= last)
                open(set, first, last);
    }
}

bool number(const std::string &text, unsigned long &value)
{
    const bool hex = text.starts_with("0x") || text.starts_with("0X");
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") !=
            std::string::npos)
        return false;
    value = std::stoul(digits, nullptr, hex ? 16 : 10);
    return value <= 0xFFFF;
}

// One line: a range, a port, "all", or nothing but a comment.
bool readLine(std::string line, PortSet &set)
{
    if (const std::size_t comment = line.find('#'); comment != std::string::npos)
        line.resize(comment);
    std::istringstream words(line);
    std::string range, extra;
    if (!(words >> range))
        return true;
    if (words >> extra)
        return false;
    if (range == "all") {
        set.set();
        return true;
    }
    const std::size_t dash = range.find('-');
    unsigned long first = 0, last = 0;
    if (!number(range.substr(0, dash), first) ||
        !number(dash == std::string::npos ? range : range.substr(dash + 1), last) || last < first)
        return false;
    open(set, first, last);
    return true;
}

std::string untrusted(const std::string &path, const struct stat &info, const Policy &policy,
                      mode_t forbidden)
{
    char words[240];
    if (info.st_uid != policy.owner)
        std::snprintf(words, sizeof words, "%s is not trusted: it belongs to uid %u, not %u",
                      path.c_str(), static_cast<unsigned>(info.st_uid),
                      static_cast<unsigned>(policy.owner));
    else if ((info.st_mode & forbidden) != 0)
        std::snprintf(words, sizeof words,
                      "%s is not trusted: %s may write it (mode %04o); 'sudo chmod %s %s'",
                      path.c_str(), forbidden & S_IWGRP ? "its group or others" : "others",
                      static_cast<unsigned>(info.st_mode & 07777),
                      forbidden & S_IWGRP ? "go-w" : "o-w", path.c_str());
    else
        return {};
    return words;
}

// The line as the words quote it: at most 60 bytes, control bytes as \xNN,
// so that a NUL cannot cut the words short.
std::string quoted(const std::string &line)
{
    std::string shown;
    for (const char byte : line.substr(0, 60)) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(byte));
        shown += static_cast<unsigned char>(byte) < 0x20 || byte == 0x7F ? escaped
                                                                         : std::string(1, byte);
    }
    return shown;
}

// Anything but a plain file is refused at once: a FIFO would block the
// helper, a folder would read as empty, a link would point elsewhere.
std::string notRegular(const std::string &path, int fd, const struct stat &info)
{
    if (fd < 0 && errno == ELOOP)
        return path + " is a symbolic link; the helper reads only a regular file";
    if (fd < 0)
        return path + ": " + std::strerror(errno);
    if (S_ISREG(info.st_mode))
        return {};
    const char *kind = S_ISFIFO(info.st_mode)   ? "a FIFO"
                       : S_ISDIR(info.st_mode)  ? "a folder"
                       : S_ISSOCK(info.st_mode) ? "a socket"
                                                : "a device";
    return path + " is not a regular file (" + kind + "); the helper reads only a regular file";
}

// The file's text, or why it is not to be read.
std::string readText(const Policy &policy, const std::string &path, std::string &text)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT)
        return {};
    struct stat info = {};
    if (fd >= 0 && fstat(fd, &info) != 0)
        info.st_mode = 0;
    std::string why = notRegular(path, fd, info);
    if (why.empty())
        why = untrusted(path, info, policy, S_IWGRP | S_IWOTH);
    char chunk[4096];
    for (ssize_t n = 1; why.empty() && n != 0;) {
        n = read(fd, chunk, sizeof chunk);
        if (n > 0)
            text.append(chunk, static_cast<std::size_t>(n));
        else if (n < 0 && errno != EINTR)
            why = path + ": read: " + std::strerror(errno);
    }
    if (fd >= 0)
        close(fd);
    return why;
}

// The policy file, read only when it is a regular file and its owner and
// folder are trusted. A missing file opens nothing more.
std::string readFile(const Policy &policy, PortSet &set)
{
    const std::string path = policy.root + policy.file;
    const std::string folder = path.substr(0, path.rfind('/'));
    struct stat info = {};
    if (stat(folder.c_str(), &info) != 0)
        return errno == ENOENT ? "" : folder + ": " + std::strerror(errno);
    if (std::string why = untrusted(folder, info, policy, S_IWGRP | S_IWOTH); !why.empty())
        return why;
    std::string text;
    if (std::string why = readText(policy, path, text); !why.empty())
        return why;
    std::istringstream lines(text);
    int count = 0;
    for (std::string line; std::getline(lines, line);)
        if (++count, !readLine(line, set))
            return path + " line " + std::to_string(count) + ": \"" + quoted(line) +
                   "\" is not a port or a range (write FIRST-LAST, one port, or all; in hex "
                   "0x... or decimal)";
    return {};
}

} // namespace

std::string readPolicy(const Policy &policy, PortSet &open)
{
    open.reset();
    openStandard(open);
    openKernelParallelPorts(policy.root, open);
    openPciPortControllers(policy.root, open);
    return readFile(policy, open);
}

} // namespace helper
