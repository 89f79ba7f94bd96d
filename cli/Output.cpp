#include "Output.h"

#include "RuntimeError.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include "WideText.h"

#include <windows.h>
#include <winternl.h>
#else
#include <poll.h>
#include <unistd.h>
#endif

namespace cli {
namespace {

bool readerGone(int error)
{
#ifdef _WIN32
    // The C runtime reports a pipe without a reader as EINVAL or EPIPE.
    return error == EPIPE || error == EINVAL;
#else
    return error == EPIPE;
#endif
}

#ifdef _WIN32
// A console shows text in UTF-16 as typed; bytes would show in its OEM code page.
// False when the stream is not a console (a file, a pipe), which takes UTF-8.
bool toConsole(std::FILE *stream, const std::string &text)
{
    const HANDLE handle = GetStdHandle(stream == stdout ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(handle, &mode))
        return false;
    std::fflush(stream);
    const std::wstring wide = runtime::utf16(text);
    DWORD written = 0;
    WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return true;
}
#else
bool toConsole(std::FILE *, const std::string &) { return false; }
#endif

} // namespace

void complain(const std::string &text)
{
    const std::string line = "portpanel-io: " + text + (text.ends_with('\n') ? "" : "\n");
    if (toConsole(stderr, line)) // only on Windows, into a console
        return;
    std::fputs(line.c_str(), stderr);
}

void emit(const std::string &line)
{
    if (toConsole(stdout, line + "\n"))
        return;
    errno = 0;
    if (std::fputs(line.c_str(), stdout) >= 0 && std::fputc('\n', stdout) != EOF &&
        std::fflush(stdout) == 0)
        return;
    const int error = errno;
    std::clearerr(stdout);
    if (readerGone(error))
        throw OutputClosed{};
    throw runtime::RuntimeError(runtime::ErrorNumber::ControlFailed,
                                std::string("cannot write the standard output: ") +
                                    std::strerror(error));
}

#ifdef _WIN32
void checkReader()
{
    // A pipe whose reader has closed it is in the closing state. (Asked, not
    // written: a write of nothing would reach the reader as the end of the data.)
    // Wine's pipes answer too; a Unix pipe under wine does not, and shows only
    // at the next write.
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (GetFileType(output) != FILE_TYPE_PIPE)
        return;
    FILE_PIPE_LOCAL_INFORMATION pipe{};
    IO_STATUS_BLOCK status{};
    constexpr ULONG closing = 4; // FILE_PIPE_CLOSING_STATE
    if (NtQueryInformationFile(output, &status, &pipe, sizeof pipe, FilePipeLocalInformation) ==
            0 &&
        pipe.NamedPipeState == closing)
        throw OutputClosed{};
}
#else
void checkReader()
{
    // A pipe's write end reports POLLERR once no reader is left.
    pollfd output{STDOUT_FILENO, 0, 0};
    if (poll(&output, 1, 0) == 1 && (output.revents & POLLERR))
        throw OutputClosed{};
}
#endif

std::string accessText(std::uint16_t port, std::uint8_t value)
{
    char bits[9] = {};
    for (int i = 0; i < 8; ++i)
        bits[i] = (value & (0x80 >> i)) ? '1' : '0';
    char line[48];
    std::snprintf(line, sizeof line, "0x%04X = 0x%02X %u %s", static_cast<unsigned>(port),
                  static_cast<unsigned>(value), static_cast<unsigned>(value), bits);
    return line;
}

std::string jsonString(std::string_view text)
{
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + '"';
}

void JsonLine::key(std::string_view key)
{
    body_ += body_.empty() ? "{" : ",";
    body_ += jsonString(key) + ":";
}

JsonLine &JsonLine::number(std::string_view key, double value)
{
    this->key(key);
    char digits[32];
    if (value == std::floor(value) && std::fabs(value) < 1e15)
        std::snprintf(digits, sizeof digits, "%.0f", value);
    else
        std::snprintf(digits, sizeof digits, "%.4g", value);
    body_ += digits;
    return *this;
}

JsonLine &JsonLine::text(std::string_view key, std::string_view value)
{
    this->key(key);
    body_ += jsonString(value);
    return *this;
}

JsonLine &JsonLine::raw(std::string_view key, std::string_view json)
{
    this->key(key);
    body_ += json;
    return *this;
}

} // namespace cli
