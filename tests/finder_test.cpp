// The port finder over a system tree of the test's own (SystemTree.h), as
// users with each set of rights see it; and its Windows side over recorded
// answers of SetupAPI and the configuration manager, and under wine, where
// it finds the binder's inpout32.dll.
#include "WindowsPorts.h"

#include <algorithm>
#include <cerrno>
#include <gtest/gtest.h>

#ifdef _WIN32
#include "WideText.h"

#include <windows.h>
#else
#include "Advice.h"
#include "Granted.h"
#include "LinuxPorts.h"
#include "Privilege.h"
#include "SecureMode.h"
#include "SelfTest.h"
#include "SystemTree.h"

#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

std::string ranges(const finder::FoundPort &port)
{
    std::string text;
    for (const finder::IoRange &range : port.ranges) {
        char run[24];
        std::snprintf(run, sizeof run, "%s%04X-%04X", text.empty() ? "" : " ", range.first,
                      range.last);
        text += run;
    }
    return text;
}

#ifndef _WIN32
struct Tree {
    std::filesystem::path root;
    Tree()
    {
        char folder[] = "/tmp/finder-test.XXXXXX";
        root = mkdtemp(folder);
        makeSystemTree(root);
    }
    ~Tree() { std::filesystem::remove_all(root); }
};

// What is listed does not depend on who asks.
struct Listed {
    const char *kind, *name, *ranges, *holder, *description;
};

const Listed listed[] = {
    {"parport", "parport0", "0378-037F 0778-077A", "lp0",
     "modes PCSPP,TRISTATE,COMPAT,EPP,ECP, irq 7"},
    {"parport", "parport1", "DC00-DC07 E000-E002", "", "modes PCSPP,TRISTATE, irq none"},
    {"parport", "parport2", "", "", "a USB adapter: no registers"},
    {"parport", "parport3", "03BC-03BF", "", "modes PCSPP, irq 5"},
    {"pci", "0000:00:04.0", "C050-C057", "", "1b36:0002 serial controller, driver serial"},
    {"pci", "0000:00:06.0", "DC00-DC07 E000-E007", "",
     "1c00:3050 parallel controller, driver parport_pc (parport1)"},
    {"pci", "0000:00:07.0", "D000-D00F", "", "10b5:9050 communication controller, driver none"},
    {"usb-printer", "/dev/usb/lp0", "", "",
     "printer device 067b:2305 IEEE-1284 Controller: no registers"},
};

TEST(PortFinder, ListsPortsAndNothingElse)
{
    const Tree tree;
    const std::vector<finder::FoundPort> found = finder::findPorts(tree.root);
    ASSERT_EQ(found.size(), std::size(listed)) << "the network card and 'default' are not ports";
    for (std::size_t i = 0; i < found.size(); ++i) {
        EXPECT_EQ(found[i].kind, listed[i].kind) << found[i].name;
        EXPECT_EQ(found[i].name, listed[i].name);
        EXPECT_EQ(ranges(found[i]), listed[i].ranges) << found[i].name;
        EXPECT_EQ(found[i].holder, listed[i].holder) << found[i].name;
        EXPECT_NE(found[i].description.find(listed[i].description), std::string::npos)
            << found[i].name << ": " << found[i].description;
    }
}

// Who asks: each row's rights, and what each port's access says.
struct Rights {
    const char *who;
    bool rawio, ioperm, lp, portpanel;
    const char *policy; // the policy file, or null
    mode_t policyMode;
    bool ppdev;                                                // /dev/parportN present
    std::vector<std::pair<const char *, const char *>> access; // port name, words in its access
                                                               // ("!words": not in it)
    const char *lockdown = "";                                 // the level in force
    bool helperCapable = true;
    bool run = false;                   // portpanel-run installed with its capability
    const char *granted = nullptr;      // the ranges portpanel-run gave this process
    const char *lockdownParameter = ""; // on the kernel's command line
};

const char *const inUse = "refused: /dev/parport0 is in use by lp0; close the program";
const char *const joinPortpanel =
    "refused: join the portpanel group to let finder_test reach these "
    "ports: 'sudo adduser $USER portpanel', then log in again";
