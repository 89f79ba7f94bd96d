// Real x86 ports: ioperm where the kernel allows it, else /dev/port.
#include "inpout32.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/io.h>
#include <unistd.h>

namespace {

enum class Route { None, Ioperm, DevPort };

struct Access {
    Route route = Route::None;
    int devPort = -1;
    std::string problem;
};

constexpr unsigned long portCount = 0x10000;

// Linux grants ioperm to the calling thread only, so each thread takes it
// once, on its first access.
__attribute__((tls_model("initial-exec"))) thread_local bool threadMayUsePorts = false;

int takePermission()
{
    if (ioperm(0, portCount, 1) != 0)
        return errno;
    threadMayUsePorts = true;
    return 0;
}

// The capability goes on the program that loaded us, wherever it is installed.
std::string program()
{
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : "portpanel";
}

std::string explain(int iopermError, int devPortError)
{
    const std::string causes = std::string("ioperm: ") + std::strerror(iopermError) +
                               "; /dev/port: " + std::strerror(devPortError);
    if (iopermError == ENOSYS && devPortError == ENOENT)
        return "this kernel has no user-space port access (" + causes +
               "); run portpanel on a kernel built with CONFIG_X86_IOPL_IOPERM=y or "
               "CONFIG_DEVPORT=y, as Debian's own kernels are";
    if (iopermError == EPERM || devPortError == EACCES || devPortError == EPERM)
        return "no permission to use the I/O ports (" + causes +
               "); run portpanel as root, or grant it raw I/O once with "
               "'sudo setcap cap_sys_rawio+ep " +
               program() + "'";
    return "the I/O ports cannot be reached (" + causes + "); run portpanel as root";
}

Access probe()
{
    const int iopermError = takePermission();
    if (iopermError == 0)
        return {Route::Ioperm, -1, {}};
    const int fd = open("/dev/port", O_RDWR | O_CLOEXEC);
    if (fd >= 0)
        return {Route::DevPort, fd, {}};
    return {Route::None, -1, explain(iopermError, errno)};
}

const Access &access()
{
    static const Access once = probe();
    return once;
}

unsigned short address(short port) { return static_cast<unsigned short>(port); }

// A thread other than the prober's, or no route at all.
bool threadReady()
{
    const Access &a = access();
    return a.route == Route::Ioperm && (threadMayUsePorts || takePermission() == 0);
}

// Out32 and Inp32 cannot fail, so a refused access is at least said aloud.
void complain(const char *what, unsigned short port)
{
    const char *why =
        access().route == Route::None ? access().problem.c_str() : std::strerror(errno);
    std::fprintf(stderr, "libinpout32.so: port 0x%04X not %s: %s\n", port, what, why);
}

void slowOut(unsigned short port, unsigned char byte)
{
    if (threadReady())
        outb(byte, port);
    else if (access().route != Route::DevPort || pwrite(access().devPort, &byte, 1, port) != 1)
        complain("written", port);
}

unsigned char slowIn(unsigned short port)
{
    unsigned char byte = 0xFF;
    if (threadReady())
        byte = inb(port);
    else if (access().route != Route::DevPort || pread(access().devPort, &byte, 1, port) != 1)
        complain("read", port);
    return byte;
}

} // namespace

void INPOUT_CALL Out32(short port, short value)
{
    const auto byte = static_cast<unsigned char>(value);
    if (threadMayUsePorts)
        outb(byte, address(port));
    else
        slowOut(address(port), byte);
}

short INPOUT_CALL Inp32(short port)
{
    return threadMayUsePorts ? inb(address(port)) : slowIn(address(port));
}

const char *ReadinessProblem(void)
{
    const Access &a = access();
    return a.route == Route::None ? a.problem.c_str() : nullptr;
}
