// portpanel-helper: the one privileged part of portpanel. Installed with
// cap_sys_rawio (or setuid root where the filesystem has no capabilities) and
// mode 0750 root:portpanel, so only members of that group can run it. It works
// out the ports it may serve, takes permission for those alone, drops every
// privilege, and only then serves the port library's requests on its standard
// input and output, in seccomp's strict mode: read, write and exit are all it
// may still ask of the kernel. It reads no arguments and no environment.
#include "Grant.h"
#include "Policy.h"
#include "Requests.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <linux/seccomp.h>
#include <sys/io.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Only the allowed ports: the CPU refuses any other, and so does the helper.
helper::PortSet allowed;

class Hardware : public helper::Ports {
  public:
    [[nodiscard]] bool allows(std::uint16_t port) const override { return allowed[port]; }
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
    const std::string policy = helper::readPolicy({"", PORTPANEL_POLICY_PATH, 0}, allowed);
    const int refusal = policy.empty() ? helper::takePermission(allowed) : 0;
    // Nothing it might run could gain privilege again (the launcher's
    // --no-filter leaves this out, so that what it starts can still run the
    // helper).
    const char *failed = helper::dropPrivilege();
    if (!failed && prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        failed = "no_new_privs";
    if (failed) {
        char words[160];
        std::snprintf(words, sizeof words, "the helper could not drop its privilege (%s: %s)",
                      failed, std::strerror(errno));
        helper::refuseInWords(STDOUT_FILENO, words);
        return 2;
    }
    if (!policy.empty()) {
        helper::refuseInWords(STDOUT_FILENO, policy.c_str());
        return 4;
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