const char *const joinEither = "join the lp group to let finder_test reach these ports: 'sudo "
                               "adduser $USER lp', then log in again; or join the portpanel group";
const char *const locked = "the kernel is locked down (integrity), as Debian does when Secure "
                           "Boot is on";
const char *const secureBootOff =
    "refused: turn Secure Boot off in the firmware setup and reboot to "
    "let finder_test reach these ports; the kernel is locked down";

const Rights rights[] = {
    {"root",
     true,
     true,
     false,
     false,
     nullptr,
     0,
     true,
     {{"parport0", inUse},
      {"parport1", "root (ioperm)"},
      {"0000:00:04.0", "root (ioperm)"},
      {"parport2", "none: a USB parallel adapter"},
      {"/dev/usb/lp0", "none: a USB printer adapter takes print data only"}}},
    {"root on a kernel without ioperm",
     true,
     false,
     false,
     false,
     nullptr,
     0,
     true,
     {{"0000:00:07.0", "root (/dev/port)"}}},
    {"lp",
     false,
     true,
     true,
     false,
     nullptr,
     0,
     true,
     {{"parport0", inUse},
      {"parport1",
       "0xDC00-0xDC02: lp (/dev/parport1) | 0xDC03-0xDC07, 0xE000-0xE002: refused: join "
       "the portpanel group to let finder_test reach these ports"},
      {"parport1", "through the port helper; ioperm and /dev/port: not root (no CAP_SYS_RAWIO); "
                   "the parallel-port driver: the EPP and ECP registers"},
      {"parport1",
       "the port helper: /usr/libexec/portpanel/portpanel-helper cannot be run: Permission denied"},
      {"0000:00:06.0", "0xDC00-0xDC02: lp (/dev/parport1) | 0xDC03-0xDC07, 0xE000-0xE002: refused"},
      {"0000:00:06.0", "| 0xE003-0xE007: refused: join the portpanel group"},
      {"0000:00:06.0", "the parallel-port driver: not a register of a parallel port the kernel "
                       "manages"},
      {"0000:00:04.0", joinPortpanel}}},
    {"lp, ppdev not loaded",
     false,
     true,
     true,
     false,
     nullptr,
     0,
     false,
     {{"parport1", "/dev/parport1: No such file or directory (the ppdev module is not loaded: "
                   "'sudo modprobe ppdev')"},
      {"parport1",
       "0xDC00-0xDC02: refused: run 'sudo modprobe ppdev' to let finder_test reach "
       "these ports through the kernel's parallel-port driver; to load it at every start"}}},
    {"portpanel",
     false,
     true,
     false,
     true,
     nullptr,
     0,
     true,
     {{"parport0", inUse},
      {"parport1", "the helper (portpanel group)"},
      {"0000:00:04.0", "the helper (portpanel group)"},
      {"0000:00:07.0", "refused: ask an administrator to add 0xD000 to /etc/portpanel/ports to let "
                       "finder_test reach port 0xD000 through the portpanel group; the port "
                       "helper's policy does not open it"}}},
    {"portpanel, the card in the policy",
     false,
     true,
     false,
     true,
     "0xD000-0xD00F\n",
     0644,
     true,
     {{"0000:00:07.0", "the helper (portpanel group)"}}},
    {"portpanel, a policy others may write",
     false,
     true,
     false,
     true,
     "0xD000-0xD00F\n",
     0646,
     true,
     {{"0000:00:04.0", "the port helper: "},
      {"0000:00:04.0", "/etc/portpanel/ports is not trusted: its group or others may write it"}}},
    {"lp and portpanel",
     false,
     true,
     true,
     true,
     nullptr,
     0,
     true,
     {{"parport1",
       "0xDC00-0xDC02: lp (/dev/parport1) | 0xDC03-0xDC07, 0xE000-0xE002: the helper"}}},
    {"neither",
     false,
     true,
     false,
     false,
     nullptr,
     0,
     true,
     {{"parport1", "/dev/parport1: Permission denied"},
      {"parport1", joinEither},
      {"0000:00:04.0", "not a register of a parallel port the kernel manages"},
      {"0000:00:04.0", joinPortpanel}}},
    {"lp on a kernel with no user-space port access",
     false,
     false,
     true,
     false,
     nullptr,
     0,
     false,
     {{"0000:00:04.0", "refused: start finder_test on a kernel built with "
                       "CONFIG_X86_IOPL_IOPERM=y"}}},
    {"portpanel, the helper's file without its capability",
     false,
     true,
     false,
     true,
     nullptr,
     0,
     true,
     {{"0000:00:04.0",
       "refused: run 'sudo dpkg-reconfigure portpanel', then start finder_test "
       "again to reach these ports; the port helper's file has lost its capability"},
      {"0000:00:04.0", "its file lacks cap_sys_rawio (security.capability)"}},
     "",
     false},
    // Locked down: no root route and no helper; the driver for whoever may open it.
    {"root, locked down",
     true,
     true,
     true,
     true,
     nullptr,
     0,
     true,
     {{"parport1", "0xDC00-0xDC02: lp (/dev/parport1) | 0xDC03-0xDC07, 0xE000-0xE002: "},
      {"parport1", locked},
      {"0000:00:04.0", secureBootOff},
      {"0000:00:04.0", "!root ("},
      {"0000:00:04.0", "!the helper ("}},
     "integrity"},
    {"portpanel, locked down",
     false,
     true,
     false,
     true,
     nullptr,
     0,
     true,
     {{"parport1", "0xDC00-0xDC02: refused: join the lp group to let finder_test reach these "
                   "ports: 'sudo adduser $USER lp', then log in again; the kernel is locked down "
                   "(integrity)"},
      {"parport1", "the port helper: not started"},
      {"parport1", "!portpanel group ('sudo"},
      {"0000:00:07.0", secureBootOff}},
     "integrity"},
    {"neither, locked down",
     false,
     true,
     false,
     false,
     nullptr,
     0,
     true,
     {{"parport1", "join the lp group"},
      {"parport1", "!portpanel group ('sudo"},
      {"0000:00:04.0", secureBootOff},
      {"0000:00:04.0", "or run 'sudo mokutil --disable-validation' and choose a password; at the "
                       "next boot MokManager asks for characters of it"}},
     "confidentiality"},
    {"neither, locked down by the kernel's command line",
     false,
     true,
     false,
     false,
     nullptr,
     0,
     true,
     {{"0000:00:04.0", "refused: remove lockdown=integrity from the kernel's command line and "
                       "reboot to let finder_test reach these ports; the kernel is locked down "
                       "(integrity) by lockdown=integrity on its command line (/proc/cmdline)"},
      {"0000:00:04.0", "!Secure Boot"},
      {"0000:00:04.0", "!mokutil"}},
     "integrity",
     true,
     false,
     nullptr,
     "lockdown=integrity"},
    {"lp, locked down",
     false,
     true,
     true,
     false,
     nullptr,
     0,
     true,
     {{"parport1", "0xDC00-0xDC02: lp (/dev/parport1)"}, {"0000:00:04.0", secureBootOff}},
     "integrity"},
    {"portpanel, under portpanel-run",
     false,
     true,
     false,
     true,
     nullptr,
     0,
     true,
     {{"parport0", inUse},
      {"parport1", "0xDC00-0xDC07: portpanel-run (ioperm) | 0xE000-0xE002: the helper "
                   "(portpanel group); portpanel-run gives ioperm"},
      {"0000:00:04.0", "the helper (portpanel group); portpanel-run gives ioperm"},
      {"0000:00:04.0", "!portpanel-run (ioperm)"}},
     "",
     true,
     true,
     "0x378-0x37F,0xDC00-0xDC07"},
};

