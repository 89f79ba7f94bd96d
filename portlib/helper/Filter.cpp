#include "Filter.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <vector>

namespace helper {
namespace {

// The calls' numbers: 64-bit and x32 (which sets this bit), and i386.
constexpr unsigned x32Bit = 0x40000000;
constexpr unsigned iopermNr = 173, ioplNr = 172, iopermNr32 = 101, ioplNr32 = 110;

constexpr unsigned allow = SECCOMP_RET_ALLOW;
constexpr unsigned success = SECCOMP_RET_ERRNO; // errno 0: the call returns 0 without running
constexpr unsigned eperm = SECCOMP_RET_ERRNO | EPERM;
constexpr unsigned einval = SECCOMP_RET_ERRNO | EINVAL;

constexpr unsigned argLow(unsigned n)
{
    return static_cast<unsigned>(offsetof(seccomp_data, args)) + 8U * n;
}
constexpr unsigned argHigh(unsigned n) { return argLow(n) + 4; }

sock_filter load(unsigned offset) { return BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offset); }
sock_filter answer(unsigned action) { return BPF_STMT(BPF_RET | BPF_K, action); }
sock_filter jump(unsigned op, unsigned value, unsigned char ifTrue, unsigned char ifFalse)
{
    return BPF_JUMP(BPF_JMP | op | BPF_K, value, ifTrue, ifFalse);
}

// Which call it is; ioperm goes on at ioperm, iopl at ioperm - 4. Jumps
// count from the next instruction.
std::vector<sock_filter> dispatch()
{
    return {
        load(offsetof(seccomp_data, arch)),
        jump(BPF_JEQ, AUDIT_ARCH_X86_64, 0, 5),
        load(offsetof(seccomp_data, nr)),
        BPF_STMT(BPF_ALU | BPF_AND | BPF_K, ~x32Bit),
        jump(BPF_JEQ, iopermNr, 11, 0),
        jump(BPF_JEQ, ioplNr, 6, 0),
        answer(allow),
        jump(BPF_JEQ, AUDIT_ARCH_I386, 0, 3),
        load(offsetof(seccomp_data, nr)),
        jump(BPF_JEQ, iopermNr32, 6, 0),
        jump(BPF_JEQ, ioplNr32, 1, 0),
        answer(allow),
    };
}

// iopl(0) lowers nothing the program holds: the kernel answers it.
std::vector<sock_filter> iopl(bool succeeds)
{
    return {load(argLow(0)), jump(BPF_JEQ, 0, 0, 1), answer(allow),
            answer(succeeds ? success : eperm)};
}

// Answers action where A op value holds; goes on otherwise.
void answerIf(std::vector<sock_filter> &code, unsigned op, unsigned value, unsigned action)
{
    code.insert(code.end(), {jump(op, value, 0, 1), answer(action)});
}

// ioperm(from, num, on): a give-back succeeds; [from, from + num) must lie in
// one granted range. Scratch: 0 from, 1 from + num; X num.
std::vector<sock_filter> ioperm(const PortSet &granted)
{
    const auto ports = static_cast<unsigned>(granted.size());
    std::vector<sock_filter> code = {load(argLow(2))};
    answerIf(code, BPF_JEQ, 0, success);
    for (const unsigned high : {argHigh(0), argHigh(1)}) {
        code.push_back(load(high));
        answerIf(code, BPF_JGT, 0, eperm);
    }
    code.push_back(load(argLow(1)));
    answerIf(code, BPF_JEQ, 0, einval);
    answerIf(code, BPF_JGT, ports, eperm);
    code.insert(code.end(), {BPF_STMT(BPF_MISC | BPF_TAX, 0), load(argLow(0))});
    answerIf(code, BPF_JGT, ports - 1, eperm);
    code.insert(code.end(),
                {BPF_STMT(BPF_ST, 0), BPF_STMT(BPF_ALU | BPF_ADD | BPF_X, 0), BPF_STMT(BPF_ST, 1)});
    for (std::size_t first = 0; first < granted.size(); ++first) {
        if (!granted[first])
            continue;
        std::size_t last = first;
        while (last + 1 < granted.size() && granted[last + 1])
            ++last;
        const auto low = static_cast<unsigned>(first), high = static_cast<unsigned>(last);
        code.insert(code.end(), {BPF_STMT(BPF_LD | BPF_MEM, 0), jump(BPF_JGE, low, 0, 4),
                                 jump(BPF_JGT, high, 3, 0), BPF_STMT(BPF_LD | BPF_MEM, 1),
                                 jump(BPF_JGT, high + 1, 1, 0), answer(success)});
        first = last;
    }
    code.push_back(answer(eperm));
    return code;
}

} // namespace

std::string filterPortCalls(const PortSet &granted, bool ioplSucceeds)
{
    std::vector<sock_filter> code = dispatch();
    for (const auto &part : {iopl(ioplSucceeds), ioperm(granted)})
        code.insert(code.end(), part.begin(), part.end());
    if (code.size() > BPF_MAXINSNS)
        return "the policy lists more separate ranges than its system-call filter holds (" +
               std::to_string((BPF_MAXINSNS - 38) / 6) +
               "); join neighbouring ranges in the policy file, or start the program with "
               "--no-filter";
    const sock_fprog program{static_cast<unsigned short>(code.size()), code.data()};
    if (prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
        return std::string("installing its system-call filter: ") + std::strerror(errno);
    return {};
}

} // namespace helper
