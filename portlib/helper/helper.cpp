// portpanel-helper: the one privileged part of portpanel. Installed with
// cap_sys_rawio (or setuid root where the filesystem has no capabilities) and
// mode 0750 root:portpanel, so only members of that group can run it. It takes
// port permission, drops every privilege, and only then serves the port
// library's requests on its standard input and output, in seccomp's strict
// mode: read, write and exit are all it may still ask of the kernel. It reads
// no arguments and no environment.
#include "Requests.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <linux/capability.h>
#include <linux/seccomp.h>
#include <sys/io.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// The call that failed, or null once every privilege is gone.
const char *dropPrivilege()
{
    // The setuid-root fallback: back to the caller's own ids.
    const gid_t gid = getgid();
    const uid_t uid = getuid();
    if (setresgid(gid, gid, gid) != 0)
        return "setresgid";
    if (setresuid(uid, uid, uid) != 0)
        return "setresuid";
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capset, &header, none) != 0)
        return "capset";
    if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0)
        return "clearing ambient capabilities";
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 ? nullptr : "no_new_privs";
}

class Hardware : public helper::Ports {
  public:
    [[nodiscard]] bool allows(std::uint16_t) const override { return true; }
    void out(std::uint16_t port, std::uint8_t value) override { outb(value, port); }
    std::uint8_t in(std::uint16_t port) override { return inb(port); }
};

} // namespace

// Strict mode allows exit but not exit_group, which returning from main uses.
[[noreturn]] void end(int status)
{
    syscall(SYS_exit, status);
    __builtin_unreachable();
}

int main()
{
    const int refusal = ioperm(0, 0x10000, 1) == 0 ? 0 : errno;
    if (const char *failed = dropPrivilege()) {
        char words[160];
        std::snprintf(words, sizeof words, "the helper could not drop its privilege (%s: %s)",
                      failed, std::strerror(errno));
        helper::refuseInWords(STDOUT_FILENO, words);
        return 2;
    }
    const std::uint8_t greeting[helper::greetingSize] = {
        refusal ? helper::NoPermission : helper::Ready, static_cast<std::uint8_t>(refusal)};
    if (write(STDOUT_FILENO, greeting, sizeof greeting) != sizeof greeting || refusal)
        return 1;
    if (prctl(PR_SET_SECCOMP, SECCOMP_MODE_STRICT, 0, 0, 0) != 0)
        return 3;
    helper::StandardStreams socket;
    Hardware ports;
    end(helper::serve(socket, ports) == helper::End::EndOfInput ? 0 : 1);
}