finder::onlinux::System systemFor(const Tree &tree, const Rights &row)
{
    const std::string root = tree.root;
    if (!row.ppdev)
        for (const char *device : {"dev/parport0", "dev/parport1", "dev/parport2"})
            std::filesystem::remove(tree.root / device);
    if (row.policy) {
        writeFile(tree.root / "etc/portpanel/ports", row.policy);
        chmod((tree.root / "etc/portpanel/ports").c_str(), row.policyMode);
    }
    if (!row.ioperm) // nor /dev/port, for the row that has no root
        writeFile(tree.root / "dev/port", "");
    if (!row.ioperm && !row.rawio)
        std::filesystem::remove(tree.root / "dev/port");
    const auto may = [row, root](const std::string &path, int mode) {
        const bool device = path.starts_with(root + "/dev/parport");
        const bool helper = path == root + "/usr/libexec/portpanel/portpanel-helper" ||
                            path == root + "/usr/bin/portpanel-run";
        return access(path.c_str(), F_OK) == 0 && ((device && row.lp && mode == (R_OK | W_OK)) ||
                                                   (helper && row.portpanel && mode == X_OK));
    };
    if (row.run)
        writeFile(tree.root / "usr/bin/portpanel-run", "");
    const std::string granted = std::string("1:") + (row.granted ? row.granted : "");
    return {root,
            {row.rawio, row.ioperm, may, row.lp},
            root + "/usr/libexec/portpanel/portpanel-helper",
            "/etc/portpanel/ports",
            getuid(),
            row.lockdown,
            row.helperCapable,
            row.run ? root + "/usr/bin/portpanel-run" : "",
            [granted](std::uint16_t port) { return granted::covers(granted, "1 ", port); },
            row.lockdownParameter};
}

