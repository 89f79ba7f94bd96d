#include "OutputFile.h"

#include "RuntimeError.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <utility>

#ifdef _WIN32
#include "SystemMessage.h"
#include "WideText.h"

#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <climits>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace runtime {
namespace {

// How long a window waits for a reader that takes nothing.
constexpr int readerPatienceMs = 5000;

// Built piecewise: GCC 12 -O3 warns wrongly on '"' + std::string.
std::string named(const std::string &path)
{
    std::string text(1, '"');
    text += path;
    text += '"';
    return text;
}

std::string reason(int error);

// The words from pieces (appended: GCC 12 -O3 warns wrongly on "..." + std::string).
[[noreturn]] void fail(std::initializer_list<std::string_view> pieces, int error = 0)
{
    std::string words;
    for (const std::string_view piece : pieces)
        words += piece;
    if (error)
        words.append(": ").append(reason(error));
    throw RuntimeError(ErrorNumber::ControlFailed, words);
}

struct Found {
    bool exists = false;
    bool folder = false;
    bool regular = false;
    unsigned mode = 0;
};

// The platform's side: what a path is, and the calls on descriptors.
#ifdef _WIN32

constexpr const char *separators = "\\/";
constexpr int standardOutput = 1;

// The Windows error behind the last failed call here, for Windows' own words.
thread_local DWORD windowsError = 0;

// After a call that failed (false): errno for the common code, and Windows' code.
bool failed(int error)
{
    windowsError = GetLastError();
    errno = error;
    return false;
}

std::string reason(int error)
{
    return windowsError ? systemMessage(std::exchange(windowsError, 0)) : std::strerror(error);
}

int processId() { return static_cast<int>(GetCurrentProcessId()); }

std::string followed(const std::string &path) { return path; }

std::string absolute(const std::string &path)
{
    const std::wstring wide = utf16(path);
    const DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr); // with its null
    std::wstring full(size, L'\0');
    if (size == 0 || GetFullPathNameW(wide.c_str(), size, full.data(), nullptr) != size - 1)
        return path;
    full.resize(size - 1);
    return utf8(full);
}

// Opened to ask what it is: with no access, which a program holding the file
// does not refuse; a console (CON) must be asked for writing.
HANDLE opened(const std::wstring &path)
{
    constexpr DWORD anyone = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE handle = CreateFileW(path.c_str(), 0, anyone, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr); // a folder too
    if (handle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_NOT_FOUND &&
        GetLastError() != ERROR_PATH_NOT_FOUND)
        handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    return handle;
}

