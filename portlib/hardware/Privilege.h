#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// What the kernel lets a program do with ports beyond ordinary permissions:
// its lockdown level, and the capability a program file carries.
namespace privilege {

// The level in force that a lockdown file (/sys/kernel/security/lockdown)
// marks in brackets: "none", "integrity", "confidentiality"; empty where the
// file is missing, unreadable or marks none (securityfs not mounted, or a
// kernel without lockdown): then the level is not known.
std::string lockdownLevel(const std::string &file);

// A level that refuses ioperm, iopl and /dev/port to every program.
bool lockedDown(const std::string &level);

// Whether a security.capability attribute's bytes give the file's program
// cap_sys_rawio, effective from its start (as the helper needs: it never
// raises it itself).
bool grantsRawio(const unsigned char *attribute, std::size_t size);

// Whether the program at path starts with cap_sys_rawio: from its
// attribute, or as a setuid-root file.
bool fileGrantsRawio(const std::string &path);

// Whether this process holds cap_sys_rawio in its effective set.
bool holdsRawio();

// Why a program whose file carries cap_sys_rawio was started without it:
// the kernel gives a file's capability nothing under no_new_privs, on a
// nosuid mount, to a traced program, or in a user namespace of its own.
enum class WithoutRawio : std::uint8_t {
    Held,
    FileLacks,
    NoNewPrivileges,
    NosuidMount,
    Traced,
    UserNamespace,
    NotKnown,
};

// The first cause that holds for this process, started from path.
WithoutRawio whyWithoutRawio(const std::string &path);

// Whether this process is in the group of that name now.
bool inGroup(const char *name);

} // namespace privilege