TEST(PortFinder, SaysTheRouteEachUserGets)
{
    for (const Rights &row : rights) {
        const Tree tree;
        const std::vector<finder::FoundPort> found = finder::onlinux::find(systemFor(tree, row));
        for (const auto &[name, words] : row.access) {
            const auto port = std::ranges::find(found, std::string(name), &finder::FoundPort::name);
            ASSERT_NE(port, found.end()) << row.who << ": " << name << " not listed";
            const bool absent = *words == '!';
            EXPECT_EQ(port->access.find(words + absent) == std::string::npos, absent)
                << row.who << ", " << name << ": expected \"" << words << "\" in: " << port->access;
        }
    }
}

// What the self-test reads of a port from the kernel's files, by its base:
// modes, irq ("-1" is none), whether its ECP block is at base + 0x400, and the
// interrupts of its line in /proc/interrupts summed over the processors.
TEST(SelfTest, ReadsTheKernelsFilesOfThePortAtItsBase)
{
    const Tree tree;
    writeFile(tree.root / "proc/interrupts",
              "           CPU0       CPU1\n"
              "  1:          9          0   IO-APIC   1-edge      i8042\n"
              "  7:         12         30   IO-APIC   7-edge      parport0\n"
              "NMI:          0          0   Non-maskable interrupts\n");
    const struct {
        std::uint16_t base;
        const char *name, *modes, *irq;
        bool ecpListed;
        std::optional<long long> interrupts;
    } rows[] = {
        {0x378, "parport0", "PCSPP,TRISTATE,COMPAT,EPP,ECP", "7", true, 42},
        {0xDC00, "parport1", "PCSPP,TRISTATE", "none", true, std::nullopt},
        {0x3BC, "parport3", "PCSPP", "5", false, std::nullopt},
        {0x278, "", "", "", false, std::nullopt}, // not the kernel's
    };
    for (const auto &row : rows) {
        const selftest::KernelPort port = selftest::kernelPort(tree.root.string(), row.base);
        EXPECT_EQ(port.known, *row.name != 0) << row.base;
        EXPECT_EQ(port.name, row.name);
        EXPECT_EQ(port.modes, row.modes);
        EXPECT_EQ(port.irq, row.irq);
        EXPECT_EQ(port.ecpListed, row.ecpListed) << row.name;
        EXPECT_EQ(selftest::interruptCount(tree.root.string(), port.name), row.interrupts)
            << row.name;
    }
}