// A device is what Windows names \\.\NAME: NUL, CON, COM1 (also as "nul.vcd"
// on Windows 10), or a pipe typed so; or anything else the file system does
// not hold. (Wine calls NUL a disk file.)
Found found(const std::string &path)
{
    if (absolute(path).starts_with("\\\\.\\"))
        return {true, false, false, 0};
    const HANDLE handle = opened(utf16(path));
    if (handle == INVALID_HANDLE_VALUE)
        return {};
    BY_HANDLE_FILE_INFORMATION information{};
    const bool disk = GetFileType(handle) == FILE_TYPE_DISK;
    const bool known = disk && GetFileInformationByHandle(handle, &information);
    CloseHandle(handle);
    const bool folder = known && (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return {true, folder, disk && !folder, 0};
}

int createExclusive(const std::string &name, unsigned)
{
    const int descriptor =
        _wopen(utf16(name).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
               _S_IREAD | _S_IWRITE);
    if (descriptor < 0)
        failed(errno);
    return descriptor;
}

int openExisting(const std::string &path)
{
    const int descriptor = _wopen(utf16(path).c_str(), _O_WRONLY | _O_BINARY | _O_NOINHERIT);
    if (descriptor < 0)
        failed(errno);
    return descriptor;
}

// Whether the file can be replaced now: not read-only, and not held by a
// program that shares it for reading only, as viewers and editors do, which
// would fail the rename once the whole capture is written.
bool canWrite(const std::string &path)
{
    const HANDLE handle = CreateFileW(utf16(path).c_str(), GENERIC_WRITE | DELETE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return failed(EACCES);
    CloseHandle(handle);
    return true;
}

void waitWhenReady(int) {}

bool renameOver(const std::string &from, const std::string &to)
{
    if (MoveFileExW(utf16(from).c_str(), utf16(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    failed(EACCES);
    return false;
}

void removeFile(const std::string &path) { _wremove(utf16(path).c_str()); }

long writeSome(int descriptor, const char *data, std::size_t size)
{
    const int written = _write(descriptor, data, static_cast<unsigned>(size));
    if (written < 0)
        failed(errno);
    return written;
}

// sync: the data on the disk first, for a file about to be renamed; a device
// (Windows cannot flush NUL, and wine refuses it) is only closed.
bool syncAndClose(int descriptor, bool sync)
{
    if (sync && _commit(descriptor) != 0) {
        failed(errno);
        _close(descriptor);
        return false;
    }
    if (_close(descriptor) == 0)
        return true;
    failed(errno);
    return false;
}

bool waitToWrite(int) { return false; }

#else

constexpr const char *separators = "/";

std::string reason(int error) { return std::strerror(error); }
constexpr int standardOutput = STDOUT_FILENO;

int processId() { return static_cast<int>(getpid()); }

// A symlink's target, link by link, also when the target does not exist yet.
std::string followed(std::string path)
{
    constexpr int mostLinks = 40; // as the kernel's own limit
    for (int links = 0; links < mostLinks; ++links) {
        struct stat status = {};
        if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode))
            return path;
        std::string link(PATH_MAX, '\0');
        const ssize_t length = readlink(path.c_str(), link.data(), link.size());
        if (length <= 0)
            return path;
        link.resize(static_cast<std::size_t>(length));
        const auto slash = path.rfind('/');
        if (link.front() == '/' || slash == std::string::npos)
            path = link;
        else
            path.erase(slash + 1).append(link); // relative to the link's folder
    }
    return path;
}

Found found(const std::string &path)
{
    struct stat status = {};
    if (stat(path.c_str(), &status) != 0)
        return {};
    return {true, S_ISDIR(status.st_mode), S_ISREG(status.st_mode), status.st_mode & 07777u};
}

int createExclusive(const std::string &name, unsigned mode)
{
    const int descriptor = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (descriptor >= 0 && mode != 0 && fchmod(descriptor, mode) != 0) {
        const int error = errno;
        close(descriptor);
        unlink(name.c_str());
        errno = error;
        return -1;
    }
    return descriptor;
}

// Without waiting: a FIFO that no program reads fails with ENXIO instead of
// blocking until one comes.
int openExisting(const std::string &path)
{
    return open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

bool canWrite(const std::string &path) { return access(path.c_str(), W_OK) == 0; }

// A command line program waits for its reader as any would.
void waitWhenReady(int descriptor)
{
    fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
}

bool renameOver(const std::string &from, const std::string &to)
{
    return std::rename(from.c_str(), to.c_str()) == 0;
}

void removeFile(const std::string &path) { unlink(path.c_str()); }

long writeSome(int descriptor, const char *data, std::size_t size)
{
    return ::write(descriptor, data, size);
}

// sync: the data on the disk before the rename makes it the user's file.
bool syncAndClose(int descriptor, bool sync)
{
    return ((sync ? fsync(descriptor) : 0) | close(descriptor)) == 0;
}

bool waitToWrite(int descriptor)
{
    pollfd writable{descriptor, POLLOUT, 0};
    return poll(&writable, 1, readerPatienceMs) == 1;
}

std::string absolute(const std::string &path)
{
    if (path.starts_with('/'))
        return path;
    std::string folder(PATH_MAX, '\0');
    if (!getcwd(folder.data(), folder.size()))
        return path;
    folder.resize(std::char_traits<char>::length(folder.c_str()));
    return folder + (folder.ends_with('/') ? "" : "/") + path;
}

#endif

std::string folderOf(const std::string &path)
{
    const auto slash = path.find_last_of(separators);
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

} // namespace

OutputFile::OutputFile(std::string path, Waiting waiting)
    : path_(std::move(path)), target_(followed(path_)), waiting_(waiting)
{
    if (path_.empty())
        fail({"name a file to write, or - for standard output"});
    if (isStandardOutput(path_)) {
        descriptor_ = standardOutput;
        return;
    }
    const Found what = found(target_);
    if (what.folder)
        fail({"cannot write ", named(path_), ": it is a folder; name a file in it"});
    if (what.exists && !what.regular)
        openInPlace(target_);
    else if (what.exists && !canWrite(target_))
        fail({"cannot write ", named(path_)}, errno);
    else
        openBeside(target_);
}

std::string OutputFile::fullPath(const std::string &path)
{
    return path.empty() || isStandardOutput(path) ? path : absolute(path);
}

bool OutputFile::replacesFile(const std::string &path)
{
    return !isStandardOutput(path) && found(followed(path)).regular;
}

OutputFile::~OutputFile()
{
    if (descriptor_ >= 0 && descriptor_ != standardOutput)
        syncAndClose(descriptor_, false);
    if (!done_ && !temporary_.empty())
        removeFile(temporary_);
}

void OutputFile::openInPlace(const std::string &target)
{
    descriptor_ = openExisting(target);
    if (descriptor_ < 0 && errno == ENXIO)
        fail({"cannot write ", named(path_), ": no program is reading it; start the reader first"});
    if (descriptor_ < 0)
        fail({"cannot write ", named(path_)}, errno);
    if (waiting_ == Waiting::Block)
        waitWhenReady(descriptor_);
}

// Under a name of this run's beside the target, created anew, so that no other
// run writes into it; the target's mode if it exists.
void OutputFile::openBeside(const std::string &target)
{
    const unsigned mode = found(target).mode;
    for (int attempt = 0; descriptor_ < 0; ++attempt) {
        temporary_ = target;
        temporary_.append(".partial-").append(std::to_string(processId()));
        if (attempt > 0)
            temporary_.append("-").append(std::to_string(attempt));
        descriptor_ = createExclusive(temporary_, mode);
        if (descriptor_ >= 0 || errno != EEXIST || attempt > 100)
            break;
    }
    if (descriptor_ >= 0)
        return;
    const int error = errno;
    temporary_.clear();
    const std::string folder = folderOf(target);
    if (error == ENOENT)
        fail({"cannot write ", named(path_), ": the folder ", named(folder), " does not exist"});
    fail({"cannot write ", named(path_), ": cannot create a file in the folder ", named(folder)},
         error);
}

void OutputFile::write(std::string_view bytes)
{
    while (!bytes.empty()) {
        const long written = writeSome(descriptor_, bytes.data(), bytes.size());
        if (written > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(written));
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && errno == EAGAIN && waitToWrite(descriptor_))
            continue;
        if (written < 0 && errno == EAGAIN)
            fail({"cannot write ", named(path_), ": its reader took nothing for ",
                  std::to_string(readerPatienceMs / 1000), " s"});
        fail({"cannot write ", named(writingTo())}, written < 0 ? errno : EIO);
    }
}

void OutputFile::commit()
{
    if (done_ || descriptor_ < 0)
        return;
    done_ = true;
    if (descriptor_ == standardOutput)
        return;
    const int descriptor = std::exchange(descriptor_, -1);
    if (!syncAndClose(descriptor, !temporary_.empty())) { // in place: a device, a FIFO
        done_ = false;
        fail({"cannot write ", named(writingTo())}, errno);
    }
    if (!temporary_.empty() && !renameOver(temporary_, target_))
        fail({"the whole file is kept in ", named(temporary_), ", which cannot be renamed to ",
              named(path_)},
             errno);
}

} // namespace runtime