// The ECP register's mode field (bits 7-5), and a register that is not there.
TEST(SelfTest, NamesTheEcpRegistersMode)
{
    for (const auto &[ecr, words] :
         {std::pair{0x15, "ECP register 0x15: SPP (standard) mode"},
          std::pair{0x35, "ECP register 0x35: PS/2 (bidirectional) mode"},
          std::pair{0x75, "ECP register 0x75: ECP mode"},
          std::pair{0x94, "ECP register 0x94: EPP mode"},
          std::pair{0xFF, "base + 0x402 reads 0xFF: no ECP register"},
          std::pair{0x37, "base + 0x402 reads 0x37: no ECP register"}})
        EXPECT_EQ(selftest::ecpModeText(static_cast<std::uint8_t>(ecr)), words);
}

// The lockdown file as the kernel writes it, and as it may be missing or unreadable.
TEST(PortFinder, ReadsTheLockdownLevel)
{
    const Tree tree;
    const std::filesystem::path file = tree.root / "lockdown";
    for (const auto &[text, level] :
         {std::pair{"none [integrity] confidentiality\n", "integrity"},
          std::pair{"[none] integrity confidentiality\n", "none"},
          std::pair{"none integrity [confidentiality]\n", "confidentiality"}, std::pair{"", ""},
          std::pair{"none integrity confidentiality\n", ""}}) {
        writeFile(file, text);
        EXPECT_EQ(privilege::lockdownLevel(file), level) << text;
    }
    EXPECT_EQ(privilege::lockdownLevel(tree.root / "missing"), "");
    EXPECT_EQ(privilege::lockdownLevel(tree.root / "sys"), "") << "a file that cannot be read";
    EXPECT_FALSE(privilege::lockedDown("none"));
    EXPECT_FALSE(privilege::lockedDown(""));
    EXPECT_TRUE(privilege::lockedDown("confidentiality"));
    // What locked it: a parameter on the kernel's command line, or else Secure Boot.
    for (const auto &[line, parameter] :
         {std::pair{"BOOT_IMAGE=/vmlinuz root=/dev/sda1 lockdown=integrity quiet\n",
                    "lockdown=integrity"},
          std::pair{"console=ttyS0 nolockdown=1 lockdown\n", ""}, std::pair{"", ""}}) {
        writeFile(file, line);
        EXPECT_EQ(privilege::lockdownParameter(file), parameter) << line;
    }
    EXPECT_EQ(privilege::lockdownParameter(tree.root / "missing"), "");
}

// Each refusal as its program prints it: the first line is one instruction, at
// most 200 characters, that names the program and the port; why, and the
// other routes, follow on lines of their own.
TEST(Refusals, StartWithWhatToDo)
{
    using advice::Helper;
    const std::string policy = "/etc/portpanel/ports";
    const auto refused = [&policy](advice::Situation situation, const char *what) {
        situation.program = "portpanel-io";
        situation.everyPort = std::string(what) == "the I/O ports";
        return "portpanel-io: Error 5: " + advice::lines(advice::action(situation, what, policy));
    };
    const advice::Situation neither{"", "", "", false, false, false, false, Helper::NotRun};
    advice::Situation parallel = neither, secureBoot = neither, byParameter = neither;
    parallel.parallelRegister = true;
    secureBoot.lockdown = byParameter.lockdown = "integrity";
    byParameter.lockdownParameter = "lockdown=integrity";
    advice::Situation lockedParallel = secureBoot, lacking = neither, inLp = parallel;
    lockedParallel.parallelRegister = true;
    lacking.helper = Helper::LacksCapability;
    inLp.inLp = true, inLp.driverNotLoaded = true;
    const char *const file = "/usr/bin/portpanel-io";
    struct Row {
        const char *name;
        std::string text;
        std::vector<const char *> words; // in the lines after the first
    };
    const Row rows[] = {
        {"neither group, a parallel port", refused(parallel, "port 0x0378"), {"portpanel group"}},
        {"neither group, another port", refused(neither, "port 0x0300"), {policy.c_str()}},
        {"neither group, before any port", refused(parallel, "the I/O ports"), {"lp group opens"}},
        {"locked by Secure Boot", refused(secureBoot, "port 0x0300"), {"mokutil", "MokManager"}},
        {"locked by lockdown=", refused(byParameter, "port 0x0300"), {"update-grub"}},
        {"locked, the driver's port",
         refused(lockedParallel, "the I/O ports"),
         {"locked down", "MokManager"}},
        {"the helper's file without its capability", refused(lacking, "port 0x0300"), {"lost"}},
        {"lp, ppdev not loaded", refused(inLp, "port 0x0378"), {"/etc/modules"}},
        {"the helper's policy",
         "portpanel-io: Error 5: " + advice::notInPolicy(0x80, policy, "portpanel-io"),
         {"as open to the group as to root"}},
        {"portpanel-run, locked by Secure Boot",
         "portpanel-run: " + advice::lines(advice::unlock({"portpanel-run", "integrity", ""},
                                                          "the portpanel group's "
                                                          "ports")),
         {"MokManager"}},
        {"portpanel-run under no_new_privs",
         "portpanel-run: " +
             advice::launcherRefused(privilege::WithoutRawio::NoNewPrivileges, EPERM, "none"),
         {"setpriv --no-new-privs"}},
        {"error 10",
         "portpanel-io: Error 10: " + runtime::privilegeRefusal("portpanel-io", file),
         {"load their own code", "then log in again"}},
    };
    const std::string verbs[] = {"join ", "run ", "turn ", "remove ", "start ", "ask ", "look "};
    for (const Row &row : rows) {
        const std::string first = row.text.substr(0, row.text.find('\n'));
        const std::string action =
            first.substr(first.find(": Error ") + 2)
                .substr(first.substr(first.find(": Error ") + 2).find(": ") + 2);
        EXPECT_LE(first.size(), 200U) << row.name << ": " << first;
        EXPECT_TRUE(std::ranges::any_of(
            verbs, [&action](const std::string &verb) { return action.starts_with(verb); }))
            << row.name << ": not an instruction: " << first;
        const std::string program = first.substr(0, first.find(':'));
        EXPECT_NE(action.find(program), std::string::npos) << row.name << ": " << first;
        EXPECT_TRUE(action.find("port 0x") != std::string::npos ||
                    action.find("ports") != std::string::npos ||
                    action.find(file) != std::string::npos)
            << row.name << ": names no port: " << first;
        EXPECT_EQ(first.find("; "), std::string::npos) << row.name << ": more than one: " << first;
        for (const char *words : row.words)
            EXPECT_NE(row.text.find(words, first.size()), std::string::npos)
                << row.name << ": \"" << words << "\" not below the first line: " << row.text;
    }
    EXPECT_EQ(refused(byParameter, "port 0x0300").find("Secure Boot"), std::string::npos);
}

// security.capability's bytes: revision and effective flag, then each
// 32 capabilities' permitted and inheritable sets; cap_sys_rawio is bit 17.
TEST(PortFinder, ReadsTheHelpersCapability)
{
    struct Attribute {
        const char *what;
        std::vector<unsigned char> bytes;
        bool grants;
    };
    const Attribute attributes[] = {
        {"revision 2, effective, rawio",
         {1, 0, 0, 2, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         true},
        {"revision 3 (a namespace's root)",
         {1, 0, 0, 3, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         true},
        {"not effective", {0, 0, 0, 2, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, false},
        {"another capability", {1, 0, 0, 2, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, false},
        {"rawio only inheritable",
         {1, 0, 0, 2, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         false},
        {"cut short", {1, 0, 0, 2, 0, 0, 2}, false},
        {"unknown revision", {1, 0, 0, 9, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, false},
    };
    for (const Attribute &attribute : attributes)
        EXPECT_EQ(privilege::grantsRawio(attribute.bytes.data(), attribute.bytes.size()),
                  attribute.grants)
            << attribute.what;
}

#endif

// Recorded answers of SetupAPI and the configuration manager for the Ports
// class, and what each becomes.
using finder::onwindows::DeviceAnswer;
using finder::onwindows::LibraryAnswer;
const LibraryAnswer found64{"C:\\portpanel\\inpout32.dll", 64, ""};
const LibraryAnswer none{"", 0, "cannot load the port library inpout32.dll (Windows error 126)"};

struct Recorded {
    DeviceAnswer device;
    LibraryAnswer library;
    const char *name, *ranges, *description, *access;
};

const Recorded recorded[] = {
    {{"ACPI\\PNP0401\\4&25EE97C0&0",
      "ECP Printer Port (LPT1)",
      "LPT1",
      "Parport",
      0,
      true,
      {{0x378, 0x37F, 1}, {0x778, 0x77A, 1}}},
     found64,
     "LPT1",
     "0378-037F 0778-077A",
     "ECP Printer Port (LPT1), ACPI PNP0401, driver Parport",
     "inpout32.dll: C:\\portpanel\\inpout32.dll (64-bit)"},
    {{"PCI\\VEN_1C00&DEV_3050&SUBSYS_30501C00&REV_02\\4&1F7E8A3&0&00E4",
      "PCI ECP Parallel Port (LPT3)",
      "LPT3",
      "Parport",
      0,
      true,
      {{0xE010, 0xE017, 1}, {0xE000, 0xE003, 1}, {0xF7D00000, 0xF7D00FFF, 0}}},
     none,
     "LPT3",
     "E010-E017 E000-E003",
     "PCI 1C00:3050, driver Parport; memory-mapped registers at 0xF7D00000-0xF7D00FFF, not I/O",
     "refused: cannot load the port library inpout32.dll (Windows error 126)"},
    {{"USB\\VID_067B&PID_2303\\5&1A2B3C4D&0&2",
      "Prolific USB-to-Serial Comm Port (COM5)",
      "COM5",
      "Ser2pl",
      0,
      true,
      {}},
     found64,
     "COM5",
     "",
     "USB 067B:2303, driver Ser2pl",
     "none: no I/O ports (a USB adapter"},
    {{"ACPI\\PNP0501\\1",
      "Communications Port (COM1)",
      "COM1",
      "Serial",
      22,
      false,
      {{0x3F8, 0x3FF, 1}}},
     found64,
     "COM1",
     "03F8-03FF",
     "problem 22: disabled in Device Manager, ranges as the firmware set them",
     "inpout32.dll"},
    {{"PCI\\VEN_9710&DEV_9865\\3&11583659&0&48", "", "", "", 28, true, {{0x1D000, 0x1D007, 1}}},
     none,
     "PCI\\VEN_9710&DEV_9865\\3&11583659&0&48",
     "",
     "PCI 9710:9865, driver none, problem 28: no driver installed; an I/O range 0x1D000-0x1D007 "
     "beyond the 16-bit port space",
     "none: no I/O ports"},
};

TEST(PortFinder, TurnsConfigurationManagerAnswersIntoPorts)
{
    for (const Recorded &row : recorded) {
        const std::vector<finder::FoundPort> found =
            finder::onwindows::describe({row.device}, row.library);
        ASSERT_EQ(found.size(), 2U);
        EXPECT_EQ(found[0].kind, "ports-class");
        EXPECT_EQ(found[0].name, row.name);
        EXPECT_EQ(ranges(found[0]), row.ranges) << row.name;
        EXPECT_NE(found[0].description.find(row.description), std::string::npos)
            << row.name << ": " << found[0].description;
        EXPECT_NE(found[0].access.find(row.access), std::string::npos)
            << row.name << ": " << found[0].access;
        EXPECT_EQ(found[1].kind, "library");
        EXPECT_EQ(found[1].access.find(row.library.path.empty() ? "refused: cannot load"
                                                                : "inpout32.dll: C:\\"),
                  0U)
            << found[1].access;
    }
}

// Recorded registry states: what memory integrity and the driver blocklist
// mean for a port DLL, and nothing where the values are absent.
TEST(PortFinder, SaysWhatMemoryIntegrityMeans)
{
    struct State {
        finder::onwindows::RegistryAnswer registry;
        const char *integrity, *blocklist, *line;
    };
    for (const State &row : {
             State{{-1, -1}, "", "", ""},
             State{{0, 0}, "off", "off", ""},
             State{
                 {1, -1}, "on", "", "memory integrity (hypervisor-protected code integrity) is on"},
             State{{0, 1}, "off", "on", "the vulnerable-driver blocklist is on"},
             State{{1, 1}, "on", "on", "and the vulnerable-driver blocklist are on: Windows may"},
         }) {
        const finder::Restrictions found = finder::onwindows::restrictions(row.registry);
        EXPECT_EQ(found.memoryIntegrity, row.integrity);
        EXPECT_EQ(found.driverBlocklist, row.blocklist);
        EXPECT_EQ(found.line.empty(), !*row.line) << found.line;
        EXPECT_NE(found.line.find(row.line), std::string::npos) << found.line;
    }
}

#ifdef _WIN32
// Under wine: the Ports class as wine has it, and the binder's DLL beside
// the test program, or none.
std::vector<finder::FoundPort> foundHere()
{
    const std::vector<finder::FoundPort> found = finder::findPorts();
    EXPECT_FALSE(found.empty());
    for (std::size_t i = 0; i + 1 < found.size(); ++i)
        EXPECT_EQ(found[i].kind, "ports-class") << found[i].name;
    return found;
}

TEST(WindowsFinder, LibraryBesideTheProgram)
{
    const finder::FoundPort library = foundHere().back();
    wchar_t program[MAX_PATH];
    std::wstring beside(program, GetModuleFileNameW(nullptr, program, MAX_PATH));
    beside = beside.substr(0, beside.rfind(L'\\') + 1) + L"inpout32.dll";
    EXPECT_EQ(library.kind, "library");
    EXPECT_EQ(library.name, runtime::utf8(beside));
    EXPECT_EQ(library.description.find(std::to_string(sizeof(void *) * 8) + "-bit"), 0U)
        << library.description;
}

// The registry values set as an administrator would, read back as the finder
// reads them; removed afterwards, as wine's prefix lacks them. Through the
// registry's own calls: reg.exe's redirection to NUL is refused now and then
// under wine, which left the values unset.
TEST(WindowsFinder, MemoryIntegrityAsTheRegistrySays)
{
    struct Value {
        const wchar_t *key, *name;
        DWORD data;
    };
    const Value values[] = {
        {L"SYSTEM\\CurrentControlSet\\Control\\DeviceGuard\\Scenarios\\"
         L"HypervisorEnforcedCodeIntegrity",
         L"Enabled", 1},
        {L"SYSTEM\\CurrentControlSet\\Control\\CI\\Config", L"VulnerableDriverBlocklistEnable", 0},
    };
    EXPECT_EQ(finder::findRestrictions().line, "") << "wine's prefix has neither value";
    for (const Value &value : values)
        ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, value.key, value.name, REG_DWORD, &value.data,
                                  sizeof value.data),
                  ERROR_SUCCESS)
            << value.name;
    const finder::Restrictions found = finder::findRestrictions();
    for (const Value &value : values)
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, value.key, value.name);
    EXPECT_EQ(found.memoryIntegrity, "on");
    EXPECT_EQ(found.driverBlocklist, "off");
    EXPECT_EQ(found.line.find("memory integrity (hypervisor-protected code integrity) is on"), 0U)
        << found.line;
    EXPECT_EQ(finder::findRestrictions().memoryIntegrity, "") << "the values removed";
}

TEST(WindowsFinder, NoLibrary)
{
    const finder::FoundPort library = foundHere().back();
    EXPECT_EQ(library.name, "inpout32.dll");
    EXPECT_EQ(library.access.find("refused: put inpout32.dll beside"), 0U) << library.access;
    EXPECT_NE(library.access.find("cannot load the port library inpout32.dll"), std::string::npos)
        << library.access;
}
#endif

} // namespace
